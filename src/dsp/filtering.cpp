#include "dsp/algorithm.h"

namespace Orovox::OROVOX_SET {

// Not built yet.
void Algorithm::LowPassFilter(NativeArray<float>&, float, float, float) {}
void Algorithm::LowPassFilterDirect(float*, int32_t, const float*, float*, int32_t, float) {}
void Algorithm::DownSample(const NativeArray<float>&, NativeArray<float>&, int32_t, int32_t) {}
void Algorithm::ResampleLinear(const float*, int32_t, float*, int32_t, float) {}

}  // namespace Orovox::OROVOX_SET
