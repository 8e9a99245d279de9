// The spectral front end: a recursive radix-2 transform over split complex
// arrays, and the N-bin magnitude spectrum of a real frame.
//
// The transform deliberately keeps no twiddle table and no plan: every level
// takes four fresh zero-filled scratch buffers from the host's allocator and
// computes its twiddles from sine and cosine on the spot. The allocation
// sequence is visible to the host's tracker and stays exactly as it is; what
// is kept lean is everything around it.
#include <cstring>

#include "dsp/algorithm.h"
#include "frame/native_array.h"
#include "frame/simd.h"

namespace Orovox::OROVOX_SET {
namespace {

// -2*pi rounded to single precision; the angle is (k * this) / n, in that order.
constexpr float kMinusTwoPi = -6.2831855f;

// Splits 2*kLanes consecutive floats into their even and odd elements.
inline void Deinterleave(const float* p, float* even, float* odd) {
#if OROVOX_SET_AVX2
  const __m256 a = _mm256_loadu_ps(p);
  const __m256 b = _mm256_loadu_ps(p + 8);
  // The shuffle works within 128-bit halves; the permute puts the halves in order.
  const __m256 e = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
  const __m256 o = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
  _mm256_storeu_ps(even, _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(e), _MM_SHUFFLE(3, 1, 2, 0))));
  _mm256_storeu_ps(odd, _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(o), _MM_SHUFFLE(3, 1, 2, 0))));
#else
  const __m128 a = _mm_loadu_ps(p);
  const __m128 b = _mm_loadu_ps(p + 4);
  _mm_storeu_ps(even, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
  _mm_storeu_ps(odd, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
#endif
}

// One butterfly with its twiddle (cs, sn); products rounded one by one.
inline void Butterfly(float* re, float* im, int32_t k, int32_t c, const float* eRe, const float* eIm,
                      const float* oRe, const float* oIm, float cs, float sn) {
  const float tRe = oRe[k] * cs - oIm[k] * sn;
  const float tIm = oRe[k] * sn + oIm[k] * cs;
  re[k] = eRe[k] + tRe;
  im[k] = eIm[k] + tIm;
  re[k + c] = eRe[k] - tRe;
  im[k + c] = eIm[k] - tIm;
}

void Transform(float* re, float* im, int32_t n) {
  const int32_t c = n / 2;

  float* eRe = AllocateScratch<float>(c);
  float* eIm = AllocateScratch<float>(c);
  float* oRe = AllocateScratch<float>(c);
  float* oIm = AllocateScratch<float>(c);

  // Only 2c elements take part; for an odd n the last one stays as it is.
  int32_t k = 0;
  for (; k + simd::kLanes <= c; k += simd::kLanes) {
    Deinterleave(re + 2 * k, eRe + k, oRe + k);
    Deinterleave(im + 2 * k, eIm + k, oIm + k);
  }
  for (; k < c; ++k) {
    eRe[k] = re[2 * k];
    eIm[k] = im[2 * k];
    oRe[k] = re[2 * k + 1];
    oIm[k] = im[2 * k + 1];
  }

  // A length of 1 is left unchanged, so those calls are skipped.
  if (c >= 2) {
    Transform(eRe, eIm, c);
    Transform(oRe, oIm, c);
  }

  if (c == 1) {
    // k = 0 gives the angle (0 * -2pi) / n = -0, whose cosine is 1 and sine -0.
    Butterfly(re, im, 0, 1, eRe, eIm, oRe, oIm, 1.0f, -0.0f);
  } else {
    const simd::VF step = simd::Set(kMinusTwoPi);
    const simd::VF length = simd::Set(static_cast<float>(n));
    k = 0;
    for (; k + simd::kLanes <= c; k += simd::kLanes) {
      const simd::VF angle = simd::Div(simd::Mul(simd::Iota(k), step), length);
      const simd::VF cs = simd::Cos(angle);
      const simd::VF sn = simd::Sin(angle);
      const simd::VF xRe = simd::Load(oRe + k);
      const simd::VF xIm = simd::Load(oIm + k);
      const simd::VF tRe = simd::Sub(simd::Mul(xRe, cs), simd::Mul(xIm, sn));
      const simd::VF tIm = simd::Add(simd::Mul(xRe, sn), simd::Mul(xIm, cs));
      const simd::VF yRe = simd::Load(eRe + k);
      const simd::VF yIm = simd::Load(eIm + k);
      simd::Store(re + k, simd::Add(yRe, tRe));
      simd::Store(im + k, simd::Add(yIm, tIm));
      simd::Store(re + k + c, simd::Sub(yRe, tRe));
      simd::Store(im + k + c, simd::Sub(yIm, tIm));
    }
    if (k < c) {
      // The remainder's twiddles come from one vector call (lanes give the
      // scalar functions' bits); the butterflies then run one by one.
      alignas(32) float cs[simd::kLanes];
      alignas(32) float sn[simd::kLanes];
      const simd::VF angle = simd::Div(simd::Mul(simd::Iota(k), step), length);
      simd::Store(cs, simd::Cos(angle));
      simd::Store(sn, simd::Sin(angle));
      for (int32_t lane = 0; k < c; ++k, ++lane) Butterfly(re, im, k, c, eRe, eIm, oRe, oIm, cs[lane], sn[lane]);
    }
  }

  FreeScratch(eRe);
  FreeScratch(eIm);
  FreeScratch(oRe);
  FreeScratch(oIm);
}

}  // namespace

void Algorithm::_FFT(float* spectrumRe, float* spectrumIm, int32_t N) {
  if (N < 2) return;
  Transform(spectrumRe, spectrumIm, N);
}

void Algorithm::FastFourierTransform(float* spectrumRe, float* spectrumIm, int32_t N) {
  _FFT(spectrumRe, spectrumIm, N);
}

void Algorithm::MagnitudeSpectrum(const float* data, float* spectrum, int32_t N) {
  // A negative count is treated as an empty frame: the two scratch buffers
  // are still taken (with no bytes) but nothing is read or written.
  const int32_t n = N > 0 ? N : 0;
  float* re = AllocateScratch<float>(n);
  float* im = AllocateScratch<float>(n);

  if (n > 0) {
    // data may be spectrum itself: it is read whole before spectrum is written.
    std::memcpy(re, data, static_cast<size_t>(n) * sizeof(float));
    _FFT(re, im, n);

    int32_t i = 0;
    for (; i + simd::kLanes <= n; i += simd::kLanes) {
      const simd::VF a = simd::Load(re + i);
      const simd::VF b = simd::Load(im + i);
      simd::Store(spectrum + i, simd::Sqrt(simd::Add(simd::Mul(a, a), simd::Mul(b, b))));
    }
    for (; i < n; ++i) spectrum[i] = simd::Sqrt(re[i] * re[i] + im[i] * im[i]);
  }

  FreeScratch(re);
  FreeScratch(im);
}

}  // namespace Orovox::OROVOX_SET
