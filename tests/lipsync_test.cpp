// The analysis job end to end through the stand-alone host, in every variant
// set: its outputs against the exported entries composed one by one, the
// scoring rules, the edge cases of the road, and its allocations.
#include <cmath>
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "lipsync_reference.h"
#include "support.h"

namespace Orovox::Test {
namespace {

constexpr float kSentinel = 777.25f;

// --- Signals -------------------------------------------------------------------------
struct Vowel {
  const char* name;
  double formants[3];
};
// Formant frequencies of five vowels (Hz); bandwidths are fixed below.
const Vowel kVowels[] = {
    {"a", {730, 1090, 2440}}, {"i", {270, 2290, 3010}}, {"u", {300, 870, 2240}},
    {"e", {530, 1840, 2480}}, {"o", {570, 840, 2410}},
};

// A glottal pulse train through three two-pole formant resonators, taken after
// a warm-up so that the block is steady, scaled to a peak of 0.5.
std::vector<float> VoicedVowel(const Vowel& v, double pitch, int32_t length, double rate = 48000.0) {
  const double bandwidths[3] = {60, 90, 120};
  const int warmUp = 4096;
  std::vector<double> y(static_cast<size_t>(length + warmUp));
  const double period = rate / pitch;
  for (size_t n = 0; n < y.size(); ++n) y[n] = std::fmod(static_cast<double>(n), period) < 1.0 ? 1.0 : 0.0;
  for (int f = 0; f < 3; ++f) {
    const double r = std::exp(-M_PI * bandwidths[f] / rate), c = 2.0 * r * std::cos(2.0 * M_PI * v.formants[f] / rate);
    double y1 = 0, y2 = 0;
    for (double& s : y) {
      const double out = s * (1.0 - r) + c * y1 - r * r * y2;
      y2 = y1;
      y1 = out;
      s = out;
    }
  }
  double peak = 0;
  for (int32_t i = 0; i < length; ++i) peak = std::max(peak, std::fabs(y[static_cast<size_t>(warmUp + i)]));
  std::vector<float> block(static_cast<size_t>(length));
  for (int32_t i = 0; i < length; ++i) block[static_cast<size_t>(i)] = static_cast<float>(0.5 * y[static_cast<size_t>(warmUp + i)] / peak);
  return block;
}

// --- Running the job -------------------------------------------------------------------
// What the host hands the job. Empty means/deviations/profiles are passed as
// null pointers, so that any read of them crashes.
struct JobInput {
  JobSettings settings;
  std::vector<float> samples;
  std::vector<float> means, deviations, profiles;
  int32_t m = 0;  // coefficients (mfccOut length)
  int32_t k = 0;  // phonemes (phonemeScores length)
};

struct JobRun {
  JobOutputs out;
  std::vector<float> cepstrum;  // of the composed reference, when asked
  bool recordUnchanged = false;
  bool samplesUnchanged = false;
  bool outputsInBounds = false;  // guards around every output intact, summary[1] untouched
};

const float* OrNull(const std::vector<float>& v) { return v.empty() ? nullptr : v.data(); }

JobRun RunJob(VariantSet set, const JobInput& in) {
  const int32_t L = static_cast<int32_t>(in.samples.size());
  Buffer samples(in.samples.size(), 1), mfcc(static_cast<size_t>(in.m), 2, kSentinel),
      scores(static_cast<size_t>(in.k), 3, kSentinel), summary(4, 0, kSentinel);
  for (int32_t i = 0; i < L; ++i) samples[static_cast<size_t>(i)] = in.samples[static_cast<size_t>(i)];

  // Host arrays carry label 0: the job must never dispose of them.
  Orovox::LipSyncJob record{};
  record.samples = {samples.data(), L, 0};
  record.writePosition = in.settings.writePosition;
  record.inputRate = in.settings.inputRate;
  record.analysisRate = in.settings.analysisRate;
  record.melChannelCount = in.settings.melChannels;
  record.comparisonMethod = in.settings.method;
  record.unused = 0x5eed;
  record.coefficientMeans = {const_cast<float*>(OrNull(in.means)), static_cast<int32_t>(in.means.size()), 0};
  record.coefficientDeviations = {const_cast<float*>(OrNull(in.deviations)), static_cast<int32_t>(in.deviations.size()), 0};
  record.phonemeProfiles = {const_cast<float*>(OrNull(in.profiles)), static_cast<int32_t>(in.profiles.size()), 0};
  record.mfccOut = {mfcc.data(), in.m, 0};
  record.phonemeScores = {scores.data(), in.k, 0};
  record.summary = {reinterpret_cast<AnalysisSummary*>(summary.data()), 2, 0};
  const Orovox::LipSyncJob before = record;

  Lib().set(set).LipSyncJob(record);

  JobRun run;
  run.recordUnchanged = std::memcmp(&before, &record, sizeof record) == 0;
  run.samplesUnchanged = SameBits(in.samples.data(), samples.data(), L);
  run.outputsInBounds = samples.GuardsIntact() && mfcc.GuardsIntact() && scores.GuardsIntact() &&
                        summary.GuardsIntact() && Bits(summary[2]) == Bits(kSentinel) &&
                        Bits(summary[3]) == Bits(kSentinel);
  run.out.mfcc = mfcc.vec();
  run.out.scores = scores.vec();
  const AnalysisSummary result = reinterpret_cast<const AnalysisSummary*>(summary.data())[0];
  run.out.volume = result.volume;
  run.out.mainPhonemeIndex = result.mainPhonemeIndex;
  return run;
}

JobOutputs Compose(VariantSet set, const JobInput& in, std::vector<float>* cepstrum = nullptr) {
  return ComposeFromEntries(set, in.settings, in.samples, OrNull(in.means), OrNull(in.deviations),
                            OrNull(in.profiles), in.m, in.k, cepstrum);
}

::testing::AssertionResult SameOutputs(const JobOutputs& expected, const JobOutputs& actual) {
  if (auto r = SameBits(expected.mfcc, actual.mfcc); !r) return r << " (mfcc)";
  if (auto r = SameBits(expected.scores, actual.scores); !r) return r << " (scores)";
  if (Bits(expected.volume) != Bits(actual.volume))
    return ::testing::AssertionFailure() << "volume " << actual.volume << ", expected " << expected.volume;
  if (expected.mainPhonemeIndex != actual.mainPhonemeIndex)
    return ::testing::AssertionFailure() << "main phoneme " << actual.mainPhonemeIndex << ", expected "
                                         << expected.mainPhonemeIndex;
  return ::testing::AssertionSuccess();
}

// Runs the job and checks the contract every call must keep.
JobOutputs RunChecked(VariantSet set, const JobInput& in) {
  NoLeaks noLeaks;
  const int64_t aborts = Host::AbortCount();
  const JobRun run = RunJob(set, in);
  EXPECT_TRUE(run.recordUnchanged) << "the job changed its record";
  EXPECT_TRUE(run.samplesUnchanged) << "the job changed samples";
  EXPECT_TRUE(run.outputsInBounds) << "the job wrote outside mfccOut[0..m-1], phonemeScores[0..K-1], summary[0]";
  EXPECT_EQ(Host::AbortCount(), aborts);
  return run.out;
}

std::vector<float> RandomVector(std::mt19937& rng, size_t n, float lo, float hi) {
  std::uniform_real_distribution<float> d(lo, hi);
  std::vector<float> v(n);
  for (float& x : v) x = d(rng);
  return v;
}

// Random means, deviations and profiles of the MFCC's order of magnitude.
void RandomModel(std::mt19937& rng, JobInput& in) {
  in.means = RandomVector(rng, static_cast<size_t>(in.m), -40.0f, 40.0f);
  in.deviations = RandomVector(rng, static_cast<size_t>(in.m), 5.0f, 60.0f);
  in.profiles = RandomVector(rng, static_cast<size_t>(in.m * in.k), -150.0f, 150.0f);
}

// --- End to end ------------------------------------------------------------------------
struct RoadCase {
  const char* what;
  JobSettings settings;
  int32_t length, m, k;
};

// The job equals the entries composed one by one, bit for bit within a set.
// The rows walk the three down-sampling paths, odd rates, rings read from
// other positions and cepstra shorter than the MFCC request.
TEST(LipSyncJob, EqualsTheEntriesComposedOneByOne) {
  const RoadCase cases[] = {
      {"voiced vowel, 48 kHz to 16 kHz, Manhattan", {48000, 16000, 30, Manhattan, 0}, 3072, 12, 5},
      {"voiced vowel, Euclidean", {48000, 16000, 30, Euclidean, 0}, 3072, 12, 5},
      {"voiced vowel, Cosine", {48000, 16000, 30, Cosine, 0}, 3072, 12, 5},
      {"ring read from the middle", {48000, 16000, 30, Manhattan, 1000}, 3072, 12, 5},
      {"interpolated, odd analysis rate", {48000, 11025, 26, Euclidean, 17}, 2000, 12, 4},
      {"interpolated, 44.1 kHz to 16 kHz", {44100, 16000, 20, Cosine, 5}, 1500, 10, 3},
      {"odd rate, exact ratio", {45003, 15001, 24, Manhattan, 0}, 1200, 8, 3},
      {"equal rates copy", {16000, 16000, 30, Euclidean, 3}, 1024, 12, 5},
      {"target above the source copies", {8000, 16000, 18, Manhattan, 2}, 512, 6, 2},
      {"few taps: 31 raised to 32", {5000, 2500, 10, Cosine, 0}, 300, 5, 3},
      {"tap count 0: no filtering", {64, 64, 4, Manhattan, 7}, 65, 3, 2},
      {"one mel channel, no MFCC", {48000, 16000, 1, Manhattan, 0}, 960, 0, 2},
  };
  std::mt19937 rng(7);
  for (VariantSet set : Sets()) {
    for (const RoadCase& c : cases) {
      SCOPED_TRACE(std::string(SetName(set)) + ": " + c.what);
      JobInput in;
      in.settings = c.settings;
      in.samples = VoicedVowel(kVowels[0], 118.0, c.length, c.settings.inputRate);
      in.m = c.m;
      in.k = c.k;
      RandomModel(rng, in);
      const JobOutputs expected = Compose(set, in);
      EXPECT_TRUE(SameOutputs(expected, RunChecked(set, in)));
    }
  }
}

// Profiles are the MFCC of five vowels at 120 Hz; the same vowels 5 % higher
// and at another phase must each pick their own profile under every method.
// (Much further apart, the power of 100 sends every cosine score to 0.)
TEST(LipSyncJob, VowelProfilesPickTheirOwnVowel) {
  const int32_t m = 12, k = 5;
  for (VariantSet set : Sets()) {
    JobInput in;
    in.samples.resize(3072);
    in.m = m;
    std::vector<float> profiles;
    for (const Vowel& v : kVowels) {
      in.samples = VoicedVowel(v, 120.0, 3072);
      const std::vector<float> mfcc = RunChecked(set, in).mfcc;
      profiles.insert(profiles.end(), mfcc.begin(), mfcc.end());
    }
    // Standardise with the spread of the profiles themselves.
    in.means.assign(m, 0.0f);
    in.deviations.assign(m, 0.0f);
    for (int32_t i = 0; i < m; ++i) {
      double sum = 0, squares = 0;
      for (int32_t p = 0; p < k; ++p) sum += profiles[static_cast<size_t>(p * m + i)];
      const double mean = sum / k;
      for (int32_t p = 0; p < k; ++p) squares += std::pow(profiles[static_cast<size_t>(p * m + i)] - mean, 2);
      in.means[static_cast<size_t>(i)] = static_cast<float>(mean);
      in.deviations[static_cast<size_t>(i)] = static_cast<float>(std::sqrt(squares / (k - 1)));
    }
    in.profiles = profiles;
    in.k = k;
    for (int32_t method : {Manhattan, Euclidean, Cosine}) {
      in.settings.method = method;
      for (int32_t p = 0; p < k; ++p) {
        in.samples = VoicedVowel(kVowels[p], 126.0, 3072);
        std::rotate(in.samples.begin(), in.samples.begin() + 211, in.samples.end());
        const JobOutputs out = RunChecked(set, in);
        EXPECT_EQ(out.mainPhonemeIndex, p) << SetName(set) << " method " << method << " vowel " << kVowels[p].name;
        float total = 0.0f;
        for (float s : out.scores) total += s;
        EXPECT_NEAR(total, 1.0f, 1e-5f);
      }
    }
  }
}

// --- Scoring ---------------------------------------------------------------------------
// Profiles built around the block's own MFCC x.
enum class Profile {
  Own,       // x itself
  Far,       // x + 1e20: infinitely far under every method, raw score 0
  Opposite,  // -x: with zero means, the standardised vectors point apart
  NanFirst,  // x with a NaN first coefficient
  Shifted,   // x + 3: a finite distance
};

struct ScoringCase {
  const char* what;
  int32_t method;
  bool zeroMeans;
  std::vector<Profile> profiles;
  std::vector<float> shares;  // expected; empty: check against the reference shares only
  int32_t index;
};

// The vowel block with K = 0: gives x, the MFCC every case is built around.
JobInput ScoringInput(VariantSet set, int32_t m, std::mt19937& rng) {
  JobInput in;
  in.samples = VoicedVowel(kVowels[3], 125.0, 3072);
  in.m = m;
  in.means = RandomVector(rng, static_cast<size_t>(m), -30.0f, 30.0f);
  in.deviations = RandomVector(rng, static_cast<size_t>(m), 4.0f, 50.0f);
  (void)set;
  return in;
}

std::vector<float> BuildProfiles(const std::vector<float>& x, const std::vector<Profile>& kinds) {
  std::vector<float> out;
  for (Profile kind : kinds) {
    for (size_t i = 0; i < x.size(); ++i) {
      float v = x[i];
      if (kind == Profile::Far) v = x[i] + 1e20f;
      if (kind == Profile::Opposite) v = -x[i];
      if (kind == Profile::NanFirst && i == 0) v = NAN;
      if (kind == Profile::Shifted) v = x[i] + 3.0f;
      out.push_back(v);
    }
  }
  return out;
}

TEST(LipSyncJob, ScoresAreSharesAndTheFirstMaximumWins) {
  using P = Profile;
  const ScoringCase cases[] = {
      {"equal best scores: the lower index wins", Manhattan, false, {P::Far, P::Own, P::Own}, {0, 0.5f, 0.5f}, 1},
      {"equal best scores, Euclidean", Euclidean, false, {P::Far, P::Own, P::Own}, {0, 0.5f, 0.5f}, 1},
      {"equal best scores, Cosine", Cosine, false, {P::Far, P::Own, P::Own}, {0, 0.5f, 0.5f}, 1},
      {"opposite direction scores 0 under Cosine", Cosine, true, {P::Opposite, P::Own}, {0, 1}, 1},
      {"all raw scores 0: index 0, not -1", Euclidean, false, {P::Far, P::Far}, {0, 0}, 0},
      {"one NaN raw score clears all (Manhattan)", Manhattan, false, {P::Own, P::NanFirst}, {0, 0}, 0},
      {"one NaN raw score clears all (Euclidean)", Euclidean, false, {P::Far, P::Own, P::NanFirst}, {0, 0, 0}, 0},
      {"a NaN similarity scores 0 under Cosine", Cosine, false, {P::NanFirst, P::Own}, {0, 1}, 1},
      {"one phoneme with a positive score gets exactly 1", Manhattan, false, {P::Shifted}, {1}, 0},
      {"own profile scores exactly 1 (Manhattan)", Manhattan, false, {P::Shifted, P::Own}, {}, 1},
      {"own profile scores exactly 1 (Euclidean)", Euclidean, false, {P::Own, P::Shifted}, {}, 0},
  };
  std::mt19937 rng(11);
  for (VariantSet set : Sets()) {
    JobInput in = ScoringInput(set, 12, rng);
    const std::vector<float> x = RunChecked(set, in).mfcc;
    for (const ScoringCase& c : cases) {
      SCOPED_TRACE(std::string(SetName(set)) + ": " + c.what);
      JobInput job = in;
      job.settings.method = c.method;
      if (c.zeroMeans) job.means.assign(job.means.size(), 0.0f);
      job.profiles = BuildProfiles(x, c.profiles);
      job.k = static_cast<int32_t>(c.profiles.size());
      const JobOutputs out = RunChecked(set, job);
      ASSERT_TRUE(SameBits(x, out.mfcc)) << "the same block must give the same MFCC";
      EXPECT_EQ(out.mainPhonemeIndex, c.index);
      if (!c.shares.empty()) {
        EXPECT_TRUE(SameBits(c.shares, out.scores));
      } else {
        // Own raw score 1 exactly, so own share = 1 / (1 + other raw score).
        const size_t own = static_cast<size_t>(c.index), other = 1 - own;
        const float r = ReferenceRawScore(c.method, x.data(), job.means.data(), job.deviations.data(),
                                          job.profiles.data() + other * x.size(), 12, MathOf(set).pow);
        ASSERT_GT(r, 0.0f);
        EXPECT_EQ(Bits(out.scores[own]), Bits(1.0f / (1.0f + r)));
        EXPECT_EQ(Bits(out.scores[other]), Bits(r / (1.0f + r)));
      }
    }
  }
}

// Methods outside 0..2 score 0 without reading means, deviations or
// profiles (null here); with no phonemes the scores are never touched.
TEST(LipSyncJob, UnknownMethodsAndNoPhonemesReadNothing) {
  for (VariantSet set : Sets()) {
    for (int32_t method : {3, -1, 1000}) {
      JobInput in;
      in.settings.method = method;
      in.samples = VoicedVowel(kVowels[1], 110.0, 3072);
      in.m = 12;
      in.k = 4;
      const JobOutputs out = RunChecked(set, in);
      EXPECT_TRUE(SameBits({0, 0, 0, 0}, out.scores)) << SetName(set) << " method " << method;
      EXPECT_EQ(out.mainPhonemeIndex, 0);
    }
    JobInput none;
    none.settings.method = Manhattan;
    none.samples = VoicedVowel(kVowels[1], 110.0, 3072);
    none.m = 12;
    const JobOutputs out = RunChecked(set, none);  // guards catch any write to phonemeScores
    EXPECT_EQ(out.mainPhonemeIndex, -1);
    EXPECT_TRUE(SameOutputs(Compose(set, none), out)) << "volume and MFCC are still written";
  }
}

// --- Edge cases of the road ----------------------------------------------------------------
// Degenerate blocks end in NaN cepstra, so every score is 0 and the main
// phoneme is 0; the volume tells them apart.
TEST(LipSyncJob, DegenerateBlocksScoreZero) {
  struct Case {
    const char* what;
    JobSettings settings;
    std::vector<float> samples;
    int32_t m;
    bool checkVolume;
    float volume;
  };
  const Case cases[] = {
      {"all-zero block", {48000, 16000, 30, Manhattan, 0}, std::vector<float>(3072, 0.0f), 12, true, 0.0f},
      {"empty block: volume 0 / 0", {48000, 16000, 30, Euclidean, 0}, {}, 12, true, NAN},
      {"one-sample frame after decimation", {48000, 16000, 20, Manhattan, 0}, {0.5f, -0.25f, 0.125f}, 8, true,
       std::sqrt((0.25f + 0.0625f + 0.015625f) / 3.0f)},
      {"one-sample frame, copied", {8000, 8000, 20, Cosine, 0}, {-0.75f}, 8, true, 0.75f},
      {"m = 0 under Manhattan", {48000, 16000, 30, Manhattan, 0}, VoicedVowel(kVowels[2], 140.0, 3072), 0, false, 0},
      {"m = 0 under Cosine", {48000, 16000, 30, Cosine, 0}, VoicedVowel(kVowels[2], 140.0, 3072), 0, false, 0},
  };
  std::mt19937 rng(5);
  for (VariantSet set : Sets()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(SetName(set)) + ": " + c.what);
      JobInput in;
      in.settings = c.settings;
      in.samples = c.samples;
      in.m = c.m;
      in.k = 3;
      RandomModel(rng, in);
      if (c.m == 0) in.profiles.assign(3, 1.0f);  // never read with m = 0; not null either
      const JobOutputs out = RunChecked(set, in);
      for (float v : out.mfcc) EXPECT_TRUE(std::isnan(v)) << v;
      EXPECT_TRUE(SameBits({0, 0, 0}, out.scores));
      EXPECT_EQ(out.mainPhonemeIndex, 0);
      if (c.checkVolume) {
        EXPECT_EQ(std::isnan(out.volume), std::isnan(c.volume)) << out.volume;
        if (!std::isnan(c.volume)) {
          EXPECT_EQ(out.volume, c.volume);
        }
      }
      EXPECT_TRUE(SameOutputs(Compose(set, in), out));
    }
  }
}

// The ring is read from writePosition on; positions past its end wrap.
TEST(LipSyncJob, WritePositionWrapsAroundTheRing) {
  const int32_t L = 3072;
  for (VariantSet set : Sets()) {
    JobInput in;
    in.samples = VoicedVowel(kVowels[4], 97.0, L);
    in.m = 12;
    auto mfccAt = [&](int32_t position) {
      in.settings.writePosition = position;
      return RunChecked(set, in).mfcc;
    };
    const std::vector<float> at3 = mfccAt(3);
    EXPECT_TRUE(SameBits(at3, mfccAt(L + 3)));
    EXPECT_TRUE(SameBits(at3, mfccAt(5 * L + 3)));
    EXPECT_FALSE(SameBits(at3, mfccAt(4))) << "another start must change the analysis";
    // Positions outside the host's limits count around the ring and never
    // address memory before it: a negative one backwards from the end, one
    // whose running sum would pass INT32_MAX as its remainder.
    EXPECT_TRUE(SameBits(mfccAt(L - 1), mfccAt(-1)));
    EXPECT_TRUE(SameBits(mfccAt(L - 5), mfccAt(-2 * L - 5)));
    EXPECT_TRUE(SameBits(mfccAt(INT32_MAX % L), mfccAt(INT32_MAX)));
    EXPECT_TRUE(SameBits(mfccAt(INT32_MIN % L + L), mfccAt(INT32_MIN)));
    // Position 0 analyses the samples as stored: the same as a rotated ring
    // read from where its first sample now lies.
    const std::vector<float> asStored = mfccAt(0);
    std::rotate(in.samples.begin(), in.samples.end() - 100, in.samples.end());
    EXPECT_TRUE(SameBits(asStored, mfccAt(100)));
  }
}

// A frame whose peak is exactly 2^-23 is scaled to peak 1, one just below is
// not. With equal rates of 64 Hz there are no filter taps and no resampling;
// an impulse in the middle of 65 samples sits where the window is exactly 1,
// so the scaled frame is bit for bit the frame of an impulse of 1.
TEST(LipSyncJob, PeakNormalisationThresholdIsInclusive) {
  const float threshold = 1.1920929e-7f;
  ASSERT_EQ(threshold, std::ldexp(1.0f, -23));
  for (VariantSet set : Sets()) {
    auto mfccOfImpulse = [&](float height) {
      JobInput in;
      in.settings = {64, 64, 6, Manhattan, 0};
      in.samples.assign(65, 0.0f);
      in.samples[32] = height;
      in.m = 5;
      const JobOutputs out = RunChecked(set, in);
      EXPECT_TRUE(SameOutputs(Compose(set, in), out)) << height;
      return out.mfcc;
    };
    const std::vector<float> unit = mfccOfImpulse(1.0f);
    EXPECT_TRUE(SameBits(unit, mfccOfImpulse(threshold))) << SetName(set);
    EXPECT_FALSE(SameBits(unit, mfccOfImpulse(std::nextafter(threshold, 0.0f)))) << SetName(set);
  }
}

// A host asking for more coefficients than the cepstrum holds after Q[0]
// gets the ones there are and zeros for the rest, never memory past the
// cepstrum.
TEST(LipSyncJob, MfccBeyondTheCepstrumAreZero) {
  struct Case {
    int32_t channels, m;
  };
  const Case cases[] = {{4, 6}, {4, 4}, {2, 5}, {1, 3}, {0, 3}};
  for (VariantSet set : Sets()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(SetName(set)) + ": C = " + std::to_string(c.channels) + ", m = " + std::to_string(c.m));
      JobInput in;
      in.settings = {48000, 16000, c.channels, Manhattan, 0};
      in.samples = VoicedVowel(kVowels[0], 150.0, 3072);
      in.m = c.m;
      std::vector<float> q;
      Compose(set, in, &q);
      const std::vector<float> mfcc = RunChecked(set, in).mfcc;
      for (int32_t i = 0; i < c.m; ++i) {
        if (i + 1 < c.channels) EXPECT_EQ(Bits(mfcc[i]), Bits(q[static_cast<size_t>(i + 1)])) << i;
        else EXPECT_EQ(Bits(mfcc[i]), 0u) << i;
      }
    }
  }
}

// --- Memory ------------------------------------------------------------------------------
// Every allocation of one call, in order: U, the filter's copy and kernel,
// A, the emphasis copy, S with the transform's real and imaginary parts (the
// transform's own scratch nested inside), M and Q; then U, A, S, M, Q freed.
// The sizes show the tap count (always even) and the down-sampling path.
TEST(LipSyncJob, AllocatesInTheOrderOfTheRoad) {
  struct Case {
    const char* what;
    int32_t inputRate, analysisRate, length, channels;
    int32_t taps, frame;
  };
  const Case cases[] = {
      {"decimation by 3", 48000, 16000, 3072, 30, 298, 1024},
      {"interpolation", 48000, 11025, 2000, 26, 298, 459},
      {"equal rates copy; 99 taps raised to 100", 16000, 16000, 1024, 30, 100, 1024},
      {"target above the source copies", 8000, 16000, 512, 20, 50, 512},
      {"31 taps raised to 32, decimation by 2", 5000, 2500, 301, 10, 32, 150},
      {"no taps", 64, 64, 65, 4, 0, 65},
      {"empty block", 48000, 16000, 0, 12, 298, 0},
  };
  using Event = Host::AllocationEvent;
  for (VariantSet set : Sets()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(SetName(set)) + ": " + c.what);
      JobInput in;
      in.settings = {c.inputRate, c.analysisRate, c.channels, Manhattan, 0};
      in.samples = VoicedVowel(kVowels[0], 120.0, c.length, c.inputRate);
      in.m = 3;
      Host::TrackedAllocator::StartRecording();
      RunChecked(set, in);
      const std::vector<Event> events = Host::TrackedAllocator::StopRecording();

      for (const Event& e : events) {
        EXPECT_EQ(e.label, 2);
        if (e.kind != Event::Allocate) continue;
        EXPECT_EQ(e.alignment, 4);
        EXPECT_EQ(e.framesToSkip, 0);
      }
      // Drop the transform's own scratch: the events between the imaginary
      // part's allocation and the real part's free, which must balance.
      const int64_t L = c.length, N = c.frame, C = c.channels;
      std::vector<Event> road(events.begin(), events.begin() + static_cast<ptrdiff_t>(std::min<size_t>(11, events.size())));
      ASSERT_EQ(road.size(), 11u);
      size_t i = road.size();
      int64_t nested = 0, nestedAllocations = 0;
      for (; i < events.size(); ++i) {
        if (events[i].kind == Event::Free && events[i].pointer == road[9].pointer) break;
        nested += events[i].kind == Event::Allocate ? 1 : -1;
        nestedAllocations += events[i].kind == Event::Allocate;
      }
      EXPECT_EQ(nested, 0) << "the transform's scratch must be freed inside it";
      if (N >= 2 && (N & (N - 1)) == 0) {
        EXPECT_EQ(nestedAllocations, 4 * (N - 1));
      }
      for (; i < events.size(); ++i) road.push_back(events[i]);

      const struct {
        Event::Kind kind;
        int at;       // allocation this free releases (index into road), or -1
        int64_t size; // of an allocation
      } expected[] = {
          {Event::Allocate, -1, L * 4},  // 0 U
          {Event::Allocate, -1, L * 4},  // 1 filter copy
          {Event::Allocate, -1, c.taps * 4},  // 2 kernel
          {Event::Free, 1, 0},         {Event::Free, 2, 0},
          {Event::Allocate, -1, N * 4},  // 5 A
          {Event::Allocate, -1, N * 4},  // 6 emphasis copy
          {Event::Free, 6, 0},
          {Event::Allocate, -1, N * 4},  // 8 S
          {Event::Allocate, -1, N * 4},  // 9 real part
          {Event::Allocate, -1, N * 4},  // 10 imaginary part
          {Event::Free, 9, 0},         {Event::Free, 10, 0},
          {Event::Allocate, -1, C * 4},  // 13 M
          {Event::Allocate, -1, C * 4},  // 14 Q
          {Event::Free, 0, 0},         {Event::Free, 5, 0},  {Event::Free, 8, 0},
          {Event::Free, 13, 0},        {Event::Free, 14, 0},
      };
      ASSERT_EQ(road.size(), std::size(expected));
      for (size_t j = 0; j < road.size(); ++j) {
        EXPECT_EQ(road[j].kind, expected[j].kind) << "event " << j;
        if (expected[j].kind == Event::Allocate) EXPECT_EQ(road[j].size, expected[j].size) << "event " << j;
        else EXPECT_EQ(road[j].pointer, road[static_cast<size_t>(expected[j].at)].pointer) << "event " << j;
      }
    }
  }
}

// Many calls with random valid settings leave nothing live and never abort.
TEST(LipSyncJob, RandomSettingsKeepTheAllocatorBalanced) {
  const int32_t rates[] = {8000, 11025, 16000, 22050, 24000, 44100, 48000};
  std::mt19937 rng(2024);
  auto pick = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
  const Host::LabelStats before = Host::TrackedAllocator::Stats(2);
  const int64_t aborts = Host::AbortCount();
  {
    NoLeaks noLeaks;
    for (int call = 0; call < 1000; ++call) {
      const VariantSet set = Sets()[static_cast<size_t>(call) % Sets().size()];
      JobInput in;
      const int32_t length = pick(0, 2048);
      in.settings = {rates[pick(0, 6)], rates[pick(0, 6)], pick(0, 40), pick(-1, 3), pick(0, 3 * length)};
      in.samples = RandomVector(rng, static_cast<size_t>(length), -1.0f, 1.0f);
      in.m = in.settings.melChannels > 1 ? pick(0, in.settings.melChannels - 1) : 0;
      in.k = pick(0, 6);
      RandomModel(rng, in);
      const JobRun run = RunJob(set, in);
      ASSERT_TRUE(run.recordUnchanged && run.samplesUnchanged && run.outputsInBounds) << "call " << call;
    }
  }
  EXPECT_EQ(Host::AbortCount(), aborts);
  EXPECT_GT(Host::TrackedAllocator::Stats(2).allocations - before.allocations, 1000 * 11);
}

}  // namespace
}  // namespace Orovox::Test
