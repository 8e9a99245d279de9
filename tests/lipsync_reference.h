// References for the analysis job: the exported entries called one by one in
// the job's order on the same data, and a plain transcription of the scoring.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "support.h"

namespace Orovox::Test {

struct JobSettings {
  int32_t inputRate = 48000;
  int32_t analysisRate = 16000;
  int32_t melChannels = 30;
  int32_t method = Manhattan;
  int32_t writePosition = 0;
};

struct JobOutputs {
  std::vector<float> mfcc;
  std::vector<float> scores;
  float volume = 0.0f;
  int32_t mainPhonemeIndex = -1;
};

// Taps of the job's low-pass filter (transition width 500 Hz): always even.
inline int32_t LowPassTaps(int32_t inputRate) {
  const int32_t m = static_cast<int32_t>(std::rint(3.1f / (500.0f / static_cast<float>(inputRate))));
  return m % 2 != 0 ? m + 1 : m;
}

inline float ReferenceRawScore(int32_t method, const float* x, const float* mu, const float* sigma,
                               const float* profile, int32_t m, float (*pow)(float, float)) {
  auto z = [&](float v, int32_t i) { return (v - mu[i]) / sigma[i]; };
  if (method == Manhattan) {
    float d = 0.0f;
    for (int32_t i = 0; i < m; ++i) d = d + std::fabs(z(x[i], i) - z(profile[i], i));
    return pow(10.0f, (-d) / static_cast<float>(m));
  }
  if (method == Euclidean) {
    float d = 0.0f;
    for (int32_t i = 0; i < m; ++i) {
      const float diff = z(x[i], i) - z(profile[i], i);
      d = d + diff * diff;
    }
    return pow(10.0f, -std::sqrt(d / static_cast<float>(m)));
  }
  if (method == Cosine) {
    float p = 0.0f, a2 = 0.0f, b2 = 0.0f;
    for (int32_t i = 0; i < m; ++i) {
      const float a = z(profile[i], i), b = z(x[i], i);
      p = p + a * b;
      a2 = a2 + a * a;
      b2 = b2 + b * b;
    }
    const float c = p / (std::sqrt(b2) * std::sqrt(a2));
    return pow(c > 0.0f ? c : 0.0f, 100.0f);
  }
  return 0.0f;
}

// Shares of the total (all 0 unless the total is > 0) and the first strict
// maximum from -1; -1 when there are no profiles.
inline int32_t ReferenceScoring(int32_t method, const std::vector<float>& x, const float* mu, const float* sigma,
                                const float* profiles, std::vector<float>& scores, float (*pow)(float, float)) {
  const int32_t m = static_cast<int32_t>(x.size());
  const int32_t k = static_cast<int32_t>(scores.size());
  if (k == 0) return -1;
  float total = 0.0f;
  for (int32_t p = 0; p < k; ++p) {
    scores[p] = ReferenceRawScore(method, x.data(), mu, sigma, profiles + p * m, m, pow);
    total = total + scores[p];
  }
  for (float& s : scores) s = total > 0.0f ? s / total : 0.0f;
  float best = -1.0f;
  int32_t index = -1;
  for (int32_t p = 0; p < k; ++p)
    if (scores[p] > best) best = scores[p], index = p;
  return index;
}

// The job's road, entry by entry: unroll, low-pass (direct form with the
// derived taps and cutoff), down-sample (copy, interpolation or decimation),
// pre-emphasis from a copy, window, peak normalisation, magnitude spectrum,
// mel bank, decibels, cosine transform, RMS, then the reference scoring.
// Also returns the whole cepstrum through `cepstrum` when asked.
inline JobOutputs ComposeFromEntries(VariantSet set, const JobSettings& s, const std::vector<float>& samples,
                                     const float* mu, const float* sigma, const float* profiles, int32_t m,
                                     int32_t k, std::vector<float>* cepstrum = nullptr) {
  const Host::EntryPoints& e = Lib().set(set);
  const int32_t L = static_cast<int32_t>(samples.size());

  std::vector<float> u(samples.size());
  e.UnrollRingBuffer(samples.data(), u.data(), L, s.writePosition);

  const int32_t taps = LowPassTaps(s.inputRate);
  const float fc = (static_cast<float>(s.analysisRate / 2) - 500.0f) / static_cast<float>(s.inputRate);
  std::vector<float> unfiltered = u, kernel(static_cast<size_t>(taps) + 1);
  e.LowPassFilterDirect(u.data(), L, unfiltered.data(), kernel.data(), taps, fc);

  std::vector<float> a;
  if (s.inputRate <= s.analysisRate) {
    a = u;
  } else if (s.inputRate % s.analysisRate != 0) {
    const float r = static_cast<float>(s.inputRate) / static_cast<float>(s.analysisRate);
    a.resize(static_cast<size_t>(std::rint(static_cast<float>(L) / r)));
    e.ResampleLinear(u.data(), L, a.data(), static_cast<int32_t>(a.size()), r);
  } else {
    const int32_t step = s.inputRate / s.analysisRate;
    for (int32_t i = 0; i < L / step; ++i) a.push_back(u[static_cast<size_t>(i * step)]);
  }
  const int32_t N = static_cast<int32_t>(a.size());

  const std::vector<float> beforeEmphasis = a;
  e.PreEmphasize(a.data(), beforeEmphasis.data(), N, 0.97f);
  e.ApplyHamming(a.data(), N);
  e.NormalizePeak(a.data(), N, 1.0f);

  std::vector<float> spectrum(a.size());
  e.MagnitudeSpectrum(a.data(), spectrum.data(), N);

  const int32_t C = s.melChannels;
  std::vector<float> mel(static_cast<size_t>(C)), q(static_cast<size_t>(C));
  e.MelFilterBankDirect(spectrum.data(), mel.data(), N, C, static_cast<float>(s.analysisRate));
  e.PowerToDecibel(mel.data(), C);
  e.CosineTransform(mel.data(), q.data(), C);
  if (cepstrum != nullptr) *cepstrum = q;

  JobOutputs out;
  out.mfcc.assign(static_cast<size_t>(m), 0.0f);
  for (int32_t i = 0; i < m && i + 1 < C; ++i) out.mfcc[i] = q[static_cast<size_t>(i + 1)];
  out.volume = e.RootMeanSquare(samples.data(), L);
  out.scores.assign(static_cast<size_t>(k), 0.0f);
  out.mainPhonemeIndex = ReferenceScoring(s.method, out.mfcc, mu, sigma, profiles, out.scores, MathOf(set).pow);
  return out;
}

}  // namespace Orovox::Test
