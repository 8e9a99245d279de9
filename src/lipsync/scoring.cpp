// Phoneme scoring: every profile against the block's MFCC, both standardised
// with the same per-coefficient means and deviations, then the scores as
// shares of their total and the first highest as the main phoneme.
#include "frame/simd.h"
#include "lipsync/lipsync_job.h"

namespace Orovox::OROVOX_SET {
namespace {

// A subtraction and a true division: a reciprocal multiply would round
// differently.
inline float Standardise(float value, float mean, float deviation) { return (value - mean) / deviation; }

}  // namespace

float LipSyncJob::CalcScore(int32_t index) const {
  const int32_t m = mfccOut.length;
  const float* x = mfccOut.elements;
  const float* mu = coefficientMeans.elements;
  const float* sigma = coefficientDeviations.elements;
  // 64-bit offset: index x m may exceed int32 for a host that breaks its limits.
  const float* profile = phonemeProfiles.elements + static_cast<int64_t>(index) * m;

  switch (comparisonMethod) {
    case Manhattan: {
      float distance = 0.0f;
      for (int32_t i = 0; i < m; ++i) {
        const float a = Standardise(profile[i], mu[i], sigma[i]);
        const float b = Standardise(x[i], mu[i], sigma[i]);
        distance = distance + simd::Abs(b - a);
      }
      return simd::Pow(10.0f, (-distance) / static_cast<float>(m));
    }
    case Euclidean: {
      float distance = 0.0f;
      for (int32_t i = 0; i < m; ++i) {
        const float a = Standardise(profile[i], mu[i], sigma[i]);
        const float b = Standardise(x[i], mu[i], sigma[i]);
        const float d = b - a;
        distance = distance + d * d;
      }
      return simd::Pow(10.0f, -simd::Sqrt(distance / static_cast<float>(m)));
    }
    case Cosine: {
      float dot = 0.0f;
      float profileSquares = 0.0f;
      float featureSquares = 0.0f;
      for (int32_t i = 0; i < m; ++i) {
        const float a = Standardise(profile[i], mu[i], sigma[i]);
        const float b = Standardise(x[i], mu[i], sigma[i]);
        dot = dot + a * b;
        profileSquares = profileSquares + a * a;
        featureSquares = featureSquares + b * b;
      }
      const float c = dot / (simd::Sqrt(featureSquares) * simd::Sqrt(profileSquares));
      // Written as a comparison so that a NaN similarity also scores 0.
      const float positive = c > 0.0f ? c : 0.0f;
      return simd::Pow(positive, 100.0f);
    }
    default:
      return 0.0f;
  }
}

int32_t ScorePhonemes(LipSyncJob& job) {
  const int32_t K = job.phonemeScores.length;
  if (K <= 0) return -1;
  float* scores = job.phonemeScores.elements;

  float total = 0.0f;
  for (int32_t p = 0; p < K; ++p) {
    const float s = job.CalcScore(p);
    scores[p] = s;
    total = total + s;
  }

  // A NaN total fails the comparison, so one NaN score clears them all.
  if (total > 0.0f) {
    for (int32_t p = 0; p < K; ++p) scores[p] = scores[p] / total;
  } else {
    for (int32_t p = 0; p < K; ++p) scores[p] = 0.0f;
  }

  // Starting below every possible share makes the first of equal maxima win
  // and gives index 0 when all shares are 0.
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

}  // namespace Orovox::OROVOX_SET
