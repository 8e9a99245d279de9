// Profile text from outside: FromJson either throws Orovox::Error or returns
// a profile that validates, writes out and reads back as itself, and runs an
// analysis without tripping anything. Any other exception escapes and counts
// as a crash, since callers are promised Orovox::Error alone.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "orovox/orovox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Orovox::Profile profile;
  try {
    profile = Orovox::Profile::FromJson(text);
  } catch (const Orovox::Error& e) {
    FUZZ_CHECK(e.what()[0] != '\0', "empty error message");
    return 0;
  }
  profile.Validate();  // must not throw for a profile that FromJson returned
  const std::string written = profile.ToJson();
  const Orovox::Profile again = Orovox::Profile::FromJson(written);
  FUZZ_CHECK(again.ToJson() == written, "a written profile does not read back as itself");

  // The analysis settings a valid profile carries must be safe for the job.
  // Rates above speech range only cost time here, so they are not analysed.
  if (profile.analysisRate <= 48000) {
    Orovox::AnalyzerOptions options;
    options.frameLength = 256;
    Orovox::Analyzer analyzer(profile, profile.analysisRate, options);
    std::vector<float> block(analyzer.blockLength());
    uint32_t x = 12345;
    for (float& s : block) s = static_cast<float>((x = x * 1664525u + 1013904223u) >> 8) / 16777216.0f - 0.5f;
    analyzer.push(block);
    const Orovox::Frame f = analyzer.analyze();
    FUZZ_CHECK(f.weights.size() == profile.phonemeCount(), "%zu weights", f.weights.size());
    for (float w : f.weights) FUZZ_CHECK(w >= 0.0f && w <= 1.0f, "weight %g", static_cast<double>(w));
    FUZZ_CHECK(f.mainPhoneme >= -1 && f.mainPhoneme < static_cast<int32_t>(profile.phonemeCount()), "main %d",
               f.mainPhoneme);
    FUZZ_CHECK(std::isfinite(f.volume), "volume %g", static_cast<double>(f.volume));
  }
  return 0;
}
