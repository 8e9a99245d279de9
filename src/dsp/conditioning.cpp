#include "dsp/algorithm.h"

namespace Orovox::OROVOX_SET {

// Not built yet.
void Algorithm::PreEmphasize(float*, const float*, int32_t, float) {}
void Algorithm::ApplyHamming(float*, int32_t) {}
void Algorithm::NormalizePeak(float*, int32_t, float) {}
float Algorithm::PeakMagnitude(const float*, int32_t) { return 0.0f; }
float Algorithm::RootMeanSquare(const float*, int32_t) { return 0.0f; }
float Algorithm::EuclideanNorm(const float*, int32_t) { return 0.0f; }
void Algorithm::UnrollRingBuffer(const float*, float*, int32_t, int32_t) {}
void Algorithm::GatherStrided(const float*, float*, int32_t, int32_t) {}

}  // namespace Orovox::OROVOX_SET
