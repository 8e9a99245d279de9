// The catalogue of malformed inputs. Each must be refused with an
// Orovox::Error (API) or a non-zero exit (tool) carrying one clear line that
// names what is wrong; none may crash, and a refused tool run leaves no file
// behind, neither its outputs nor their temporaries.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli.h"
#include "orovox/orovox.h"
#include "support.h"

namespace Orovox::Test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// --- Fixtures --------------------------------------------------------------------------
void Put(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 255));
}

// A canonical WAV: 16-bit integer or 32-bit float samples, interleaved.
std::string Wav(const std::vector<float>& samples, int32_t rate, int channels, bool asFloat) {
  std::string data;
  for (float x : samples) {
    if (asFloat) {
      uint32_t u;
      std::memcpy(&u, &x, 4);
      Put(data, u, 4);
    } else {
      Put(data, static_cast<uint16_t>(static_cast<int16_t>(std::lrint(x * 32767.0f))), 2);
    }
  }
  const int width = asFloat ? 4 : 2;
  std::string w = "RIFF";
  Put(w, 36 + static_cast<uint32_t>(data.size()), 4);
  w += "WAVEfmt ";
  Put(w, 16, 4);
  Put(w, asFloat ? 3 : 1, 2);
  Put(w, static_cast<uint32_t>(channels), 2);
  Put(w, static_cast<uint32_t>(rate), 4);
  Put(w, static_cast<uint32_t>(rate * channels * width), 4);
  Put(w, static_cast<uint32_t>(channels * width), 2);
  Put(w, static_cast<uint32_t>(8 * width), 2);
  w += "data";
  Put(w, static_cast<uint32_t>(data.size()), 4);
  return w + data;
}

// Half a second of a vowel-like buzz at 16 kHz: loud enough to calibrate on.
std::vector<float> Voice(int n = 8000) {
  std::vector<float> v;
  for (int i = 0; i < n; ++i) {
    const double t = i / 16000.0;
    v.push_back(static_cast<float>(0.3 * std::sin(2 * M_PI * 140 * t) + 0.2 * std::sin(2 * M_PI * 700 * t) +
                                   0.1 * std::sin(2 * M_PI * 1200 * t)));
  }
  return v;
}

std::string Patched(std::string bytes, size_t offset, uint32_t value, int width) {
  std::string field;
  Put(field, value, width);
  return bytes.replace(offset, field.size(), field);
}

struct BadAudio {
  const char* name;
  std::string bytes;
  const char* says;  // part of the message
};

std::vector<BadAudio> BadAudioFiles() {
  const std::string good = Wav(Voice(), 16000, 1, false);
  std::vector<float> nan = Voice(400);
  nan[123] = std::numeric_limits<float>::quiet_NaN();
  std::vector<float> inf = Voice(400);
  inf[7] = std::numeric_limits<float>::infinity();
  return {
      {"empty file", "", "empty"},
      {"text, not audio", "time,volume,phoneme\n0.0,0.1,A\n", "not an audio file"},
      {"a PNG picture", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "not an audio file"},
      {"truncated inside the header", good.substr(0, 20), "audio"},
      {"header and no samples", good.substr(0, 44), "empty"},
      {"unknown sample format tag", Patched(good, 20, 0x1234, 2), "audio"},
      {"NaN sample", Wav(nan, 16000, 1, true), "not a finite number"},
      {"infinite sample", Wav(inf, 16000, 1, true), "not a finite number"},
      {"sample rate of 5 Hz", Patched(good, 24, 5, 4), "rate"},
      {"sample rate of 4 GHz", Patched(Patched(good, 24, 4000000000u, 4), 28, 4000000000u, 4), "audio"},
      {"no channels", Patched(good, 22, 0, 2), "audio"},
      {"a thousand channels", Patched(good, 22, 1000, 2), "channel"},
  };
}

// A profile with one thing wrong, as JSON text; `says` is part of the message.
struct BadProfile {
  const char* name;
  std::function<void(json&)> spoil;
  const char* says;
};

std::vector<BadProfile> BadProfiles() {
  auto erase = [](const char* key) { return [key](json& j) { j.erase(key); }; };
  auto set = [](const char* key, json value) { return [key, value](json& j) { j[key] = value; }; };
  return {
      {"missing analysisRate", erase("analysisRate"), "analysisRate"},
      {"missing melChannels", erase("melChannels"), "melChannels"},
      {"missing mfccCount", erase("mfccCount"), "mfccCount"},
      {"missing method", erase("method"), "method"},
      {"missing means", erase("means"), "means"},
      {"missing deviations", erase("deviations"), "deviations"},
      {"missing phonemes", erase("phonemes"), "phonemes"},
      {"missing phoneme profile", [](json& j) { j["phonemes"][1].erase("profile"); }, "phonemes[1].profile"},
      {"missing phoneme name", [](json& j) { j["phonemes"][0].erase("name"); }, "phonemes[0].name"},
      {"no phonemes", set("phonemes", json::array()), "phonemes"},
      {"means one short", [](json& j) { j["means"].erase(j["means"].size() - 1); }, "means"},
      {"deviations one long", [](json& j) { j["deviations"].push_back(1.0); }, "deviations"},
      {"profile one short", [](json& j) { j["phonemes"][2]["profile"].erase(0); }, "phonemes[2].profile"},
      {"a number given as text", [](json& j) { j["means"][0] = "0.5"; }, "means[0]"},
      {"a mean beyond float range", [](json& j) { j["means"][3] = 1e300; }, "means[3]"},
      {"a profile value beyond float range", [](json& j) { j["phonemes"][0]["profile"][0] = -1e300; }, "phonemes[0].profile[0]"},
      {"zero deviation", [](json& j) { j["deviations"][2] = 0.0; }, "deviations[2]"},
      {"negative deviation", [](json& j) { j["deviations"][0] = -1.0; }, "deviations[0]"},
      {"unknown method name", set("method", "nearest"), "method"},
      {"method as a number", set("method", 2), "method"},
      {"analysis rate of 0 Hz", set("analysisRate", 0), "analysisRate"},
      {"negative analysis rate", set("analysisRate", -16000), "analysisRate"},
      {"analysis rate of 10 GHz", set("analysisRate", 10000000000LL), "analysisRate"},
      {"fractional analysis rate", set("analysisRate", 16000.5), "analysisRate"},
      {"no coefficients", set("mfccCount", 0), "mfccCount"},
      {"as many coefficients as channels", set("melChannels", 12), "melChannels"},
      {"a million mel channels", set("melChannels", 1000000), "melChannels"},
      {"colour channel above 1", [](json& j) { j["phonemes"][0]["color"] = {2.0, 0.0, 0.0}; }, "phonemes[0].color"},
      {"two phonemes named alike", [](json& j) { j["phonemes"][1]["name"] = j["phonemes"][0]["name"]; }, "appears twice"},
      {"unsupported version", set("version", 99), "version"},
      {"another file format", set("format", "wav"), "format"},
  };
}

std::string DefaultProfileText() { return Profile::Default().ToJson(); }

std::string Spoiled(const BadProfile& bad) {
  json j = json::parse(DefaultProfileText());
  bad.spoil(j);
  return j.dump(2);
}

// One clear line: not empty, no line break inside.
::testing::AssertionResult OneLine(const std::string& message, const std::string& says) {
  if (message.empty()) return ::testing::AssertionFailure() << "empty message";
  if (message.find('\n') != std::string::npos) return ::testing::AssertionFailure() << "several lines: " << message;
  if (message.find(says) == std::string::npos)
    return ::testing::AssertionFailure() << "message does not mention '" << says << "': " << message;
  return ::testing::AssertionSuccess();
}

template <typename F>
::testing::AssertionResult RefusedWith(F&& f, const std::string& says) {
  try {
    f();
  } catch (const Error& e) {
    return OneLine(e.what(), says);
  } catch (const std::exception& e) {
    return ::testing::AssertionFailure() << "threw something other than Orovox::Error: " << e.what();
  }
  return ::testing::AssertionFailure() << "accepted";
}

// --- The API ---------------------------------------------------------------------------------
TEST(BadInput, AudioIsRefusedByTheDecoder) {
  for (const BadAudio& bad : BadAudioFiles())
    EXPECT_TRUE(RefusedWith([&] { DecodeAudio(bad.bytes.data(), bad.bytes.size()); }, bad.says)) << bad.name;
  EXPECT_TRUE(RefusedWith([] { DecodeAudio(nullptr, 10); }, "null"));
}

TEST(BadInput, ProfilesAreRefusedNamingTheField) {
  for (const BadProfile& bad : BadProfiles())
    EXPECT_TRUE(RefusedWith([&] { Profile::FromJson(Spoiled(bad)); }, bad.says)) << bad.name;
  const std::string text = DefaultProfileText();
  const std::vector<std::pair<std::string, const char*>> texts = {
      {"", "not valid JSON"},
      {text.substr(0, text.size() / 2), "not valid JSON"},
      {"[1, 2, 3]", "not a JSON object"},
      {"{\"means\": [NaN]}", "not valid JSON"},
      {std::string("{\"a\"\0: 1}", 9), "not valid JSON"},
  };
  for (const auto& [t, says] : texts) EXPECT_TRUE(RefusedWith([&] { Profile::FromJson(t); }, says)) << t;
}

TEST(BadInput, AnalyzerPcmAndNamesAreRefused) {
  const Profile profile = Profile::Default();  // analysis at 16 kHz
  auto analyzer = [&](int32_t rate, AnalyzerOptions options = {}) { Analyzer a(profile, rate, options); };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Row {
    const char* name;
    std::function<void()> call;
    const char* says;
  } rows[] = {
      {"input rate below the analysis rate", [&] { analyzer(8000); }, "below"},
      {"input rate of 0 Hz", [&] { analyzer(0); }, "rate"},
      {"negative input rate", [&] { analyzer(-48000); }, "rate"},
      {"input rate of 2 GHz", [&] { analyzer(2000000000); }, "rate"},
      {"frame length not a power of two", [&] { analyzer(48000, {1000, 0.01f}); }, "frame length"},
      {"frame length too long", [&] { analyzer(48000, {1 << 20, 0.01f}); }, "frame length"},
      {"negative frame length", [&] { analyzer(48000, {-256, 0.01f}); }, "frame length"},
      {"NaN silence volume", [&] { analyzer(48000, {0, nan}); }, "silence"},
      {"NaN pushed", [&] {
         Analyzer a(profile, 48000);
         std::vector<float> block(100, 0.1f);
         block[42] = nan;
         a.push(block);
       }, "sample 42"},
      {"unknown PCM format", [] { PcmFormatFromName("s24le"); }, "s24le"},
      {"PCM with no channels", [] { PcmDecoder d(PcmFormat::S16LE, 0); }, "channel"},
      {"PCM with 1000 channels", [] { PcmDecoder d(PcmFormat::F32LE, 1000); }, "channel"},
      {"unknown comparison method", [] { MethodFromName("nearest"); }, "nearest"},
      {"calibration on silence", [] {
         Calibrator c;
         c.add("A", std::vector<float>(16000, 0.0f), 16000);
       }, "voiced"},
      {"calibration on a recording slower than its analysis", [] {
         Calibrator c;
         c.add("A", Voice(), 8000);
       }, "rate"},
  };
  for (const Row& r : rows) EXPECT_TRUE(RefusedWith(r.call, r.says)) << r.name;
}

// --- The tool ---------------------------------------------------------------------------------
class ToolBadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "orovox-bad-input-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    Write("good.wav", Wav(Voice(), 16000, 1, false));
    Write("silent.wav", Wav(std::vector<float>(16000, 0.0f), 16000, 1, false));
    Write("good.json", DefaultProfileText());
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (fs::path(dir_) / name).string(); }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    fixtures_.insert(name);
  }

  // Runs the tool with `{}` in the arguments standing for the folder; checks
  // the exit status, the one message line, and that no file appeared.
  void ExpectRefused(std::vector<std::string> args, int status, const std::string& says, const std::string& input = "",
                     const std::string& what = "") {
    for (std::string& a : args)
      if (auto at = a.find("{}"); at != std::string::npos) a.replace(at, 2, dir_);
    std::istringstream in(input);
    std::ostringstream out, err;
    std::string command;
    for (const std::string& a : args) command += " " + a;
    SCOPED_TRACE((what.empty() ? std::string() : what + ":") + command);
    EXPECT_EQ(RunCli(args, in, out, err), status);
    std::string message = err.str();
    // `stream` announces itself before it reads; the failure is the last line.
    if (message.rfind("orovox stream:", 0) == 0) message = message.substr(message.find('\n') + 1);
    ASSERT_FALSE(message.empty());
    EXPECT_EQ(message.back(), '\n');
    message.pop_back();
    EXPECT_EQ(message.rfind("orovox: ", 0), 0u) << message;
    EXPECT_TRUE(OneLine(message, says));
    std::set<std::string> extra;
    for (const auto& e : fs::directory_iterator(dir_))
      if (!fixtures_.count(e.path().filename().string())) extra.insert(e.path().filename().string());
    EXPECT_TRUE(extra.empty()) << "left behind: " << *extra.begin();
  }

  std::string dir_;
  std::set<std::string> fixtures_;
};

TEST_F(ToolBadInput, BadRecordingsFailWithoutOutput) {
  for (const BadAudio& bad : BadAudioFiles()) {
    Write("bad.wav", bad.bytes);
    ExpectRefused({"analyze", "{}/bad.wav", "-o", "{}/out.csv", "--heatmap", "{}/h.png"}, 1, bad.says, "", bad.name);
    ExpectRefused({"calibrate", "A={}/good.wav", "O={}/bad.wav", "-o", "{}/p.json"}, 1, bad.says, "", bad.name);
  }
  ExpectRefused({"analyze", "{}/missing.wav", "-o", "{}/out.csv"}, 1, "missing.wav");
  ExpectRefused({"analyze", "{}", "-o", "{}/out.csv"}, 1, dir_);  // a folder, not a file
}

TEST_F(ToolBadInput, BadProfilesFailWithoutOutput) {
  for (const BadProfile& bad : BadProfiles()) {
    Write("bad.json", Spoiled(bad));
    ExpectRefused({"analyze", "{}/good.wav", "--profile", "{}/bad.json", "-o", "{}/out.csv", "--bars", "{}/b.png"}, 1,
                  bad.says, "", bad.name);
    ExpectRefused({"stream", "--rate", "16000", "--profile", "{}/bad.json"}, 1, bad.says, "", bad.name);
  }
  Write("bad.json", "{\"analysisRate\": 16000,");
  ExpectRefused({"analyze", "{}/good.wav", "--profile", "{}/bad.json", "-o", "{}/out.csv"}, 1, "bad.json");
}

TEST_F(ToolBadInput, BadOptionsAndStreamsFail) {
  std::string nanPcm(8, '\0');
  const float samples[2] = {0.25f, std::numeric_limits<float>::quiet_NaN()};
  std::memcpy(nanPcm.data(), samples, 8);
  struct Row {
    std::vector<std::string> args;
    int status;
    const char* says;
    std::string input;
  } rows[] = {
      {{}, 2, "command", ""},
      {{"frobnicate"}, 2, "frobnicate", ""},
      {{"analyze"}, 2, "file", ""},
      {{"analyze", "{}/good.wav", "--fps", "0", "-o", "{}/out.csv"}, 2, "fps", ""},
      {{"analyze", "{}/good.wav", "--fps", "nan", "-o", "{}/out.csv"}, 2, "fps", ""},
      {{"analyze", "{}/good.wav", "--fps", "1e308", "-o", "{}/out.csv"}, 2, "fps", ""},
      {{"analyze", "{}/good.wav", "--format", "xml", "-o", "{}/out.csv"}, 2, "format", ""},
      {{"analyze", "{}/good.wav", "--jobs", "0", "-o", "{}/out.csv"}, 2, "jobs", ""},
      {{"analyze", "{}/good.wav", "--jobs", "100000", "-o", "{}/out.csv"}, 2, "jobs", ""},
      {{"analyze", "{}/good.wav", "--bar-height", "-1", "--bars", "{}/b.png"}, 2, "bar-height", ""},
      {{"analyze", "{}/good.wav", "--row-height", "1000000000", "--heatmap", "{}/h.png"}, 2, "row-height", ""},
      {{"analyze", "{}/good.wav", "--silence", "-1", "-o", "{}/out.csv"}, 2, "silence", ""},
      {{"analyze", "{}/good.wav", "--smoothing", "nan", "--bars", "{}/b.png"}, 2, "smoothing", ""},
      {{"stream", "--rate", "16000", "--fps", "nan"}, 2, "fps", ""},
      {{"analyze", "{}/good.wav", "--silence-label", "A", "-o", "{}/out.csv"}, 2, "silence label", ""},
      {{"analyze", "{}/good.wav", "-o", "{}/no/such/folder/out.csv", "--heatmap", "{}/h.png"}, 1, "out.csv", ""},
      {{"calibrate"}, 2, "recordings", ""},
      {{"calibrate", "A", "-o", "{}/p.json"}, 2, "PHONEME=FILE", ""},
      {{"calibrate", "=x.wav", "-o", "{}/p.json"}, 2, "PHONEME=FILE", ""},
      {{"calibrate", "A={}/good.wav", "--method", "nearest", "-o", "{}/p.json"}, 2, "method", ""},
      {{"calibrate", "A={}/good.wav", "--mfcc", "0", "-o", "{}/p.json"}, 2, "mfcc", ""},
      {{"calibrate", "A={}/good.wav", "--mel-channels", "1000000", "-o", "{}/p.json"}, 2, "mel-channels", ""},
      {{"calibrate", "A={}/good.wav", "--analysis-rate", "-5", "-o", "{}/p.json"}, 2, "analysis-rate", ""},
      {{"calibrate", "A={}/good.wav", "--analysis-rate", "999999999", "-o", "{}/p.json"}, 2, "analysis-rate", ""},
      {{"calibrate", "A={}/silent.wav", "-o", "{}/p.json"}, 1, "voiced", ""},
      {{"stream"}, 2, "rate", ""},
      {{"stream", "--rate", "0"}, 2, "rate", ""},
      {{"stream", "--rate", "8000"}, 2, "rate", ""},  // below the profile's 16 kHz
      {{"stream", "--rate", "16000", "--format", "s24le"}, 2, "format", ""},
      {{"stream", "--rate", "16000", "--channels", "0"}, 2, "channels", ""},
      {{"stream", "--rate", "16000", "--channels", "1000"}, 2, "channels", ""},
      {{"stream", "--rate", "16000", "--fps", "0"}, 2, "fps", ""},
      {{"stream", "--rate", "16000", "--format", "f32le"}, 1, "not a finite number", nanPcm},
  };
  for (const Row& r : rows) ExpectRefused(r.args, r.status, r.says, r.input);
}

}  // namespace
}  // namespace Orovox::Test
