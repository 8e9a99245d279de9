// Plain scalar transcriptions of the kernels, the texture jobs and the whole
// analysis job: element by element, in the order the algorithms are written,
// every sum in one accumulator. They are the baselines the benchmarks divide
// by, so they stay as plain as the algorithms read: no blocking, no vectors
// (the benchmark target is built with -fno-tree-vectorize and
// -ffp-contract=off, so the compiler adds neither).
//
// Each function is a template over a math family M, the scalar SLEEF forms
// whose bits a variant set's vector lanes reproduce (MathSse2 for the SSE2
// set, MathAvx2 for the AVX2 set). Temporary memory goes through the host's
// tracked allocator exactly as the library's does (same count, same sizes,
// zero fill), so a speed-up measures the arithmetic, not a different
// allocator.
#pragma once

#include <immintrin.h>
#include <sleef.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "orovox/host.h"
#include "orovox/records.h"
#include "scalar_math.h"

namespace Orovox::Bench {

using ::Orovox::MathAvx2;
using ::Orovox::MathSse2;

namespace Reference {

// The processor's truncating conversion (NaN and out of range give INT32_MIN),
// as the library converts; a C++ cast would be undefined there.
inline int32_t Trunc(float x) { return _mm_cvttss_si32(_mm_set_ss(x)); }

inline float* Scratch(int64_t count) {
  const int64_t bytes = count * 4;
  auto* p = static_cast<float*>(Host::TrackedAllocator::Allocate(bytes, 4, kAllocatorTemp, 0));
  if (bytes > 0) std::memset(p, 0, static_cast<size_t>(bytes));
  return p;
}
inline float* ScratchCopy(const float* source, int64_t count) {
  auto* p = static_cast<float*>(Host::TrackedAllocator::Allocate(count * 4, 4, kAllocatorTemp, 0));
  if (count > 0) std::memcpy(p, source, static_cast<size_t>(count) * 4);
  return p;
}
inline void Release(void* p) {
  if (p != nullptr) Host::TrackedAllocator::Free(p, kAllocatorTemp);
}

// --- Spectrum -------------------------------------------------------------------
template <class M>
void FFT(float* re, float* im, int32_t N) {
  if (N < 2) return;
  const int32_t c = N / 2;
  float* evenRe = Scratch(c);
  float* evenIm = Scratch(c);
  float* oddRe = Scratch(c);
  float* oddIm = Scratch(c);
  for (int32_t k = 0; k < c; ++k) {
    evenRe[k] = re[2 * k];
    evenIm[k] = im[2 * k];
    oddRe[k] = re[2 * k + 1];
    oddIm[k] = im[2 * k + 1];
  }
  FFT<M>(evenRe, evenIm, c);
  FFT<M>(oddRe, oddIm, c);
  for (int32_t k = 0; k < c; ++k) {
    const float angle = (static_cast<float>(k) * -6.2831855f) / static_cast<float>(N);
    const float cs = M::Cos(angle), sn = M::Sin(angle);
    const float tRe = oddRe[k] * cs - oddIm[k] * sn;
    const float tIm = oddRe[k] * sn + oddIm[k] * cs;
    re[k] = evenRe[k] + tRe;
    im[k] = evenIm[k] + tIm;
    re[k + c] = evenRe[k] - tRe;
    im[k + c] = evenIm[k] - tIm;
  }
  Release(evenRe);
  Release(evenIm);
  Release(oddRe);
  Release(oddIm);
}

template <class M>
void MagnitudeSpectrum(const float* data, float* spectrum, int32_t N) {
  float* re = Scratch(N);
  float* im = Scratch(N);
  if (N != 0) {
    for (uint32_t i = 0; i < static_cast<uint32_t>(N); ++i) re[i] = data[i];
    FFT<M>(re, im, N);
    for (uint32_t i = 0; i < static_cast<uint32_t>(N); ++i) spectrum[i] = std::sqrt(re[i] * re[i] + im[i] * im[i]);
  }
  Release(re);
  Release(im);
}

// --- Mel analysis ------------------------------------------------------------------
template <class M>
float HertzToMel(bool flag, float frequency) {
  const float x = frequency / 700.0f + 1.0f;
  return flag ? 2595.0f * M::Log10(x) : 1127.0f * M::Log(x);
}

template <class M>
float MelToHertz(bool flag, float mel) {
  const float y = flag ? M::Pow(10.0f, mel / 2595.0f) : M::Exp(mel / 1127.0f);
  return (y - 1.0f) * 700.0f;
}

// The filter-bank channels, given the bin width the two forms derive differently.
template <class M>
void MelChannels(const float* spectrum, float* melSpectrum, uint32_t melDiv, float melMax, float binWidth) {
  const float melStep = melMax / static_cast<float>(melDiv + 1);
  for (uint32_t i = 0; i < melDiv; ++i) {
    const float fLow = (M::Exp((static_cast<float>(i) * melStep) / 1127.0f) - 1.0f) * 700.0f;
    const float fCentre = (M::Exp((static_cast<float>(i + 1) * melStep) / 1127.0f) - 1.0f) * 700.0f;
    const float fHigh = (M::Exp((static_cast<float>(i + 2) * melStep) / 1127.0f) - 1.0f) * 700.0f;
    const int32_t firstBin = Trunc(std::ceil(fLow / binWidth)) + 1;
    const int32_t centreBin = Trunc(std::rint(fCentre / binWidth));
    const int32_t lastBin = Trunc(std::floor(fHigh / binWidth));
    float sum = 0.0f;
    if (firstBin <= lastBin) {
      const float halfWidth = (fHigh - fLow) * 0.5f;
      const float rise = fCentre - fLow, fall = fHigh - fCentre;
      for (int32_t j = firstBin; j <= lastBin; ++j) {
        const float fj = static_cast<float>(j) * binWidth;
        const float weight = j < centreBin ? (fj - fLow) / rise : (fHigh - fj) / fall;
        sum = sum + (weight / halfWidth) * spectrum[j];
      }
    }
    melSpectrum[i] = sum;
  }
}

template <class M>
void MelFilterBank(const NativeArray<float>& spectrum, NativeArray<float>& melSpectrum, float sampleRate,
                   int32_t melDiv) {
  melSpectrum = {Scratch(melDiv), melDiv, kAllocatorTemp};
  const float nyquist = sampleRate * 0.5f;
  const float melMax = 1127.0f * M::Log(nyquist / 700.0f + 1.0f);
  if (melDiv == 0) return;
  const float binWidth = nyquist / static_cast<float>(static_cast<uint32_t>(spectrum.length) / 2u);
  MelChannels<M>(spectrum.elements, melSpectrum.elements, static_cast<uint32_t>(melDiv), melMax, binWidth);
}

template <class M>
void MelFilterBankDirect(const float* spectrum, float* melSpectrum, int32_t N, int32_t melDiv, float sampleRate) {
  if (melDiv <= 0) return;
  const float nyquist = sampleRate * 0.5f;
  const float melMax = 1127.0f * M::Log(nyquist / 700.0f + 1.0f);
  MelChannels<M>(spectrum, melSpectrum, static_cast<uint32_t>(melDiv), melMax, nyquist / static_cast<float>(N / 2));
}

template <class M>
void PowerToDecibel(float* data, int32_t length) {
  for (int32_t i = 0; i < length; ++i) data[i] = M::Log10(data[i]) * 10.0f;
}

template <class M>
void CosineTransform(const float* source, float* destination, int32_t N) {
  if (N <= 0) return;
  const float scale = 3.1415927f / static_cast<float>(N);
  for (int32_t i = 0; i < N; ++i) {
    const float fi = static_cast<float>(i);
    float sum = 0.0f;
    for (int32_t j = 0; j < N; ++j) {
      const float angle = ((static_cast<float>(j) + 0.5f) * fi) * scale;
      sum = sum + M::Cos(angle) * source[j];
    }
    destination[i] = sum;
  }
}

// --- Filtering and resampling ---------------------------------------------------------
template <class M>
void SincKernel(float* kernel, int32_t n, float fc) {
  const float half = static_cast<float>(n - 1) * 0.5f;
  const float w = 6.2831855f * fc;
  const float twoFc = fc + fc;
  for (int32_t i = 0; i < n; ++i) {
    const float x = (static_cast<float>(i) - half) * w;
    kernel[i] = (M::Sin(x) * twoFc) / x;
  }
}

inline void Accumulate(float* data, int32_t length, const float* s, const float* kernel, int32_t n) {
  for (int32_t i = 0; i < length; ++i)
    for (int32_t j = 0; j < n && j <= i; ++j) data[i] = (kernel[j] * s[i - j]) + data[i];
}

template <class M>
void LowPassFilterDirect(float* data, int32_t length, const float* input, float* kernel, int32_t kernelLength,
                         float normalizedCutoff) {
  if (kernelLength < 1) return;
  SincKernel<M>(kernel, kernelLength, normalizedCutoff);
  Accumulate(data, length, input, kernel, kernelLength);
}

// The tap count the array form derives: rint(3.1 / (range / rate)), made even.
inline int32_t LowPassTaps(float sampleRate, float range) {
  const int32_t m = Trunc(std::rint(3.1f / (range / sampleRate)));
  return (m % 2 != 0) ? m + 1 : m;
}

template <class M>
void LowPassFilter(NativeArray<float>& data, float sampleRate, float cutoff, float range) {
  float* copy = ScratchCopy(data.elements, data.length);
  const int32_t n = LowPassTaps(sampleRate, range);
  float* kernel = Scratch(n);
  if (n != 0) {
    SincKernel<M>(kernel, n, (cutoff - range) / sampleRate);
    Accumulate(data.elements, data.length, copy, kernel, n);
  }
  Release(copy);
  Release(kernel);
}

inline void ResampleLinear(const float* input, int32_t inputLength, float* output, int32_t outputLength, float ratio) {
  for (int32_t i = 0; i < outputLength; ++i) {
    const float pos = static_cast<float>(i) * ratio;
    const int32_t k = Trunc(std::floor(pos));
    const int32_t k1 = k + 1 < inputLength - 1 ? k + 1 : inputLength - 1;
    const float frac = pos - static_cast<float>(k);
    output[i] = ((input[k1] - input[k]) * frac) + input[k];
  }
}

inline void DownSample(const NativeArray<float>& input, NativeArray<float>& output, int32_t sampleRate,
                       int32_t targetSampleRate) {
  const int32_t L = input.length;
  if (sampleRate <= targetSampleRate) {
    output = {ScratchCopy(input.elements, L), L, kAllocatorTemp};
  } else if (sampleRate % targetSampleRate != 0) {
    const float r = static_cast<float>(sampleRate) / static_cast<float>(targetSampleRate);
    const int32_t n = Trunc(std::rint(static_cast<float>(L) / r));
    output = {Scratch(n), n, kAllocatorTemp};
    ResampleLinear(input.elements, L, output.elements, n, r);
  } else {
    const int32_t step = sampleRate / targetSampleRate;
    const int32_t n = L / step;
    output = {Scratch(n), n, kAllocatorTemp};
    for (int32_t i = 0; i < n; ++i) output.elements[i] = input.elements[i * step];
  }
}

// --- Frame conditioning and measures ----------------------------------------------------
inline void PreEmphasize(float* output, const float* input, int32_t length, float coefficient) {
  for (int32_t i = 1; i < length; ++i) output[i] = input[i] - (input[i - 1] * coefficient);
}

template <class M>
void ApplyHamming(float* data, int32_t length) {
  if (length <= 0) return;
  const float d = static_cast<float>(length - 1);
  for (int32_t i = 0; i < length; ++i) {
    const float phase = (static_cast<float>(i) / d) * 6.2831855f;
    const float w = (M::Cos(phase) * -0.46f) + 0.54f;
    data[i] = w * data[i];
  }
}

inline float PeakMagnitude(const float* data, int32_t length) {
  float peak = 0.0f;
  for (int32_t i = 0; i < length; ++i) {
    const float a = std::fabs(data[i]);
    if (a != a) continue;
    if (!(peak > a)) peak = a;
  }
  return peak;
}

inline void NormalizePeak(float* data, int32_t length, float target) {
  if (length <= 0) return;
  const float peak = PeakMagnitude(data, length);
  if (peak < 1.1920929e-7f) return;
  const float scale = target / peak;
  for (int32_t i = 0; i < length; ++i) data[i] = data[i] * scale;
}

inline float SumOfSquares(const float* data, int32_t length) {
  float sum = 0.0f;
  for (int32_t i = 0; i < length; ++i) sum = sum + (data[i] * data[i]);
  return sum;
}
inline float RootMeanSquare(const float* data, int32_t length) {
  return std::sqrt(SumOfSquares(data, length) / static_cast<float>(length));
}
inline float EuclideanNorm(const float* data, int32_t length) { return std::sqrt(SumOfSquares(data, length)); }

inline void UnrollRingBuffer(const float* ring, float* output, int32_t length, int32_t start) {
  for (int32_t i = 0; i < length; ++i) output[i] = ring[(start + i) % length];
}

inline void GatherStrided(const float* input, float* output, int32_t count, int32_t stride) {
  int32_t index = 0;
  for (int32_t i = 0; i < count; ++i, index += stride) std::memcpy(&output[i], &input[index], 4);
}

// --- Phoneme scoring and the analysis job ---------------------------------------------
template <class M>
float CalcScore(const LipSyncJob& job, int32_t index) {
  const int32_t m = job.mfccOut.length;
  const float* x = job.mfccOut.elements;
  const float* mu = job.coefficientMeans.elements;
  const float* sigma = job.coefficientDeviations.elements;
  const float* profile = job.phonemeProfiles.elements + static_cast<int64_t>(index) * m;
  const int32_t method = job.comparisonMethod;
  if (method < Manhattan || method > Cosine) return 0.0f;
  float d = 0.0f, p = 0.0f, a2 = 0.0f, b2 = 0.0f;
  for (int32_t i = 0; i < m; ++i) {
    const float a = (profile[i] - mu[i]) / sigma[i];
    const float b = (x[i] - mu[i]) / sigma[i];
    if (method == Manhattan) {
      d = d + std::fabs(b - a);
    } else if (method == Euclidean) {
      d = d + (b - a) * (b - a);
    } else {
      p = p + a * b;
      a2 = a2 + a * a;
      b2 = b2 + b * b;
    }
  }
  if (method == Manhattan) return M::Pow(10.0f, (-d) / static_cast<float>(m));
  if (method == Euclidean) return M::Pow(10.0f, -std::sqrt(d / static_cast<float>(m)));
  const float c = p / (std::sqrt(b2) * std::sqrt(a2));
  return M::Pow(c > 0.0f ? c : 0.0f, 100.0f);
}

template <class M>
int32_t ScorePhonemes(LipSyncJob& job) {
  const int32_t K = job.phonemeScores.length;
  if (K == 0) return -1;
  float* scores = job.phonemeScores.elements;
  float total = 0.0f;
  for (int32_t p = 0; p < K; ++p) {
    scores[p] = CalcScore<M>(job, p);
    total = total + scores[p];
  }
  for (int32_t p = 0; p < K; ++p) scores[p] = total > 0.0f ? scores[p] / total : 0.0f;
  float best = -1.0f;
  int32_t index = -1;
  for (int32_t p = 0; p < K; ++p) {
    if (scores[p] > best) {
      index = p;
      best = scores[p];
    }
  }
  return index;
}

template <class M>
void Execute(LipSyncJob& job) {
  const int32_t L = job.samples.length;
  const float* samples = job.samples.elements;
  const float e = SumOfSquares(samples, L);

  NativeArray<float> U{Scratch(L), L, kAllocatorTemp};
  UnrollRingBuffer(samples, U.elements, L, job.writePosition);
  LowPassFilter<M>(U, static_cast<float>(job.inputRate), static_cast<float>(job.analysisRate / 2), 500.0f);

  NativeArray<float> A{};
  DownSample(U, A, job.inputRate, job.analysisRate);
  const int32_t N = A.length;

  float* copy = ScratchCopy(A.elements, N);
  PreEmphasize(A.elements, copy, N, 0.97f);
  Release(copy);
  ApplyHamming<M>(A.elements, N);
  NormalizePeak(A.elements, N, 1.0f);

  NativeArray<float> S{Scratch(N), N, kAllocatorTemp};
  float* re = Scratch(N);
  float* im = Scratch(N);
  if (N > 0) std::memcpy(re, A.elements, static_cast<size_t>(N) * 4);
  FFT<M>(re, im, N);
  for (int32_t k = 0; k < N; ++k) S.elements[k] = std::sqrt(re[k] * re[k] + im[k] * im[k]);
  Release(re);
  Release(im);

  NativeArray<float> Mel{};
  MelFilterBank<M>(S, Mel, static_cast<float>(job.analysisRate), job.melChannelCount);
  PowerToDecibel<M>(Mel.elements, Mel.length);
  const int32_t C = Mel.length;
  float* Q = Scratch(C);
  CosineTransform<M>(Mel.elements, Q, C);
  for (int32_t i = 0; i < job.mfccOut.length; ++i) job.mfccOut.elements[i] = Q[i + 1];

  const float volume = std::sqrt(e / static_cast<float>(L));
  const int32_t main = ScorePhonemes<M>(job);
  job.summary.elements[0].volume = volume;
  job.summary.elements[0].mainPhonemeIndex = main;

  Release(U.elements);
  Release(A.elements);
  Release(S.elements);
  Release(Mel.elements);
  Release(Q);
}

// --- Texture jobs --------------------------------------------------------------------------
inline uint32_t ChannelByte(float x) {
  const float clamped = x < 0.0f ? 0.0f : (x > 1.0f ? 1.0f : x) * 255.0f;
  return static_cast<uint32_t>(Trunc(std::rint(clamped))) & 0xFFu;
}

template <class M>
void PaintHeatmap(const PaintHeatmapJob& job) {
  if (job.height <= 0 || job.width <= 0) return;
  const float range = job.maxValue - job.minValue;
  auto* pixels = reinterpret_cast<uint32_t*>(job.pixels.elements);
  for (int32_t y = 0; y < job.height; ++y) {
    for (int32_t x = 0; x < job.width; ++x) {
      const int32_t index = y * job.width + x;
      const float t = (job.values.elements[index] - job.minValue) / range;
      const float c = M::Cos(t * 3.1415927f);
      const float s = ((1.0f - ((1.0f - c) * 0.5f)) * 5.0f);
      const float m =
          std::fabs(s) < 2.0f ? s : static_cast<float>(double{s} - 2.0 * std::trunc(double{s} * 0.5));
      const float h = 1.0f - std::fabs(m - 1.0f);
      float r, g, b;
      if (s < 1.0f) {
        r = 1.0f, g = h, b = 0.0f;
      } else if (s < 2.0f) {
        r = h, g = 1.0f, b = 0.0f;
      } else if (s < 3.0f) {
        r = 0.0f, g = 1.0f, b = h;
      } else if (s < 4.0f) {
        r = 0.0f, g = h, b = 1.0f;
      } else {
        r = 0.5f * h, g = 0.0f, b = 0.5f;
      }
      pixels[index] = ChannelByte(r) | (ChannelByte(g) << 8) | (ChannelByte(b) << 16) | (255u << 24);
    }
  }
}

inline void PaintPhonemeBars(const PaintPhonemeBarsJob& job) {
  if (job.width <= 0 || job.height <= 0) return;
  const float half = static_cast<float>(job.height) * 0.5f;
  auto* pixels = reinterpret_cast<uint32_t*>(job.pixels.elements);
  const uint32_t colorCount = static_cast<uint32_t>(job.colors.length);
  float runR = 0.0f, runG = 0.0f, runB = 0.0f;
  for (int32_t c = 0; c < job.width; ++c) {
    float tr = 0.0f, tg = 0.0f, tb = 0.0f;
    for (int32_t j = 0; j < job.phonemeCount && colorCount > 0; ++j) {
      const float w = job.weights.elements[c * job.phonemeCount + j];
      const ColorEntry& k = job.colors.elements[static_cast<uint32_t>(j) % colorCount];
      tr = tr + w * k.r;
      tg = tg + w * k.g;
      tb = tb + w * k.b;
    }
    runR = runR + (tr - runR) * job.smoothing;
    runG = runG + (tg - runG) * job.smoothing;
    runB = runB + (tb - runB) * job.smoothing;
    const uint32_t rgb = ChannelByte(runR) | (ChannelByte(runG) << 8) | (ChannelByte(runB) << 16);
    const float level = job.levels.elements[c];
    for (int32_t r = 0; r < job.height; ++r) {
      const float d = (static_cast<float>(r) - half) / half;
      const uint32_t alpha = level < d * d ? 0u : 255u;
      pixels[r * job.width + c] = rgb | (alpha << 24);
    }
  }
}

}  // namespace Reference
}  // namespace Orovox::Bench
