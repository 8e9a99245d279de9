// Compiled once per variant set beside src/dsp/mel.cpp: gives the tests a
// plain C name for that set's array-form filter bank.
#include "dsp/algorithm.h"

#define OROVOX_BRIDGE_NAME2(set) OrovoxTestMelFilterBank_##set
#define OROVOX_BRIDGE_NAME(set) OROVOX_BRIDGE_NAME2(set)

extern "C" void OROVOX_BRIDGE_NAME(OROVOX_SET)(const Orovox::NativeArray<float>* spectrum,
                                               Orovox::NativeArray<float>* melSpectrum, float sampleRate,
                                               int32_t melDiv) {
  Orovox::OROVOX_SET::Algorithm::MelFilterBank(*spectrum, *melSpectrum, sampleRate, melDiv);
}
