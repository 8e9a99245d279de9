// The orovox tool end to end, in-process: timelines, cues, pictures,
// calibration, the live stream and the error table.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <unistd.h>

#include "orovox/orovox.h"
#include "tools/cli.h"

namespace Orovox {
namespace {

std::string Data(const std::string& name) { return std::string(OROVOX_DATA_DIR) + "/" + name; }

const char* const kVowels[] = {"A", "I", "U", "E", "O"};

struct Result {
  int code;
  std::string out, err;
};

Result Tool(const std::vector<std::string>& args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  const int code = RunCli(args, in, out, err);
  return {code, out.str(), err.str()};
}

std::vector<std::vector<std::string>> Csv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> cells;
    std::istringstream cs(line);
    for (std::string cell; std::getline(cs, cell, ',');) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

struct Picture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgba;
  const uint8_t* at(uint32_t x, uint32_t y) const { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
};

Picture ReadPng(const std::string& path) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  Picture p;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    ADD_FAILURE() << path << ": " << image.message;
    return p;
  }
  image.format = PNG_FORMAT_RGBA;
  p.width = image.width;
  p.height = image.height;
  p.rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, p.rgba.data(), 0, nullptr)) ADD_FAILURE() << image.message;
  return p;
}

// A 16 kHz mono 16-bit WAV file of `samples` zero samples.
std::string Wav16(uint32_t samples) {
  std::string s;
  auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i))); };
  auto u16 = [&](uint16_t v) { s.push_back(static_cast<char>(v)); s.push_back(static_cast<char>(v >> 8)); };
  s += "RIFF";
  u32(36 + 2 * samples);
  s += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(1);
  u32(16000);
  u32(32000);
  u16(2);
  u16(16);
  s += "data";
  u32(2 * samples);
  return s + std::string(2 * samples, '\0');
}

// A scratch directory per test, removed with everything in it.
class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/orovox_cli_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override {
    for (const std::string& n : Listing(dir_)) std::remove(Path(n).c_str());
    rmdir(dir_.c_str());
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string Write(const std::string& name, const std::string& contents) const {
    std::ofstream(Path(name), std::ios::binary) << contents;
    return Path(name);
  }
  static std::string Read(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }

  std::string dir_;
};

// Share of voiced frames (volume column at or above the silence volume)
// that carry `label`.
double OwnShare(const std::string& csv, const std::string& label) {
  int voiced = 0, own = 0;
  const auto rows = Csv(csv);
  for (size_t i = 1; i < rows.size(); ++i) {
    if (std::stod(rows[i][1]) < 0.01) continue;
    ++voiced;
    own += rows[i][2] == label;
  }
  return voiced > 10 ? static_cast<double>(own) / voiced : 0.0;
}

TEST_F(Cli, EachVowelPicksItselfWithTheDefaultAndAFreshCalibration) {
  std::vector<std::string> args = {"calibrate", "--method", "cosine", "--mfcc", "10", "--mel-channels", "20",
                                   "-o", Path("voice.json")};
  for (const char* v : kVowels) args.push_back(std::string(v) + "=" + Data(std::string("vowel_") + v + ".wav"));
  const Result cal = Tool(args);
  ASSERT_EQ(cal.code, 0) << cal.err;
  const Profile fresh = Profile::Load(Path("voice.json"));
  EXPECT_EQ(fresh.mfccCount, 10);
  EXPECT_EQ(fresh.method, Cosine);
  EXPECT_EQ(fresh.names, Profile::Default().names);

  for (const std::string& profile : {std::string(), Path("voice.json")}) {
    for (const char* v : kVowels) {
      std::vector<std::string> a = {"analyze", Data(std::string("vowel_") + v + ".wav")};
      if (!profile.empty()) a.insert(a.end(), {"--profile", profile});
      const Result r = Tool(a);
      ASSERT_EQ(r.code, 0) << r.err;
      EXPECT_GE(OwnShare(r.out, v), 0.8) << v << " with " << (profile.empty() ? "the default" : profile);
    }
  }
}

TEST_F(Cli, SentenceGivesAscendingCuesInCsvAndJson) {
  const Result csv = Tool({"analyze", Data("sample.wav"), "--cues"});
  ASSERT_EQ(csv.code, 0) << csv.err;
  const Result js = Tool({"analyze", Data("sample.wav"), "--cues", "--format", "json"});
  ASSERT_EQ(js.code, 0) << js.err;
  const auto rows = Csv(csv.out);
  ASSERT_EQ(rows[0], (std::vector<std::string>{"start", "end", "phoneme"}));
  const nlohmann::json doc = nlohmann::json::parse(js.out);
  const auto& cues = doc["cues"];
  ASSERT_EQ(cues.size(), rows.size() - 1);

  const std::set<std::string> labels = {"A", "I", "U", "E", "O", "rest"};
  std::set<std::string> vowelsSeen;
  for (size_t i = 1; i < rows.size(); ++i) {
    const double start = std::stod(rows[i][0]), end = std::stod(rows[i][1]);
    EXPECT_LT(start, end) << "cue " << i;
    if (i > 1) {
      EXPECT_EQ(rows[i][0], rows[i - 1][1]) << "cues must tile the recording";
      EXPECT_NE(rows[i][2], rows[i - 1][2]) << "runs of one label are merged";
    }
    EXPECT_TRUE(labels.count(rows[i][2])) << rows[i][2];
    if (rows[i][2] != "rest") vowelsSeen.insert(rows[i][2]);
    EXPECT_EQ(cues[i - 1]["phoneme"], rows[i][2]);
    EXPECT_NEAR(cues[i - 1]["start"].get<double>(), start, 1e-9);
  }
  EXPECT_EQ(rows[1][0], "0.0000");
  EXPECT_NEAR(std::stod(rows.back()[1]), doc["duration"].get<double>(), 1e-3);
  // The recording opens and closes with silence and has speech between.
  EXPECT_EQ(rows[1][2], "rest");
  EXPECT_EQ(rows.back()[2], "rest");
  EXPECT_GE(vowelsSeen.size(), 3u);
  EXPECT_GE(rows.size(), 8u);
}

TEST_F(Cli, JobsDoNotChangeTheOutput) {
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{}, {"--format", "json", "--fps", "250"}, {"--cues", "--fps", "97"}}) {
    std::vector<std::string> one = {"analyze", Data("sample.wav"), "--jobs", "1"}, four = one;
    four[3] = "4";
    one.insert(one.end(), extra.begin(), extra.end());
    four.insert(four.end(), extra.begin(), extra.end());
    const Result a = Tool(one), b = Tool(four);
    ASSERT_EQ(a.code, 0) << a.err;
    ASSERT_EQ(b.code, 0) << b.err;
    EXPECT_EQ(a.out, b.out);
    EXPECT_TRUE(a.err.empty() && b.err.empty());
  }
}

TEST_F(Cli, FramesCarryTimeVolumeLabelAndWeights) {
  const Result r = Tool({"analyze", Data("sample.wav"), "--fps", "50", "-o", Path("t.csv")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(r.out.empty());
  const auto rows = Csv(Read(Path("t.csv")));
  ASSERT_EQ(rows[0], (std::vector<std::string>{"time", "volume", "phoneme", "A", "I", "U", "E", "O"}));
  const Audio audio = ReadAudioFile(Data("sample.wav"));
  // Frames at 0, 1/50, ... up to the last sample's time.
  EXPECT_EQ(rows.size() - 1, static_cast<size_t>((audio.samples.size() - 1) * 50 / audio.rate) + 1);
  for (size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 8u);
    EXPECT_NEAR(std::stod(rows[i][0]), (i - 1) / 50.0, 1e-4);
    double sum = 0;
    int best = 0;
    for (int p = 0; p < 5; ++p) {
      sum += std::stod(rows[i][3 + p]);
      if (std::stod(rows[i][3 + p]) > std::stod(rows[i][3 + best])) best = p;
    }
    const bool voiced = std::stod(rows[i][1]) >= 0.01;
    if (voiced) {
      EXPECT_NEAR(sum, 1.0, 1e-3) << "frame " << i;
    }
    EXPECT_EQ(rows[i][2], voiced ? kVowels[best] : "rest") << "frame " << i;
  }
}

TEST_F(Cli, PicturesHaveTheirSizeAndTheBarsFollowTheVolume) {
  const Result r = Tool({"analyze", Data("sample.wav"), "--heatmap", Path("h.png"), "--bars", Path("b.png"),
                        "--bar-height", "40", "--row-height", "3", "--smoothing", "1", "-o", Path("t.csv")});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto rows = Csv(Read(Path("t.csv")));
  const uint32_t frames = static_cast<uint32_t>(rows.size() - 1);

  const Picture heat = ReadPng(Path("h.png"));
  ASSERT_EQ(heat.width, frames);
  ASSERT_EQ(heat.height, 12u * 3u);
  std::set<uint32_t> colours;
  for (uint32_t x = 0; x < heat.width; ++x) {
    for (uint32_t y = 0; y < heat.height; ++y) {
      const uint8_t* p = heat.at(x, y);
      EXPECT_EQ(p[3], 255);
      // Each coefficient is one band of identical rows.
      if (y % 3 != 0) {
        EXPECT_EQ(std::memcmp(p, heat.at(x, y - 1), 4), 0) << x << "," << y;
      }
      colours.insert(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16);
    }
  }
  EXPECT_GT(colours.size(), 50u) << "the ramp spans the values";

  const Picture bars = ReadPng(Path("b.png"));
  ASSERT_EQ(bars.width, frames);
  ASSERT_EQ(bars.height, 40u);
  const Profile profile = Profile::Default();
  std::vector<std::pair<double, int>> opaqueByVolume;
  for (uint32_t x = 0; x < frames; ++x) {
    int opaque = 0, first = -1, last = -1;
    for (uint32_t y = 0; y < bars.height; ++y) {
      const uint8_t a = bars.at(x, y)[3];
      ASSERT_TRUE(a == 0 || a == 255) << x << "," << y;
      if (a == 255) {
        if (first < 0) first = static_cast<int>(y);
        last = static_cast<int>(y);
        ++opaque;
      }
      EXPECT_EQ(std::memcmp(bars.at(x, y), bars.at(x, 0), 3), 0) << "one colour per column";
    }
    // A single run of opaque rows centred on row height / 2.
    ASSERT_GT(opaque, 0) << "column " << x;
    EXPECT_EQ(last - first + 1, opaque) << "column " << x;
    EXPECT_LE(std::abs((first + last) - 40), 1) << "column " << x;
    opaqueByVolume.emplace_back(std::stod(rows[x + 1][1]), opaque);

    // With smoothing 1 a column's colour is its weights' blend of the colours.
    for (int c = 0; c < 3; ++c) {
      double v = 0;
      for (int p = 0; p < 5; ++p) {
        const ColorEntry& e = profile.colors[static_cast<size_t>(p)];
        v += std::stod(rows[x + 1][3 + static_cast<size_t>(p)]) * (c == 0 ? e.r : c == 1 ? e.g : e.b);
      }
      EXPECT_NEAR(bars.at(x, 0)[c], std::rint(std::clamp(v, 0.0, 1.0) * 255), 1.5) << "column " << x;
    }
  }
  std::sort(opaqueByVolume.begin(), opaqueByVolume.end());
  for (size_t i = 1; i < opaqueByVolume.size(); ++i)
    EXPECT_LE(opaqueByVolume[i - 1].second, opaqueByVolume[i].second) << "louder frames have taller bars";
  EXPECT_EQ(opaqueByVolume.back().second, 40) << "the loudest frame fills the picture";
  EXPECT_LE(opaqueByVolume.front().second, 2);
}

TEST_F(Cli, StreamWritesOneLinePerHop) {
  const Audio a = ReadAudioFile(Data("vowel_O.wav"));
  std::string mono, stereo;
  for (float x : a.samples) {
    const int16_t s = static_cast<int16_t>(std::lrint(x * 32767.0f));
    const char b[2] = {static_cast<char>(s & 0xff), static_cast<char>((s >> 8) & 0xff)};
    mono.append(b, 2);
    stereo.append(b, 2).append(b, 2);
  }
  mono.push_back('\x01');  // half a sample at the end is ignored
  const Result r = Tool({"stream", "--rate", "16000", "--format", "s16le", "--fps", "100"}, mono);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("latency 32.0 to 42.0 ms"), std::string::npos) << r.err;
  const auto rows = Csv(r.out);
  ASSERT_EQ(rows.size(), 1 + a.samples.size() / 160);
  for (size_t i = 1; i < rows.size(); ++i) EXPECT_NEAR(std::stod(rows[i][0]), i * 0.01, 1e-4);
  // Once the ring holds the vowel, the lines name it.
  EXPECT_GE(OwnShare(r.out, "O"), 0.8);

  const Result two = Tool({"stream", "--rate", "16000", "--channels", "2", "--fps", "100"}, stereo);
  ASSERT_EQ(two.code, 0) << two.err;
  EXPECT_EQ(two.out, r.out);
}

TEST_F(Cli, ErrorsSayWhatIsWrongAndLeaveNoOutput) {
  Write("text.wav", "this is not audio, only text\n");
  Write("empty.wav", "");
  Write("nosamples.wav", Wav16(0));
  Write("silent.wav", Wav16(4000));
  Write("notjson.json", "{ \"means\": [1, 2");
  std::string wrongCount = Profile::Default().ToJson();
  wrongCount.replace(wrongCount.find("\"mfccCount\": 12"), 15, "\"mfccCount\": 11");
  Write("short.json", wrongCount);
  const std::string out = Path("out.csv"), png = Path("out.png");
  const std::string sample = Data("sample.wav");
  const std::set<std::string> inputs = Listing(dir_);

  struct Case {
    std::vector<std::string> args;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {{"analyze", Path("missing.wav"), "-o", out}, 1, "cannot open '" + Path("missing.wav") + "'"},
      {{"analyze", Path("text.wav"), "-o", out}, 1, "not an audio file"},
      {{"analyze", Path("empty.wav"), "-o", out}, 1, "empty"},
      {{"analyze", Path("nosamples.wav"), "-o", out}, 1, "the recording is empty"},
      {{"analyze", sample, "--profile", Path("notjson.json"), "-o", out}, 1, "not valid JSON"},
      {{"analyze", sample, "--profile", Path("short.json"), "-o", out}, 1, "profile has 12 values, expected mfccCount = 11"},
      {{"analyze", sample, "--profile", Path("nothere.json"), "-o", out}, 1, "cannot open"},
      {{"analyze", sample, "-o", Path("no/dir/out.csv")}, 1, "cannot write"},
      // The timeline is fine but a picture cannot be written: neither appears.
      {{"analyze", sample, "-o", out, "--bars", png, "--heatmap", Path("no/dir/h.png")}, 1, "cannot write"},
      {{"analyze", sample, "--fps", "0", "-o", out}, 2, "--fps"},
      {{"analyze", sample, "--format", "xml", "-o", out}, 2, "--format"},
      {{"analyze", sample, "--jobs", "0", "-o", out}, 2, "--jobs"},
      {{"analyze", sample, "--silence-label", "A", "-o", out}, 2, "silence label 'A'"},
      {{"analyze", sample, "--frobnicate", "-o", out}, 2, "--frobnicate"},
      {{"analyze"}, 2, "file is required"},
      {{}, 2, "a command is required"},
      {{"dance"}, 2, "dance"},
      {{"calibrate", "A", "-o", out}, 2, "'A' is not PHONEME=FILE"},
      {{"calibrate", "A=" + Path("silent.wav"), "-o", out}, 1, "'A' has no voiced frame"},
      {{"calibrate", "A=" + Path("text.wav"), "-o", out}, 1, "not an audio file"},
      {{"calibrate", "A=" + Data("vowel_A.wav"), "--mfcc", "30", "--mel-channels", "20", "-o", out}, 1,
       "melChannels must be more than mfccCount"},
      {{"stream", "--format", "s16le"}, 2, "--rate is required"},
      {{"stream", "--rate", "8000"}, 2, "--rate: input rate 8000 Hz is below"},
      {{"stream", "--rate", "16000", "--format", "u8"}, 2, "--format"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += " " + a;
    const Result r = Tool(c.args);
    EXPECT_EQ(r.code, c.code) << shown << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << shown << ": " << r.err;
    EXPECT_EQ(r.err.rfind("orovox: ", 0), 0u) << shown << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << shown << ": " << r.err;
    EXPECT_TRUE(r.out.empty()) << shown << ": " << r.out;
    EXPECT_EQ(Listing(dir_), inputs) << shown << ": an output or temporary file was left";
  }
}

TEST_F(Cli, HelpGoesToStandardOutput) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"analyze", "--help"}, {"calibrate", "-h"}, {"stream", "--help"}}) {
    const Result r = Tool(args);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Usage:"), std::string::npos);
    EXPECT_TRUE(r.err.empty());
  }
  EXPECT_NE(Tool({"analyze", "--help"}).out.find("--heatmap"), std::string::npos);
}

}  // namespace
}  // namespace Orovox
