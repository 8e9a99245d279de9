// Audio files from outside: DecodeAudio either throws Orovox::Error or
// returns a non-empty mono recording of finite samples at a sane rate.
#include <cmath>
#include <cstdint>

#include "fuzz_support.h"
#include "orovox/orovox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Orovox::Audio audio;
  try {
    audio = Orovox::DecodeAudio(data, size);
  } catch (const Orovox::Error& e) {
    FUZZ_CHECK(e.what()[0] != '\0', "empty error message");
    return 0;
  }
  FUZZ_CHECK(!audio.samples.empty(), "an empty recording was accepted");
  FUZZ_CHECK(audio.rate >= 1000 && audio.rate <= 768000, "rate %d", audio.rate);
  for (size_t i = 0; i < audio.samples.size(); ++i)
    FUZZ_CHECK(std::isfinite(audio.samples[i]), "sample %zu is %g", i, static_cast<double>(audio.samples[i]));
  return 0;
}
