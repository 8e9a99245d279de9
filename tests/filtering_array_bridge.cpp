// Compiled once per variant set beside src/dsp/filtering.cpp: gives the tests
// plain C names for that set's array-form filter and down-sampler.
#include "dsp/algorithm.h"

#define OROVOX_BRIDGE_NAME2(name, set) OrovoxTest##name##_##set
#define OROVOX_BRIDGE_NAME(name, set) OROVOX_BRIDGE_NAME2(name, set)

extern "C" void OROVOX_BRIDGE_NAME(LowPassFilter, OROVOX_SET)(Orovox::NativeArray<float>* data, float sampleRate,
                                                               float cutoff, float range) {
  Orovox::OROVOX_SET::Algorithm::LowPassFilter(*data, sampleRate, cutoff, range);
}

extern "C" void OROVOX_BRIDGE_NAME(DownSample, OROVOX_SET)(const Orovox::NativeArray<float>* input,
                                                            Orovox::NativeArray<float>* output, int32_t sampleRate,
                                                            int32_t targetSampleRate) {
  Orovox::OROVOX_SET::Algorithm::DownSample(*input, *output, sampleRate, targetSampleRate);
}
