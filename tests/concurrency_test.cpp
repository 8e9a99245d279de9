// Eight threads call every function entry and every single job through the
// dispatchers at the same time, each on buffers of its own. The library keeps
// no mutable state after initialisation, so each thread must get exactly the
// bytes that the same call gives on a quiet process, and the tracked
// allocator, shared by all of them, must end with nothing live.
//
// OROVOX_CONCURRENCY_SECONDS bounds the run (default 2; sanitizer runs
// shorten it). Every thread completes at least one pass over all entries.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "support.h"

namespace Orovox::Test {
namespace {

using Bytes = std::vector<uint8_t>;
using Host::EntryPoints;

constexpr int kThreads = 8;

template <typename T>
void Append(Bytes& out, const T* data, size_t n) {
  const auto* p = reinterpret_cast<const uint8_t*>(data);
  out.insert(out.end(), p, p + n * sizeof(T));
}
template <typename T>
void Append(Bytes& out, const std::vector<T>& v) { Append(out, v.data(), v.size()); }
template <typename T>
void AppendValue(Bytes& out, T v) { Append(out, &v, 1); }

// Inputs differ per thread (the seed), so a result that leaked from one
// thread into another would show.
struct Inputs {
  explicit Inputs(uint32_t seed) : rng(seed) {}
  std::vector<float> Noise(size_t n, float lo = -1.0f, float hi = 1.0f) {
    std::uniform_real_distribution<float> d(lo, hi);
    std::vector<float> v(n);
    for (float& x : v) x = d(rng);
    return v;
  }
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
  std::mt19937 rng;
};

struct Case {
  const char* name;
  std::function<Bytes(const EntryPoints&, uint32_t seed)> run;
};

Bytes RunLipSync(const EntryPoints& e, uint32_t seed) {
  Inputs in(seed);
  const int L = 1024 + in.Int(0, 200), C = 26, m = 12, K = 5;
  std::vector<float> samples = in.Noise(static_cast<size_t>(L));
  std::vector<float> means = in.Noise(m, -20.0f, 20.0f), deviations = in.Noise(m, 1.0f, 30.0f);
  std::vector<float> profiles = in.Noise(static_cast<size_t>(K * m), -40.0f, 40.0f);
  std::vector<float> mfcc(m), scores(K);
  std::vector<AnalysisSummary> summary(1);
  LipSyncJob job{};
  job.samples = {samples.data(), L, kAllocatorNone};
  job.writePosition = in.Int(0, 2 * L);
  job.inputRate = 48000;
  job.analysisRate = 16000;
  job.melChannelCount = C;
  job.comparisonMethod = static_cast<int32_t>(seed % 3);
  job.coefficientMeans = {means.data(), m, kAllocatorNone};
  job.coefficientDeviations = {deviations.data(), m, kAllocatorNone};
  job.phonemeProfiles = {profiles.data(), K * m, kAllocatorNone};
  job.mfccOut = {mfcc.data(), m, kAllocatorNone};
  job.phonemeScores = {scores.data(), K, kAllocatorNone};
  job.summary = {summary.data(), 1, kAllocatorNone};
  e.LipSyncJob(job);
  Bytes out;
  Append(out, mfcc);
  Append(out, scores);
  Append(out, summary);
  return out;
}

Bytes RunHeatmap(const EntryPoints& e, uint32_t seed) {
  Inputs in(seed);
  const int width = 37, height = 11;
  std::vector<float> values = in.Noise(width * height, -0.5f, 1.5f);
  std::vector<Rgba32Pixel> pixels(width * height);
  PaintHeatmapJob job{};
  job.pixels = {pixels.data(), width * height, kAllocatorNone};
  job.values = {values.data(), width * height, kAllocatorNone};
  job.width = width;
  job.height = height;
  job.minValue = 0.0f;
  job.maxValue = 1.0f;
  e.PaintHeatmapJob(job);
  Bytes out;
  Append(out, pixels);
  return out;
}

Bytes RunPhonemeBars(const EntryPoints& e, uint32_t seed) {
  Inputs in(seed);
  const int width = 40, height = 16, phonemes = 5;
  std::vector<ColorEntry> colors(4);
  for (ColorEntry& c : colors) c = {in.Noise(1, 0, 1)[0], in.Noise(1, 0, 1)[0], in.Noise(1, 0, 1)[0], 1.0f};
  std::vector<float> weights = in.Noise(width * phonemes, 0.0f, 1.0f), levels = in.Noise(width, -0.2f, 1.2f);
  std::vector<Rgba32Pixel> pixels(width * height);
  PaintPhonemeBarsJob job{};
  job.pixels = {pixels.data(), width * height, kAllocatorNone};
  job.colors = {colors.data(), static_cast<int32_t>(colors.size()), kAllocatorNone};
  job.weights = {weights.data(), width * phonemes, kAllocatorNone};
  job.levels = {levels.data(), width, kAllocatorNone};
  job.width = width;
  job.height = height;
  job.phonemeCount = phonemes;
  job.smoothing = 0.3f;
  e.PaintPhonemeBarsJob(job);
  Bytes out;
  Append(out, pixels);
  return out;
}

// A buffer `n` long of the thread's noise, transformed in place by `f`.
Case InPlace(const char* name, int n, void (*f)(const EntryPoints&, float*, int32_t)) {
  return {name, [n, f](const EntryPoints& e, uint32_t seed) {
            Inputs in(seed);
            std::vector<float> data = in.Noise(static_cast<size_t>(n + in.Int(0, 9)), 0.001f, 2.0f);
            f(e, data.data(), static_cast<int32_t>(data.size()));
            Bytes out;
            Append(out, data);
            return out;
          }};
}

Case Measure(const char* name, float (*f)(const EntryPoints&, const float*, int32_t)) {
  return {name, [f](const EntryPoints& e, uint32_t seed) {
            Inputs in(seed);
            std::vector<float> data = in.Noise(static_cast<size_t>(1000 + in.Int(0, 9)));
            Bytes out;
            AppendValue(out, f(e, data.data(), static_cast<int32_t>(data.size())));
            return out;
          }};
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  cases.push_back({"ProbeCompiled", [](const EntryPoints& e, uint32_t) {
                     Bytes out;
                     AppendValue(out, static_cast<uint8_t>(e.ProbeCompiled()));
                     return out;
                   }});
  // Each thread writes its own rounding mode and must read back its own, not
  // a neighbour's; the caller's register is restored before any arithmetic.
  cases.push_back({"SetControlStatus+GetControlStatus", [](const EntryPoints& e, uint32_t seed) {
                     const int32_t saved = e.GetControlStatus();
                     // Exception flags cleared, masks set; rounding, flush-to-zero and
                     // denormals-are-zero differ from thread to thread.
                     const int32_t mine =
                         0x1F80 | static_cast<int32_t>((seed % 4) << 13) | ((seed & 4) != 0 ? 0x8040 : 0);
                     e.SetControlStatus(mine);
                     std::this_thread::yield();
                     const int32_t read = e.GetControlStatus();
                     e.SetControlStatus(saved);
                     Bytes out;
                     AppendValue(out, read);
                     return out;
                   }});
  cases.push_back({"ResampleLinear", [](const EntryPoints& e, uint32_t seed) {
                     Inputs in(seed);
                     std::vector<float> input = in.Noise(700);
                     const float ratio = 0.4f + 0.3f * static_cast<float>(seed % 7);
                     const int outputLength = static_cast<int>(698.0f / ratio);
                     std::vector<float> output(static_cast<size_t>(outputLength));
                     e.ResampleLinear(input.data(), 700, output.data(), outputLength, ratio);
                     Bytes out;
                     Append(out, output);
                     return out;
                   }});
  cases.push_back({"CosineTransform", [](const EntryPoints& e, uint32_t seed) {
                     Inputs in(seed);
                     const int n = 40 + in.Int(0, 24);
                     std::vector<float> source = in.Noise(static_cast<size_t>(n), -80.0f, 10.0f), destination(n);
                     e.CosineTransform(source.data(), destination.data(), n);
                     Bytes out;
                     Append(out, destination);
                     return out;
                   }});
  cases.push_back({"MelFilterBankDirect", [](const EntryPoints& e, uint32_t seed) {
                     Inputs in(seed);
                     std::vector<float> spectrum = in.Noise(512, 0.0f, 4.0f), mel(26);
                     e.MelFilterBankDirect(spectrum.data(), mel.data(), 512, 26, 16000.0f);
                     Bytes out;
                     Append(out, mel);
                     return out;
                   }});
  cases.push_back({"FastFourierTransform", [](const EntryPoints& e, uint32_t seed) {
                     Inputs in(seed);
                     std::vector<float> re = in.Noise(256), im = in.Noise(256);
                     e.FastFourierTransform(re.data(), im.data(), 256);
                     Bytes out;
                     Append(out, re);
                     Append(out, im);
                     return out;
                   }});
  cases.push_back({"MagnitudeSpectrum", [](const EntryPoints& e, uint32_t seed) {
                     Inputs in(seed);
                     std::vector<float> data = in.Noise(128), spectrum(128);
                     e.MagnitudeSpectrum(data.data(), spectrum.data(), 128);
                     Bytes out;
                     Append(out, spectrum);
                     return out;
                   }});
  cases.push_back({"PreEmphasize", [](const EntryPoints& e, uint32_t seed) {
                     Inputs in(seed);
                     std::vector<float> input = in.Noise(1003), output(1003);
                     e.PreEmphasize(output.data(), input.data(), 1003, 0.97f);
                     Bytes out;
                     Append(out, output);
                     return out;
                   }});
  cases.push_back({"GatherStrided", [](const EntryPoints& e, uint32_t seed) {
                     Inputs in(seed);
                     std::vector<float> input = in.Noise(999), output(333);
                     e.GatherStrided(input.data(), output.data(), 333, 3);
                     Bytes out;
                     Append(out, output);
                     return out;
                   }});
  cases.push_back({"UnrollRingBuffer", [](const EntryPoints& e, uint32_t seed) {
                     Inputs in(seed);
                     std::vector<float> ring = in.Noise(777), output(777);
                     e.UnrollRingBuffer(ring.data(), output.data(), 777, in.Int(0, 2000));
                     Bytes out;
                     Append(out, output);
                     return out;
                   }});
  cases.push_back({"LowPassFilterDirect", [](const EntryPoints& e, uint32_t seed) {
                     Inputs in(seed);
                     std::vector<float> input = in.Noise(600), data = input, kernel(32);
                     e.LowPassFilterDirect(data.data(), 600, input.data(), kernel.data(), 32, 0.2f);
                     Bytes out;
                     Append(out, data);
                     Append(out, kernel);
                     return out;
                   }});
  cases.push_back({"HertzToMel+MelToHertz", [](const EntryPoints& e, uint32_t seed) {
                     Inputs in(seed);
                     Bytes out;
                     for (float f : in.Noise(64, 0.0f, 24000.0f)) {
                       for (bool flag : {false, true}) {
                         const float mel = e.HertzToMel(flag, f);
                         AppendValue(out, mel);
                         AppendValue(out, e.MelToHertz(flag, mel));
                       }
                     }
                     return out;
                   }});
  cases.push_back(InPlace("ApplyHamming", 1000, [](const EntryPoints& e, float* d, int32_t n) { e.ApplyHamming(d, n); }));
  cases.push_back(InPlace("PowerToDecibel", 1000, [](const EntryPoints& e, float* d, int32_t n) { e.PowerToDecibel(d, n); }));
  cases.push_back(InPlace("NormalizePeak", 1000, [](const EntryPoints& e, float* d, int32_t n) { e.NormalizePeak(d, n, 1.0f); }));
  cases.push_back(Measure("PeakMagnitude", [](const EntryPoints& e, const float* d, int32_t n) { return e.PeakMagnitude(d, n); }));
  cases.push_back(Measure("RootMeanSquare", [](const EntryPoints& e, const float* d, int32_t n) { return e.RootMeanSquare(d, n); }));
  cases.push_back(Measure("EuclideanNorm", [](const EntryPoints& e, const float* d, int32_t n) { return e.EuclideanNorm(d, n); }));
  cases.push_back({"PaintHeatmapJob", RunHeatmap});
  cases.push_back({"PaintPhonemeBarsJob", RunPhonemeBars});
  cases.push_back({"LipSyncJob", RunLipSync});
  return cases;
}

double SecondsFromEnvironment() {
  const char* text = std::getenv("OROVOX_CONCURRENCY_SECONDS");
  if (text == nullptr) return 2.0;
  const double s = std::atof(text);
  return s > 0.0 ? s : 2.0;
}

TEST(Concurrency, EightThreadsThroughTheDispatchersMatchTheQuietResult) {
  const EntryPoints& e = Lib().entries();
  const std::vector<Case> cases = Cases();
  const int64_t liveBefore = Host::TrackedAllocator::LiveBlocks();
  const int64_t freeErrorsBefore = Host::TrackedAllocator::FreeErrors();
  const int64_t abortsBefore = Host::AbortCount();

  // The quiet results, one per thread and case, taken before any thread starts.
  std::vector<std::vector<Bytes>> expected(kThreads);
  for (int t = 0; t < kThreads; ++t)
    for (const Case& c : cases) expected[t].push_back(c.run(e, static_cast<uint32_t>(t + 1)));

  struct Outcome {
    int64_t calls = 0;
    int64_t mismatches = 0;
    std::string first;
  };
  std::vector<Outcome> outcomes(kThreads);
  std::atomic<int> ready{0};
  const auto budget = std::chrono::duration<double>(SecondsFromEnvironment());
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();  // start together
      const auto start = std::chrono::steady_clock::now();
      Outcome& o = outcomes[t];
      // Each pass starts at another case so that different entries overlap.
      for (size_t pass = 0; pass == 0 || std::chrono::steady_clock::now() - start < budget; ++pass) {
        for (size_t k = 0; k < cases.size(); ++k) {
          const size_t i = (k + pass + static_cast<size_t>(t)) % cases.size();
          const Bytes got = cases[i].run(e, static_cast<uint32_t>(t + 1));
          ++o.calls;
          if (got != expected[t][i] && o.mismatches++ == 0) o.first = cases[i].name;
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();

  int64_t calls = 0;
  for (int t = 0; t < kThreads; ++t) {
    calls += outcomes[t].calls;
    EXPECT_EQ(outcomes[t].mismatches, 0) << "thread " << t << ", first in " << outcomes[t].first;
    EXPECT_GE(outcomes[t].calls, static_cast<int64_t>(cases.size()));
  }
  EXPECT_EQ(Host::TrackedAllocator::LiveBlocks(), liveBefore) << "tracked allocations left live";
  EXPECT_EQ(Host::TrackedAllocator::FreeErrors(), freeErrorsBefore) << "bad frees reported by the host";
  EXPECT_EQ(Host::AbortCount(), abortsBefore);
  RecordProperty("calls", static_cast<int>(calls));
  std::printf("%lld concurrent calls over %zu entries on %d threads\n", static_cast<long long>(calls), cases.size(),
              kThreads);
}

}  // namespace
}  // namespace Orovox::Test
