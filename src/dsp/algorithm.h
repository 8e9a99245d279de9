// The signal-processing kernels. One class, four units: spectrum.cpp,
// mel.cpp, filtering.cpp and conditioning.cpp each define their members.
//
// Arithmetic is IEEE single precision, each operation rounded by itself in
// the order written, never fused; every sum starts at 0 and adds its terms
// in ascending index order in one accumulator.
#pragma once

#include <cstdint>

#include "frame/variant.h"
#include "orovox/records.h"

namespace Orovox::OROVOX_SET {

struct Algorithm {
  // --- Spectrum ---------------------------------------------------------------
  // In-place recursive radix-2 forward DFT of a split complex sequence.
  static void _FFT(float* spectrumRe, float* spectrumIm, int32_t N);
  static void FastFourierTransform(float* spectrumRe, float* spectrumIm, int32_t N);
  // spectrum[k] = |X[k]| for all N bins.
  static void MagnitudeSpectrum(const float* data, float* spectrum, int32_t N);

  // --- Mel analysis -------------------------------------------------------------
  static float HertzToMel(bool flag, float frequency);
  static float MelToHertz(bool flag, float mel);
  static void MelFilterBank(const NativeArray<float>& spectrum, NativeArray<float>& melSpectrum, float sampleRate,
                            int32_t melDiv);
  static void MelFilterBankDirect(const float* spectrum, float* melSpectrum, int32_t N, int32_t melDiv,
                                  float sampleRate);
  static void PowerToDecibel(float* data, int32_t length);
  static void CosineTransform(const float* source, float* destination, int32_t N);

  // --- Filtering and resampling ---------------------------------------------------
  static void LowPassFilter(NativeArray<float>& data, float sampleRate, float cutoff, float range);
  static void LowPassFilterDirect(float* data, int32_t length, const float* input, float* kernel,
                                  int32_t kernelLength, float normalizedCutoff);
  static void DownSample(const NativeArray<float>& input, NativeArray<float>& output, int32_t sampleRate,
                         int32_t targetSampleRate);
  static void ResampleLinear(const float* input, int32_t inputLength, float* output, int32_t outputLength,
                             float ratio);

  // --- Frame conditioning and measures ----------------------------------------------
  static void PreEmphasize(float* output, const float* input, int32_t length, float coefficient);
  static void ApplyHamming(float* data, int32_t length);
  static void NormalizePeak(float* data, int32_t length, float target);
  static float PeakMagnitude(const float* data, int32_t length);
  static float RootMeanSquare(const float* data, int32_t length);
  static float EuclideanNorm(const float* data, int32_t length);
  static void UnrollRingBuffer(const float* ring, float* output, int32_t length, int32_t start);
  static void GatherStrided(const float* input, float* output, int32_t count, int32_t stride);
};

}  // namespace Orovox::OROVOX_SET
