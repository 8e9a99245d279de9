// The C++ API: profiles and their JSON, the analyzer's rates and ring,
// calibration statistics, and audio input.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <unistd.h>

#include "orovox/orovox.h"
#include "support.h"

namespace Orovox {
namespace {

using nlohmann::json;
using Test::SameBits;

std::string Data(const std::string& name) { return std::string(OROVOX_DATA_DIR) + "/" + name; }

const char* const kVowels[] = {"A", "I", "U", "E", "O"};

// A minimal RIFF/WAVE file: 16-bit PCM (format 1) or 32-bit float (format 3).
std::string Wav(const std::vector<float>& interleaved, int channels, int rate, bool asFloat) {
  const uint32_t width = asFloat ? 4 : 2;
  const uint32_t dataBytes = static_cast<uint32_t>(interleaved.size()) * width;
  std::string s;
  auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i))); };
  auto u16 = [&](uint16_t v) { s.push_back(static_cast<char>(v)); s.push_back(static_cast<char>(v >> 8)); };
  s += "RIFF";
  u32(36 + dataBytes);
  s += "WAVEfmt ";
  u32(16);
  u16(asFloat ? 3 : 1);
  u16(static_cast<uint16_t>(channels));
  u32(static_cast<uint32_t>(rate));
  u32(static_cast<uint32_t>(rate) * channels * width);
  u16(static_cast<uint16_t>(channels * width));
  u16(static_cast<uint16_t>(width * 8));
  s += "data";
  u32(dataBytes);
  for (float x : interleaved) {
    if (asFloat) {
      uint32_t u;
      std::memcpy(&u, &x, 4);
      u32(u);
    } else {
      u16(static_cast<uint16_t>(static_cast<int16_t>(std::lrint(x * 32767.0f))));
    }
  }
  return s;
}

// Linear interpolation to a higher rate, for the rate cases of the analyzer.
std::vector<float> Upsample(const std::vector<float>& in, int from, int to) {
  std::vector<float> out(static_cast<size_t>(static_cast<double>(in.size()) * to / from));
  for (size_t i = 0; i < out.size(); ++i) {
    const double pos = static_cast<double>(i) * from / to;
    const size_t k = static_cast<size_t>(pos);
    const double frac = pos - static_cast<double>(k);
    const float a = in[std::min(k, in.size() - 1)], b = in[std::min(k + 1, in.size() - 1)];
    out[i] = static_cast<float>(a + (b - a) * frac);
  }
  return out;
}

// Every block of a recording, `hop` samples apart, analysed on its own.
std::vector<Frame> Frames(const Analyzer& a, const std::vector<float>& samples, size_t hop) {
  std::vector<Frame> frames;
  for (size_t s = 0; s + a.blockLength() <= samples.size(); s += hop) frames.push_back(a.analyzeBlock(&samples[s]));
  return frames;
}

// --- Profiles ----------------------------------------------------------------------------

void ExpectSameProfile(const Profile& a, const Profile& b) {
  EXPECT_EQ(a.names, b.names);
  ASSERT_EQ(a.colors.size(), b.colors.size());
  for (size_t i = 0; i < a.colors.size(); ++i) {
    const float ca[4] = {a.colors[i].r, a.colors[i].g, a.colors[i].b, a.colors[i].a};
    const float cb[4] = {b.colors[i].r, b.colors[i].g, b.colors[i].b, b.colors[i].a};
    EXPECT_TRUE(SameBits(ca, cb, 4)) << "colour " << i;
  }
  EXPECT_TRUE(SameBits(a.means, b.means));
  EXPECT_TRUE(SameBits(a.deviations, b.deviations));
  EXPECT_TRUE(SameBits(a.profiles, b.profiles));
  EXPECT_EQ(a.analysisRate, b.analysisRate);
  EXPECT_EQ(a.melChannels, b.melChannels);
  EXPECT_EQ(a.mfccCount, b.mfccCount);
  EXPECT_EQ(a.method, b.method);
}

TEST(Profile, DefaultIsTheFiveVowelsAndSurvivesJsonAndFiles) {
  const Profile p = Profile::Default();
  EXPECT_EQ(p.names, (std::vector<std::string>{"A", "I", "U", "E", "O"}));
  EXPECT_NO_THROW(p.Validate());
  ExpectSameProfile(p, Profile::FromJson(p.ToJson()));

  // Odd values must come back bit for bit too.
  Profile q = p;
  q.means[0] = 1.0f / 3.0f;
  q.deviations[1] = 1e-30f;
  q.profiles[2] = -123456.789f;
  q.method = Euclidean;
  char dir[] = "/tmp/orovox_api_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/p.json";
  q.Save(path);
  ExpectSameProfile(q, Profile::Load(path));
  std::remove(path.c_str());
  rmdir(dir);
}

TEST(Profile, JsonErrorsNameTheField) {
  const json good = json::parse(Profile::Default().ToJson());
  struct Case {
    const char* what;
    std::function<void(json&)> edit;
    const char* message;
  };
  const Case cases[] = {
      {"missing means", [](json& j) { j.erase("means"); }, "means is missing"},
      {"short means", [](json& j) { j["means"].erase(0); }, "means has 11 values, expected mfccCount = 12"},
      {"zero deviation", [](json& j) { j["deviations"][3] = 0; }, "deviations[3] must be greater than 0"},
      {"negative deviation", [](json& j) { j["deviations"][0] = -1.5; }, "deviations[0] must be greater than 0"},
      {"value beyond float", [](json& j) { j["phonemes"][1]["profile"][2] = 1e39; },
       "phonemes[1].profile[2] is not a finite number"},
      {"text for a number", [](json& j) { j["means"][4] = "7"; }, "means[4] must be a number"},
      {"short phoneme profile", [](json& j) { j["phonemes"][2]["profile"].erase(0); },
       "phonemes[2].profile has 11 values"},
      {"unknown method", [](json& j) { j["method"] = "fastest"; }, "method 'fastest' is not one of"},
      {"method as number", [](json& j) { j["method"] = 0; }, "method must be one of"},
      {"fractional count", [](json& j) { j["mfccCount"] = 12.5; }, "mfccCount must be an integer"},
      {"too few channels", [](json& j) { j["melChannels"] = 12; }, "melChannels must be more than mfccCount"},
      {"zero rate", [](json& j) { j["analysisRate"] = 0; }, "analysisRate must be between"},
      {"no phonemes", [](json& j) { j["phonemes"] = json::array(); }, "phonemes must name at least one phoneme"},
      {"duplicate name", [](json& j) { j["phonemes"][3]["name"] = "A"; }, "phonemes[3].name 'A' appears twice"},
      {"comma in name", [](json& j) { j["phonemes"][0]["name"] = "a,b"; }, "phonemes[0].name 'a,b' may not contain"},
      {"missing name", [](json& j) { j["phonemes"][4].erase("name"); }, "phonemes[4].name is missing"},
      {"colour above 1", [](json& j) { j["phonemes"][1]["color"][0] = 2; }, "phonemes[1].color channels must lie"},
      {"two-channel colour", [](json& j) { j["phonemes"][1]["color"] = {0.5, 0.5}; },
       "phonemes[1].color must have 3 or 4 channels"},
      {"other format", [](json& j) { j["format"] = "something-else"; }, "format must be"},
      {"future version", [](json& j) { j["version"] = 2; }, "version is not supported"},
  };
  for (const Case& c : cases) {
    json j = good;
    c.edit(j);
    try {
      Profile::FromJson(j.dump());
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.what << ": " << e.what();
    }
  }
  for (const char* text : {"", "{", "[1, 2]", "{\"means\": NaN}"})
    EXPECT_THROW(Profile::FromJson(text), Error) << text;
  // A colour may be omitted; the phoneme then gets one of its own.
  json j = good;
  j["phonemes"][0].erase("color");
  EXPECT_NO_THROW(Profile::FromJson(j.dump()));
}

TEST(Profile, ValidateCatchesWhatJsonCannotExpress) {
  Profile p = Profile::Default();
  p.colors.pop_back();
  EXPECT_THROW(p.Validate(), Error);
  p = Profile::Default();
  p.method = static_cast<ComparisonMethod>(3);
  EXPECT_THROW(p.Validate(), Error);
  p = Profile::Default();
  p.profiles[7] = NAN;
  EXPECT_THROW(p.Validate(), Error);
  EXPECT_THROW(p.ToJson(), Error);  // nothing invalid is ever written
  EXPECT_THROW(Analyzer(p, 16000), Error);
}

// --- Analyzer ------------------------------------------------------------------------------

TEST(Analyzer, BlockLengthGivesAPowerOfTwoFrameAtEveryRate) {
  struct Case {
    int32_t input, analysis, frame;
    size_t block;
  };
  // Equal rates keep the block; multiples decimate; the rest interpolate,
  // where rint(L / r) must come out exactly at the frame length.
  const Case cases[] = {{16000, 16000, 1024, 1024}, {48000, 16000, 1024, 3072}, {32000, 16000, 1024, 2048},
                        {96000, 16000, 2048, 12288}, {44100, 16000, 1024, 0},   {22050, 16000, 1024, 0},
                        {16001, 16000, 1024, 0},     {192000, 11025, 512, 0}};
  for (const Case& c : cases) {
    const size_t l = Analyzer::BlockLengthFor(c.input, c.analysis, c.frame);
    if (c.block != 0) {
      EXPECT_EQ(l, c.block) << c.input;
    } else {
      const float r = static_cast<float>(c.input) / static_cast<float>(c.analysis);
      EXPECT_EQ(std::rintf(static_cast<float>(l) / r), static_cast<float>(c.frame)) << c.input;
      EXPECT_NEAR(static_cast<double>(l), c.frame * static_cast<double>(c.input) / c.analysis, r) << c.input;
    }
  }
  EXPECT_EQ(Analyzer::DefaultFrameLength(16000), 1024);
  EXPECT_EQ(Analyzer::DefaultFrameLength(8000), 512);
  EXPECT_EQ(Analyzer(Profile::Default(), 44100).frameLength(), 1024);

  const std::pair<int32_t, const char*> bad[] = {{8000, "below the profile's analysis rate"}, {0, "below"},
                                                 {-44100, "below"}, {1000000, "above"}};
  for (const auto& [rate, message] : bad) {
    try {
      Analyzer(Profile::Default(), rate);
      ADD_FAILURE() << rate << " accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
  for (int32_t frame : {1000, 32, 32768, -1024})
    EXPECT_THROW(Analyzer(Profile::Default(), 16000, AnalyzerOptions{frame, 0.01f}), Error) << frame;
  EXPECT_THROW(Analyzer(Profile::Default(), 16000, AnalyzerOptions{0, NAN}), Error);
}

TEST(Analyzer, RingAnalysesTheLastBlockInTimeOrder) {
  Orovox::Test::NoLeaks noLeaks;
  const Audio a = ReadAudioFile(Data("vowel_E.wav"));
  Analyzer analyzer(Profile::Default(), a.rate);
  const size_t block = analyzer.blockLength();
  ASSERT_GT(a.samples.size(), 2 * block);

  // Pieces of odd sizes, some longer than the ring, wrap it at every offset.
  std::mt19937 rng(5);
  size_t at = 0;
  while (at < a.samples.size()) {
    const size_t n = std::min<size_t>(a.samples.size() - at, rng() % (block + block / 2) + 1);
    analyzer.push(&a.samples[at], n);
    at += n;
    const size_t from = at >= block ? at - block : 0;
    if (at < block) continue;
    const Frame ring = analyzer.analyze();
    const Frame direct = analyzer.analyzeBlock(&a.samples[from]);
    ASSERT_TRUE(SameBits(direct.mfcc, ring.mfcc)) << "after " << at;
    ASSERT_TRUE(SameBits(direct.weights, ring.weights));
    ASSERT_EQ(Orovox::Test::Bits(direct.volume), Orovox::Test::Bits(ring.volume));
    ASSERT_EQ(direct.mainPhoneme, ring.mainPhoneme);
  }

  // A rejected push leaves the ring as it was.
  const Frame before = analyzer.analyze();
  std::vector<float> bad(100, 0.25f);
  bad[60] = INFINITY;
  EXPECT_THROW(analyzer.push(bad), Error);
  bad[60] = NAN;
  EXPECT_THROW(analyzer.push(bad), Error);
  EXPECT_TRUE(SameBits(before.mfcc, analyzer.analyze().mfcc));
  EXPECT_THROW(analyzer.analyzeBlock(nullptr), Error);

  analyzer.reset();
  const Frame silent = analyzer.analyze();
  EXPECT_EQ(silent.volume, 0.0f);
  EXPECT_EQ(silent.mainPhoneme, -1);
}

// Each vowel names itself in most voiced frames, at the fixtures' own rate
// and at the rates that take the decimating and interpolating paths.
TEST(Analyzer, DefaultProfileRecognisesEachVowelAtCommonRates) {
  for (int rate : {16000, 48000, 44100}) {
    for (int v = 0; v < 5; ++v) {
      const Audio a = ReadAudioFile(Data(std::string("vowel_") + kVowels[v] + ".wav"));
      const std::vector<float> samples = rate == a.rate ? a.samples : Upsample(a.samples, a.rate, rate);
      Analyzer analyzer(Profile::Default(), rate);
      int voiced = 0, own = 0;
      for (const Frame& f : Frames(analyzer, samples, static_cast<size_t>(rate / 100))) {
        if (f.volume < analyzer.options().silenceVolume) continue;
        ++voiced;
        own += f.mainPhoneme == v;
      }
      ASSERT_GT(voiced, 10) << kVowels[v] << " at " << rate;
      EXPECT_GE(own, voiced * 8 / 10) << kVowels[v] << " at " << rate << ": " << own << " of " << voiced;
    }
  }
}

// --- Calibration --------------------------------------------------------------------------

TEST(Calibrator, StatisticsOverEveryVoicedFrame) {
  CalibratorOptions o;
  o.mfccCount = 8;
  o.melChannels = 20;
  o.method = Cosine;
  o.hopSeconds = 0.02;
  Calibrator c(o);
  const Audio a = ReadAudioFile(Data("vowel_A.wav")), i = ReadAudioFile(Data("vowel_I.wav"));
  // A's frames come from two recordings: the second is A at half volume.
  std::vector<float> quieter = a.samples;
  for (float& x : quieter) x *= 0.5f;
  c.add("A", a.samples, a.rate);
  c.add("I", i.samples, i.rate);
  c.add("A", quieter, a.rate);
  const Profile p = c.build();
  ASSERT_EQ(p.names, (std::vector<std::string>{"A", "I"}));
  EXPECT_EQ(p.mfccCount, 8);
  EXPECT_EQ(p.method, Cosine);

  // The same frames, taken independently.
  Profile probe = p;
  Analyzer analyzer(probe, a.rate);
  std::vector<std::vector<Frame>> frames(2);
  for (const std::vector<float>* rec : std::vector<const std::vector<float>*>{&a.samples, &quieter})
    for (const Frame& f : Frames(analyzer, *rec, 320))
      if (f.volume >= o.silenceVolume) frames[0].push_back(f);
  for (const Frame& f : Frames(analyzer, i.samples, 320))
    if (f.volume >= o.silenceVolume) frames[1].push_back(f);
  EXPECT_EQ(c.frameCount("A"), frames[0].size());
  EXPECT_EQ(c.frameCount("I"), frames[1].size());

  for (size_t k = 0; k < 8; ++k) {
    double sum = 0, n = 0, sq = 0;
    double own[2] = {0, 0};
    for (int ph = 0; ph < 2; ++ph) {
      for (const Frame& f : frames[static_cast<size_t>(ph)]) sum += f.mfcc[k], n += 1, own[ph] += f.mfcc[k];
      own[ph] /= static_cast<double>(frames[static_cast<size_t>(ph)].size());
    }
    const double mean = sum / n;
    for (const auto& list : frames)
      for (const Frame& f : list) sq += (f.mfcc[k] - mean) * (f.mfcc[k] - mean);
    const double tol = 1e-4 * (1 + std::fabs(mean));
    EXPECT_NEAR(p.means[k], mean, tol) << k;
    EXPECT_NEAR(p.deviations[k], std::sqrt(sq / n), tol) << k;
    EXPECT_NEAR(p.profiles[k], own[0], tol) << k;
    EXPECT_NEAR(p.profiles[8 + k], own[1], tol) << k;
  }
}

TEST(Calibrator, RefusesWhatWouldMakeABadProfile) {
  const Audio a = ReadAudioFile(Data("vowel_A.wav"));
  Calibrator c;
  EXPECT_THROW(c.build(), Error);  // nothing added
  try {
    c.add("O", std::vector<float>(16000, 0.0f), 16000);
    ADD_FAILURE() << "silence accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("'O' has no voiced frame"), std::string::npos) << e.what();
  }
  EXPECT_EQ(c.frameCount("O"), 0u);
  for (const char* name : {"", "a b", "x,y"}) EXPECT_THROW(c.add(name, a.samples, a.rate), Error) << name;
  EXPECT_THROW(c.add("A", a.samples, 8000), Error);  // below the analysis rate
  // One phoneme from one steady recording still varies over its frames.
  c.add("A", a.samples, a.rate);
  EXPECT_NO_THROW(c.build());

  CalibratorOptions o;
  o.melChannels = o.mfccCount;
  EXPECT_THROW(Calibrator{o}, Error);
  o = {};
  o.hopSeconds = 0;
  EXPECT_THROW(Calibrator{o}, Error);
}

// --- Audio input -----------------------------------------------------------------------------

TEST(Audio, DecodesAndMixesDown) {
  // Stereo float: the mono sample is the channels' mean.
  const Audio stereo = DecodeAudio(Wav({0.5f, -0.25f, 1.0f, 1.0f, -1.0f, 0.0f}, 2, 22050, true).data(), 100);
  EXPECT_EQ(stereo.rate, 22050);
  EXPECT_EQ(stereo.samples, (std::vector<float>{0.125f, 1.0f, -0.5f}));
  const std::string pcm = Wav({0.5f, -0.5f}, 1, 8000, false);
  const Audio mono = DecodeAudio(pcm.data(), pcm.size());
  ASSERT_EQ(mono.samples.size(), 2u);
  EXPECT_NEAR(mono.samples[0], 0.5f, 1e-4f);
  const Audio file = ReadAudioFile(Data("sample.wav"));
  EXPECT_EQ(file.rate, 16000);
  EXPECT_GT(file.seconds(), 1.0);
}

TEST(Audio, RejectsWhatIsNotARecording) {
  const std::string nan = Wav({0.1f, NAN, 0.2f}, 1, 16000, true);
  std::string truncated = Wav(std::vector<float>(10, 0.1f), 1, 16000, false);
  truncated.resize(20);
  const std::pair<std::string, const char*> cases[] = {
      {"", "empty"},
      {"just some text, not audio at all", "not an audio file"},
      {Wav({}, 1, 16000, false), "empty"},
      {Wav({0.1f}, 1, 10, false), "sample rate 10 Hz"},
      {Wav({0.1f, 0.2f}, 100, 16000, false), "channel count 100"},
      {nan, "not a finite number"},
      {truncated, "not an audio file"},
  };
  for (const auto& [bytes, message] : cases) {
    try {
      DecodeAudio(bytes.data(), bytes.size());
      ADD_FAILURE() << message << ": accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
  try {
    ReadAudioFile("/nonexistent/x.wav");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("cannot open '/nonexistent/x.wav'"), std::string::npos) << e.what();
  }
  EXPECT_THROW(ReadAudioFile("/tmp"), Error);
}

TEST(PcmDecoder, AnyChunkingGivesTheSameSamples) {
  // s16le stereo frames: (-32768, 0), (16384, 16384), (1, -1).
  const unsigned char s16[] = {0x00, 0x80, 0, 0, 0x00, 0x40, 0x00, 0x40, 1, 0, 0xff, 0xff};
  PcmDecoder whole(PcmFormat::S16LE, 2);
  std::vector<float> expected;
  whole.decode(s16, sizeof s16, expected);
  EXPECT_EQ(expected, (std::vector<float>{-0.5f, 0.5f, 0.0f}));
  for (size_t cut = 0; cut <= sizeof s16; ++cut) {
    PcmDecoder d(PcmFormat::S16LE, 2);
    std::vector<float> got;
    d.decode(s16, cut, got);
    EXPECT_EQ(d.pendingBytes(), cut % 4);
    d.decode(s16 + cut, sizeof s16 - cut, got);
    EXPECT_EQ(got, expected) << "cut at " << cut;
  }

  std::vector<float> f32(1000);
  std::mt19937 rng(3);
  for (float& x : f32) x = std::uniform_real_distribution<float>(-1, 1)(rng);
  std::vector<unsigned char> bytes(f32.size() * 4);
  std::memcpy(bytes.data(), f32.data(), bytes.size());  // x86-64 is little-endian
  PcmDecoder d(PcmFormat::F32LE);
  std::vector<float> got;
  for (size_t at = 0; at < bytes.size();) {
    const size_t n = std::min<size_t>(bytes.size() - at, rng() % 13);
    d.decode(bytes.data() + at, n, got);
    at += n;
  }
  EXPECT_TRUE(SameBits(f32, got));

  EXPECT_THROW(PcmDecoder(PcmFormat::S16LE, 0), Error);
  EXPECT_THROW(PcmDecoder(PcmFormat::F32LE, 65), Error);
  EXPECT_THROW(PcmFormatFromName("u8"), Error);
  EXPECT_EQ(PcmFormatFromName("f32le"), PcmFormat::F32LE);
}

}  // namespace
}  // namespace Orovox
