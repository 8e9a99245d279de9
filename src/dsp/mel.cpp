// Mel analysis: the mel scale, the triangular filter bank, decibels and the
// unnormalised cosine transform that together turn a magnitude spectrum into
// cepstral coefficients.
#include <math.h>

#include "dsp/algorithm.h"
#include "frame/native_array.h"
#include "frame/simd.h"

namespace Orovox::OROVOX_SET {
namespace {

// The natural-log form of the scale, which the filter bank always uses.
inline float MelOf(float frequency) { return 1127.0f * simd::Log(frequency / 700.0f + 1.0f); }
inline float HertzOf(float mel) { return (simd::Exp(mel / 1127.0f) - 1.0f) * 700.0f; }

// The filter bank over bins of width binWidth; channel values go straight to
// melSpectrum. The +1 on the first bin is taken after the conversion so that
// a NaN or out-of-range quotient (INT32_MIN) still gives an empty range.
void FilterBank(const float* spectrum, float* melSpectrum, int32_t melDiv, float melMax, float binWidth) {
  // melDiv + 1 and i + 2 are formed in 64 bits so that no count overflows them.
  const float melStep = melMax / static_cast<float>(int64_t{melDiv} + 1);
  // Channel i's centre and upper corner are channel i+1's lower corner and
  // centre (same mel value, same bits), so each corner is computed once.
  float fLow = HertzOf(0.0f * melStep);
  float fCentre = HertzOf(1.0f * melStep);
  for (int32_t i = 0; i < melDiv; ++i) {
    const float fHigh = HertzOf(static_cast<float>(int64_t{i} + 2) * melStep);
    // The bin at or just above the lower corner is skipped; bin 0 never counts.
    const int32_t firstBin = simd::TruncToInt(ceilf(fLow / binWidth)) + 1;
    const int32_t centreBin = simd::TruncToInt(rintf(fCentre / binWidth));
    const int32_t lastBin = simd::TruncToInt(floorf(fHigh / binWidth));

    float sum = 0.0f;
    if (firstBin <= lastBin) {
      const float halfWidth = (fHigh - fLow) * 0.5f;
      const float rise = fCentre - fLow;
      const float fall = fHigh - fCentre;
      for (int32_t j = firstBin; j <= lastBin; ++j) {
        const float fj = static_cast<float>(j) * binWidth;
        // Sides are chosen by bin number: the centre bin is on the falling side.
        const float weight = j < centreBin ? (fj - fLow) / rise : (fHigh - fj) / fall;
        sum = sum + (weight / halfWidth) * spectrum[j];
      }
    }
    melSpectrum[i] = sum;

    fLow = fCentre;
    fCentre = fHigh;
  }
}

}  // namespace

float Algorithm::HertzToMel(bool flag, float frequency) {
  const float x = frequency / 700.0f + 1.0f;
  return flag ? 2595.0f * simd::Log10(x) : 1127.0f * simd::Log(x);
}

float Algorithm::MelToHertz(bool flag, float mel) {
  const float y = flag ? simd::Pow(10.0f, mel / 2595.0f) : simd::Exp(mel / 1127.0f);
  return (y - 1.0f) * 700.0f;
}

void Algorithm::MelFilterBank(const NativeArray<float>& spectrum, NativeArray<float>& melSpectrum, float sampleRate,
                              int32_t melDiv) {
  // A negative channel count would size the array negatively and run the
  // channel loop far past it; it gets an empty array, like a count of 0.
  const int32_t channels = melDiv > 0 ? melDiv : 0;
  melSpectrum = CreateTemporary<float>(channels);
  if (channels == 0) return;

  const float nyquist = sampleRate * 0.5f;
  // The array's length is halved as an unsigned count.
  const uint32_t halfBins = static_cast<uint32_t>(spectrum.length) / 2u;
  const float binWidth = nyquist / static_cast<float>(halfBins);
  FilterBank(spectrum.elements, melSpectrum.elements, channels, MelOf(nyquist), binWidth);
}

void Algorithm::MelFilterBankDirect(const float* spectrum, float* melSpectrum, int32_t N, int32_t melDiv,
                                    float sampleRate) {
  if (melDiv <= 0) return;
  const float nyquist = sampleRate * 0.5f;
  // A signed halving here: a negative N gives a negative width and empty ranges.
  const float binWidth = nyquist / static_cast<float>(N / 2);
  FilterBank(spectrum, melSpectrum, melDiv, MelOf(nyquist), binWidth);
}

void Algorithm::PowerToDecibel(float* data, int32_t length) {
  int32_t i = 0;
  const simd::VF ten = simd::Set(10.0f);
  for (; i + simd::kLanes <= length; i += simd::kLanes)
    simd::Store(data + i, simd::Mul(simd::Log10(simd::Load(data + i)), ten));
  for (; i < length; ++i) data[i] = simd::Log10(data[i]) * 10.0f;
}

void Algorithm::CosineTransform(const float* source, float* destination, int32_t N) {
  if (N <= 0) return;
  const float scale = 3.1415927f / static_cast<float>(N);
  const simd::VF vScale = simd::Set(scale);
  const simd::VF half = simd::Set(0.5f);
  alignas(32) float terms[simd::kLanes];
  alignas(32) float tail[simd::kLanes];

  for (int32_t i = 0; i < N; ++i) {
    const float fi = static_cast<float>(i);
    const simd::VF vFi = simd::Set(fi);
    // Cosines and products are formed kLanes at a time; the sum still takes
    // its terms one by one in ascending j, in one accumulator.
    float sum = 0.0f;
    int32_t j = 0;
    for (; j + simd::kLanes <= N; j += simd::kLanes) {
      const simd::VF angle = simd::Mul(simd::Mul(simd::Add(simd::Iota(j), half), vFi), vScale);
      simd::Store(terms, simd::Mul(simd::Cos(angle), simd::Load(source + j)));
      for (int lane = 0; lane < simd::kLanes; ++lane) sum = sum + terms[lane];
    }
    if (j < N) {
      const int32_t rest = N - j;
      for (int lane = 0; lane < simd::kLanes; ++lane) tail[lane] = lane < rest ? source[j + lane] : 0.0f;
      const simd::VF angle = simd::Mul(simd::Mul(simd::Add(simd::Iota(j), half), vFi), vScale);
      simd::Store(terms, simd::Mul(simd::Cos(angle), simd::Load(tail)));
      for (int lane = 0; lane < rest; ++lane) sum = sum + terms[lane];
    }
    destination[i] = sum;
  }
}

}  // namespace Orovox::OROVOX_SET
