#include "dsp/algorithm.h"

namespace Orovox::OROVOX_SET {

// Not built yet.
void Algorithm::_FFT(float*, float*, int32_t) {}
void Algorithm::FastFourierTransform(float*, float*, int32_t) {}
void Algorithm::MagnitudeSpectrum(const float*, float*, int32_t) {}

}  // namespace Orovox::OROVOX_SET
