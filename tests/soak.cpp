// Soak of the analysis job: many LipSyncJob calls with random valid settings
// through the stand-alone host, each checked for what a long-running game
// cannot afford: a tracked allocation left live, a free with the wrong label
// or of a foreign pointer, an abort, a write outside the output arrays, a
// change to the record or the input, and non-finite results where the inputs
// make every result finite.
//
//   orovox_soak [calls] [--seed S] [--max-seconds T] [--only INDEX]
//
// Call i draws its settings from (seed, i) alone, so `--only i` replays one
// failing call. Exit status 0 when every call passed, 1 otherwise, 2 usage.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "orovox/host.h"

namespace {

using namespace Orovox;
using Host::TrackedAllocator;

constexpr float kGuard = -31337.25f;
constexpr int kGuardCount = 8;

enum Signal { Noise, NoiseAndTone, Silence, NoiseWithNaN, Impulse };

struct Settings {
  int32_t L = 0, writePosition = 0, inputRate = 0, analysisRate = 0, C = 0, m = 0, method = 0, K = 0;
  Signal signal = Noise;
  float amplitude = 1.0f;
  bool zeroDeviation = false;
  int set = 0;  // 0 dispatcher, 1 SSE2 body, 2 AVX2 body
};

std::string Describe(const Settings& s) {
  static const char* kSignals[] = {"noise", "noise+tone", "silence", "noise+NaN", "impulse"};
  static const char* kSets[] = {"dispatcher", "sse2", "avx2"};
  char text[320];
  std::snprintf(text, sizeof text,
                "L=%d writePosition=%d inputRate=%d analysisRate=%d C=%d m=%d method=%d K=%d signal=%s "
                "amplitude=%g zeroDeviation=%d set=%s",
                s.L, s.writePosition, s.inputRate, s.analysisRate, s.C, s.m, s.method, s.K, kSignals[s.signal],
                static_cast<double>(s.amplitude), s.zeroDeviation ? 1 : 0, kSets[s.set]);
  return text;
}

class Draw {
 public:
  Draw(uint64_t seed, uint64_t index) : rng_(seed * 0x9E3779B97F4A7C15ull + index * 0xBF58476D1CE4E5B9ull + 1) {}
  int32_t Int(int64_t lo, int64_t hi) { return static_cast<int32_t>(std::uniform_int_distribution<int64_t>(lo, hi)(rng_)); }
  float Real(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng_); }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < p; }

 private:
  std::mt19937_64 rng_;
};

Settings DrawSettings(Draw& d, bool canRunAvx2) {
  static const int32_t kRates[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000};
  static const int32_t kAnalysisRates[] = {8000, 11025, 12000, 16000, 22050};
  Settings s;
  s.inputRate = d.Chance(0.5) ? kRates[d.Int(0, 7)] : d.Int(8000, 48000);
  const int pick = d.Int(0, 99);
  if (pick < 25) {
    s.analysisRate = s.inputRate;
  } else if (pick < 50) {
    static const int kDivisors[] = {2, 3, 4, 6};
    s.analysisRate = s.inputRate / kDivisors[d.Int(0, 3)];  // often an exact decimation
  } else if (pick < 85) {
    s.analysisRate = kAnalysisRates[d.Int(0, 4)];
    if (s.analysisRate > s.inputRate) s.analysisRate = s.inputRate;
  } else if (pick < 95) {
    s.analysisRate = d.Int(1002, s.inputRate);
  } else {
    s.analysisRate = d.Int(1, 1001);  // a cutoff at or below the transition width
  }
  const int length = d.Int(0, 99);
  s.L = length < 60 ? d.Int(256, 2048) : length < 85 ? d.Int(2049, 4096) : length < 95 ? d.Int(2, 255) : d.Int(0, 1);
  const int position = d.Int(0, 9);
  if (s.L == 0 || position < 7) {
    s.writePosition = s.L > 0 ? d.Int(0, s.L - 1) : d.Int(0, 5);
  } else if (position < 9) {
    s.writePosition = d.Int(s.L, 3 * int64_t{s.L});
  } else {
    s.writePosition = INT32_MAX - (s.L - 1) - d.Int(0, 1000);  // ring sums at the top of int32
  }
  s.C = d.Chance(0.05) ? d.Int(0, 1) : d.Int(2, 40);
  s.m = s.C <= 1 ? 0 : d.Int(0, s.C - 1 < 20 ? s.C - 1 : 20);
  s.method = d.Chance(0.05) ? (d.Chance(0.5) ? 3 : -1) : d.Int(0, 2);
  s.K = d.Int(0, 8);
  const int signal = d.Int(0, 99);
  s.signal = signal < 70 ? Noise : signal < 90 ? NoiseAndTone : signal < 94 ? Silence : signal < 97 ? NoiseWithNaN : Impulse;
  s.amplitude = std::pow(10.0f, d.Real(-3.0f, 0.0f));
  s.zeroDeviation = d.Chance(0.02);
  s.set = d.Int(0, canRunAvx2 ? 2 : 1);
  return s;
}

// The frame length that the down-sampler produces, computed as it does.
int32_t FrameLength(const Settings& s) {
  if (s.inputRate <= s.analysisRate) return s.L;
  if (s.inputRate % s.analysisRate != 0) {
    const float r = static_cast<float>(s.inputRate) / static_cast<float>(s.analysisRate);
    return static_cast<int32_t>(std::rint(static_cast<float>(s.L) / r));
  }
  return s.L / (s.inputRate / s.analysisRate);
}

// True when every result must be finite: a finite, audible, non-silent block,
// a filter whose cutoff is not at its transition width (0/0 taps), a frame
// of two or more samples (a one-sample window divides by zero), positive
// deviations, and every mel channel wide enough to hold spectrum bins (an
// empty channel is 0 and its decibels minus infinity). The narrowest channel
// is the first; asking for 2.5 bins where one would do keeps rounding clear.
bool PromisesFiniteResults(const Settings& s) {
  if (s.signal != Noise && s.signal != NoiseAndTone) return false;
  if (s.zeroDeviation || s.analysisRate / 2 == 500) return false;
  const int32_t N = FrameLength(s);
  if (N < 2) return false;
  if (s.C == 0) return true;
  const double nyquist = s.analysisRate * 0.5;
  const double melStep = 1127.0 * std::log(1.0 + nyquist / 700.0) / (s.C + 1);
  const double binWidth = nyquist / static_cast<double>(static_cast<uint32_t>(N) / 2);
  const double firstUpperCorner = 700.0 * (std::exp(2.0 * melStep / 1127.0) - 1.0);
  return firstUpperCorner >= 2.5 * binWidth;
}

// Arrays handed to the job, each followed by guard values that must survive.
struct GuardedFloats {
  explicit GuardedFloats(int32_t n) : storage(static_cast<size_t>(n) + kGuardCount, kGuard), n(n) {}
  float* data() { return storage.data(); }
  bool GuardsIntact() const {
    for (int i = 0; i < kGuardCount; ++i)
      if (std::memcmp(&storage[static_cast<size_t>(n + i)], &kGuard, 4) != 0) return false;
    return true;
  }
  std::vector<float> storage;
  int32_t n;
};

// The call in progress, for the report when the library traps.
char g_current[512];

void OnFatalSignal(int sig) {
  const char* head = sig == SIGILL ? "orovox_soak: the library trapped (abort path) during: "
                                   : "orovox_soak: fatal signal during: ";
  ssize_t ignored = write(2, head, std::strlen(head));
  ignored = write(2, g_current, std::strlen(g_current));
  ignored = write(2, "\n", 1);
  (void)ignored;
  _exit(1);
}

struct Figures {
  int64_t calls = 0, failures = 0, finiteChecked = 0;
  int64_t perSet[3] = {}, perMethod[4] = {}, perK[9] = {};
};

// Runs call `index`; returns the failures it found (printing each).
int RunOne(const Host::Library& lib, uint64_t seed, uint64_t index, Figures& figures, bool verbose) {
  Draw d(seed, index);
  const Settings s = DrawSettings(d, Host::Library::CanRunAvx2());
  const std::string description = Describe(s);
  std::snprintf(g_current, sizeof g_current, "call %llu (seed %llu): %s", static_cast<unsigned long long>(index),
                static_cast<unsigned long long>(seed), description.c_str());
  if (verbose) std::printf("%s\n", g_current);

  std::vector<float> samples(static_cast<size_t>(s.L));
  const double tone = d.Real(80.0f, 3000.0f) * 2.0 * 3.141592653589793 / s.inputRate;
  for (int32_t i = 0; i < s.L; ++i) {
    float x = 0.0f;
    if (s.signal == Noise || s.signal == NoiseAndTone || s.signal == NoiseWithNaN) x = s.amplitude * d.Real(-1.0f, 1.0f);
    if (s.signal == NoiseAndTone) x += 0.5f * s.amplitude * static_cast<float>(std::sin(tone * i));
    if (s.signal == Impulse && i == s.L / 2) x = s.amplitude;
    samples[static_cast<size_t>(i)] = x;
  }
  if (s.signal == NoiseWithNaN && s.L > 0) samples[static_cast<size_t>(d.Int(0, s.L - 1))] = std::nanf("");
  const std::vector<float> samplesBefore = samples;

  std::vector<float> means(static_cast<size_t>(s.m)), deviations(static_cast<size_t>(s.m));
  std::vector<float> profiles(static_cast<size_t>(s.K) * static_cast<size_t>(s.m));
  for (float& x : means) x = d.Real(-30.0f, 30.0f);
  for (float& x : deviations) x = d.Real(0.1f, 30.0f);
  if (s.zeroDeviation && s.m > 0) deviations[static_cast<size_t>(d.Int(0, s.m - 1))] = 0.0f;
  for (float& x : profiles) x = d.Real(-60.0f, 60.0f);

  GuardedFloats mfcc(s.m), scores(s.K);
  std::vector<AnalysisSummary> summary(2 + kGuardCount, AnalysisSummary{kGuard, -777});

  LipSyncJob job{};
  job.samples = {samples.data(), s.L, kAllocatorNone};
  job.writePosition = s.writePosition;
  job.inputRate = s.inputRate;
  job.analysisRate = s.analysisRate;
  job.melChannelCount = s.C;
  job.comparisonMethod = s.method;
  job.unused = 0x5A5A5A5A;
  job.coefficientMeans = {means.data(), s.m, kAllocatorNone};
  job.coefficientDeviations = {deviations.data(), s.m, kAllocatorNone};
  job.phonemeProfiles = {profiles.data(), s.K * s.m, kAllocatorNone};
  job.mfccOut = {mfcc.data(), s.m, kAllocatorNone};
  job.phonemeScores = {scores.data(), s.K, kAllocatorNone};
  job.summary = {summary.data(), 2, kAllocatorNone};
  const LipSyncJob recordBefore = job;

  const Host::LabelStats before = TrackedAllocator::Stats(kAllocatorTemp);
  const int64_t liveBefore = TrackedAllocator::LiveBlocks();
  const int64_t freeErrorsBefore = TrackedAllocator::FreeErrors();
  const int64_t abortsBefore = Host::AbortCount();

  const Host::EntryPoints& entries = s.set == 0 ? lib.entries() : s.set == 1 ? lib.sse2() : lib.avx2();
  entries.LipSyncJob(job);

  const Host::LabelStats after = TrackedAllocator::Stats(kAllocatorTemp);
  int failures = 0;
  auto fail = [&](const std::string& what) {
    if (failures++ == 0) std::printf("FAIL %s\n", g_current);
    std::printf("  %s\n", what.c_str());
  };

  if (TrackedAllocator::LiveBlocks() != liveBefore) fail("tracked allocations left live");
  if (after.allocations - before.allocations != after.frees - before.frees)
    fail("temporary allocations and frees do not pair up");
  if (after.allocations == before.allocations) fail("no temporary allocation at all (the job always makes some)");
  if (TrackedAllocator::FreeErrors() != freeErrorsBefore) {
    for (const std::string& e : TrackedAllocator::TakeFreeErrors()) fail("host: " + e);
  }
  if (Host::AbortCount() != abortsBefore) fail("abort raised: " + Host::LastAbort().message);
  if (std::memcmp(&job, &recordBefore, sizeof job) != 0) fail("the job record changed");
  if (!samples.empty() && std::memcmp(samples.data(), samplesBefore.data(), samples.size() * sizeof(float)) != 0)
    fail("the sample ring changed");
  if (!mfcc.GuardsIntact()) fail("write past the end of mfccOut");
  if (!scores.GuardsIntact()) fail("write past the end of phonemeScores");
  for (size_t i = 1; i < summary.size(); ++i)
    if (std::memcmp(&summary[i].volume, &kGuard, 4) != 0 || summary[i].mainPhonemeIndex != -777)
      fail("summary element " + std::to_string(i) + " changed");

  // The volume is the root mean square of the block as stored.
  if (s.L > 0 && s.signal != NoiseWithNaN) {
    float e = 0.0f;
    for (float x : samples) e = x * x + e;
    const float v = std::sqrt(e / static_cast<float>(s.L));
    if (std::memcmp(&v, &summary[0].volume, 4) != 0)
      fail("volume " + std::to_string(summary[0].volume) + ", expected " + std::to_string(v));
  }

  // Scores are shares in [0, 1] whatever the inputs, and the main phoneme is
  // the first highest one.
  const int32_t main = summary[0].mainPhonemeIndex;
  if (s.K == 0) {
    if (main != -1) fail("main phoneme " + std::to_string(main) + " with no phonemes");
  } else {
    double total = 0.0;
    float best = -1.0f;
    int32_t bestIndex = -1;
    for (int32_t p = 0; p < s.K; ++p) {
      const float x = scores.data()[p];
      if (!(x >= 0.0f && x <= 1.0f)) fail("score " + std::to_string(p) + " = " + std::to_string(x));
      total += x;
      if (x > best) best = x, bestIndex = p;
    }
    if (total != 0.0 && std::fabs(total - 1.0) > 1e-5) fail("scores sum to " + std::to_string(total));
    if (main != bestIndex) fail("main phoneme " + std::to_string(main) + ", highest score at " + std::to_string(bestIndex));
  }

  if (PromisesFiniteResults(s)) {
    ++figures.finiteChecked;
    for (int32_t i = 0; i < s.m; ++i)
      if (!std::isfinite(mfcc.data()[i])) fail("mfcc " + std::to_string(i) + " = " + std::to_string(mfcc.data()[i]));
    if (!std::isfinite(summary[0].volume)) fail("volume is not finite");
  }

  ++figures.calls;
  ++figures.perSet[s.set];
  ++figures.perMethod[s.method >= 0 && s.method <= 2 ? s.method : 3];
  ++figures.perK[s.K];
  figures.failures += failures;
  return failures;
}

int Usage(FILE* to, int status) {
  std::fprintf(to,
               "usage: orovox_soak [calls] [--seed S] [--max-seconds T] [--only INDEX]\n"
               "  calls          LipSyncJob calls to make (default 100000)\n"
               "  --seed S       base seed of the random settings (default 1)\n"
               "  --max-seconds  stop after this long, reporting the calls made\n"
               "  --only INDEX   replay call INDEX alone, printing its settings\n");
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  int64_t calls = 100000;
  uint64_t seed = 1;
  double maxSeconds = 0.0;
  int64_t only = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "orovox_soak: %s needs a value\n", name);
        std::exit(Usage(stderr, 2));
      }
      return argv[++i];
    };
    char* end = nullptr;
    if (a == "--help" || a == "-h") return Usage(stdout, 0);
    if (a == "--seed") {
      seed = std::strtoull(value("--seed"), &end, 10);
    } else if (a == "--max-seconds") {
      maxSeconds = std::strtod(value("--max-seconds"), &end);
    } else if (a == "--only") {
      only = std::strtoll(value("--only"), &end, 10);
    } else if (!a.empty() && a[0] != '-') {
      calls = std::strtoll(a.c_str(), &end, 10);
    } else {
      std::fprintf(stderr, "orovox_soak: unknown option %s\n", a.c_str());
      return Usage(stderr, 2);
    }
    if (end == nullptr || *end != '\0' || calls < 0) {
      std::fprintf(stderr, "orovox_soak: bad number in %s\n", argv[i]);
      return Usage(stderr, 2);
    }
  }

  std::signal(SIGILL, OnFatalSignal);
  std::signal(SIGSEGV, OnFatalSignal);
  std::signal(SIGBUS, OnFatalSignal);
  std::signal(SIGFPE, OnFatalSignal);

  const Host::Library& lib = Host::Library::Shared();
  Figures figures;
  const Host::LabelStats start = TrackedAllocator::Stats(kAllocatorTemp);
  const auto t0 = std::chrono::steady_clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };
  bool stoppedEarly = false;
  if (only >= 0) {
    RunOne(lib, seed, static_cast<uint64_t>(only), figures, true);
  } else {
    for (int64_t i = 0; i < calls; ++i) {
      if (maxSeconds > 0.0 && (i & 63) == 0 && elapsed() > maxSeconds) {
        stoppedEarly = true;
        break;
      }
      RunOne(lib, seed, static_cast<uint64_t>(i), figures, false);
      if (figures.failures > 50) {
        std::printf("too many failures; stopping\n");
        break;
      }
    }
  }
  const double seconds = elapsed();
  const Host::LabelStats end = TrackedAllocator::Stats(kAllocatorTemp);

  std::printf("soak: %lld LipSyncJob calls in %.1f s (%.0f calls/s), seed %llu%s\n",
              static_cast<long long>(figures.calls), seconds, figures.calls / (seconds > 0 ? seconds : 1),
              static_cast<unsigned long long>(seed), stoppedEarly ? ", stopped at the time bound" : "");
  std::printf("  through: dispatcher %lld, sse2 body %lld, avx2 body %lld\n", static_cast<long long>(figures.perSet[0]),
              static_cast<long long>(figures.perSet[1]), static_cast<long long>(figures.perSet[2]));
  std::printf("  methods: manhattan %lld, euclidean %lld, cosine %lld, other %lld\n",
              static_cast<long long>(figures.perMethod[0]), static_cast<long long>(figures.perMethod[1]),
              static_cast<long long>(figures.perMethod[2]), static_cast<long long>(figures.perMethod[3]));
  std::printf("  phoneme counts 0..8:");
  for (int64_t k : figures.perK) std::printf(" %lld", static_cast<long long>(k));
  std::printf("\n  finite results required and found on %lld calls\n", static_cast<long long>(figures.finiteChecked));
  std::printf("  temporary allocations %lld, frees %lld, live now %lld; bad frees %lld; aborts %lld\n",
              static_cast<long long>(end.allocations - start.allocations),
              static_cast<long long>(end.frees - start.frees), static_cast<long long>(TrackedAllocator::LiveBlocks()),
              static_cast<long long>(TrackedAllocator::FreeErrors()), static_cast<long long>(Host::AbortCount()));
  std::printf("  failures: %lld\n", static_cast<long long>(figures.failures));
  return figures.failures == 0 ? 0 : 1;
}
