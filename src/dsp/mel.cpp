#include "dsp/algorithm.h"

namespace Orovox::OROVOX_SET {

// Not built yet.
float Algorithm::HertzToMel(bool, float) { return 0.0f; }
float Algorithm::MelToHertz(bool, float) { return 0.0f; }
void Algorithm::MelFilterBank(const NativeArray<float>&, NativeArray<float>&, float, int32_t) {}
void Algorithm::MelFilterBankDirect(const float*, float*, int32_t, int32_t, float) {}
void Algorithm::PowerToDecibel(float*, int32_t) {}
void Algorithm::CosineTransform(const float*, float*, int32_t) {}

}  // namespace Orovox::OROVOX_SET
