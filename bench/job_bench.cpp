// The analysis job per block, in the reference configuration (48 kHz input,
// 3072-sample block, 16 kHz analysis so N = 1024, 30 mel channels, 12 MFCC,
// 5 phonemes) with each comparison method, and at 44.1 kHz and 16 kHz input
// with the block that gives the same N = 1024 (2822 and 1024 samples).
//
//   LipSyncJob/<rate>/<impl>/<method>  one Execute per iteration; impl is a
//       set (through the host) or ref_<set>, the scalar transcription of the
//       whole job. Counters: tracked allocations per block, whether the set's
//       results match its reference bit for bit, and the work the machine
//       limits are computed from (filter pairs, transform sine-cosine pairs,
//       other transcendental calls).
//   LipSyncStages/<rate>/<set>  the job's stages as the corresponding
//       entries called in sequence on the same data, each lap timed by the
//       time-stamp counter: per-stage median microseconds and share of their
//       sum. Medians, because the machine is shared and a descheduled
//       stretch must not land on one stage; the thread's CPU clock would be
//       steadier but costs a system call (about 1.5 us here) per reading.
#include <x86intrin.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>

#include "bench_support.h"

namespace Orovox::Bench {
namespace {

struct Config {
  const char* name;
  int32_t inputRate;
  int32_t blockLength;
};
constexpr Config kConfigs[] = {{"48k", 48000, 3072}, {"44k1", 44100, 2822}, {"16k", 16000, 1024}};
constexpr int32_t kAnalysisRate = 16000, kChannels = 30, kCoefficients = 12, kPhonemes = 5;
const char* const kMethodNames[] = {"Manhattan", "Euclidean", "Cosine"};

// A filled record and the buffers it points at.
struct Fixture {
  std::vector<float> samples, means, deviations, profiles, mfcc, scores;
  std::vector<AnalysisSummary> summary{AnalysisSummary{}};
  LipSyncJob job{};

  Fixture(const Config& c, int32_t method)
      : samples(VoiceSignal(c.blockLength, float(c.inputRate))),
        means(kCoefficients, 0.0f),
        deviations(kCoefficients),
        profiles(size_t(kCoefficients) * kPhonemes),
        mfcc(kCoefficients),
        scores(kPhonemes) {
    for (int i = 0; i < kCoefficients; ++i) deviations[size_t(i)] = 10.0f + float(i);
    job.samples = {samples.data(), c.blockLength, kAllocatorNone};
    job.writePosition = c.blockLength / 3;
    job.inputRate = c.inputRate;
    job.analysisRate = kAnalysisRate;
    job.melChannelCount = kChannels;
    job.comparisonMethod = method;
    job.coefficientMeans = {means.data(), kCoefficients, kAllocatorNone};
    job.coefficientDeviations = {deviations.data(), kCoefficients, kAllocatorNone};
    job.phonemeProfiles = {profiles.data(), kCoefficients * kPhonemes, kAllocatorNone};
    job.mfccOut = {mfcc.data(), kCoefficients, kAllocatorNone};
    job.phonemeScores = {scores.data(), kPhonemes, kAllocatorNone};
    job.summary = {summary.data(), 1, kAllocatorNone};
    // Profiles near the block's own MFCC, so that the scores are not all zero.
    Reference::Execute<MathSse2>(job);
    for (int p = 0; p < kPhonemes; ++p)
      for (int i = 0; i < kCoefficients; ++i)
        profiles[size_t(p * kCoefficients + i)] = mfcc[size_t(i)] * (1.0f + 0.1f * float(p - 2)) + float(p);
  }
  std::vector<uint32_t> Outputs() const {
    std::vector<uint32_t> bits;
    for (float v : mfcc) bits.push_back(std::bit_cast<uint32_t>(v));
    for (float v : scores) bits.push_back(std::bit_cast<uint32_t>(v));
    bits.push_back(std::bit_cast<uint32_t>(summary[0].volume));
    bits.push_back(uint32_t(summary[0].mainPhonemeIndex));
    return bits;
  }
};

void RunReference(const Impl& impl, LipSyncJob& job) {
  if (impl.set == VariantSet::Avx2)
    Reference::Execute<MathAvx2>(job);
  else
    Reference::Execute<MathSse2>(job);
}

// What the block costs at the machine's limits, as counts the report divides
// by the measured rates.
void WorkCounters(benchmark::State& state, const Config& c) {
  const int32_t taps = Reference::LowPassTaps(float(c.inputRate), 500.0f);
  const int32_t N = c.inputRate <= kAnalysisRate ? c.blockLength
                    : c.inputRate % kAnalysisRate != 0
                        ? Reference::Trunc(std::rint(float(c.blockLength) / (float(c.inputRate) / float(kAnalysisRate))))
                        : c.blockLength / (c.inputRate / kAnalysisRate);
  state.counters["filter_pairs"] = double(FilterPairs(c.blockLength, taps));
  state.counters["fft_sincos"] = double(FftSinCos(N));
  // Kernel sines, window cosines, cepstrum cosines, filter-bank exponentials
  // and logarithm, decibel logarithms, scoring powers.
  state.counters["other_transcendentals"] =
      double(taps + N + kChannels * kChannels + 3 * kChannels + 1 + kChannels + kPhonemes);
}

void JobBench(benchmark::State& state, Config c, Impl impl, int32_t method) {
  if (!CanRun(state, impl.set)) return;
  Fixture f(c, method);
  bool matches = true;
  if (!impl.reference) {
    RunReference(impl, f.job);
    const std::vector<uint32_t> expected = f.Outputs();
    Lib().set(impl.set).LipSyncJob(f.job);
    matches = f.Outputs() == expected;
  }
  const Host::EntryPoints& entries = Lib().set(impl.set);
  AllocationCount count;
  for (auto _ : state) {
    if (impl.reference)
      RunReference(impl, f.job);
    else
      entries.LipSyncJob(f.job);
    benchmark::ClobberMemory();
  }
  ReportAllocations(state, count);
  if (!impl.reference) state.counters["matches_ref"] = matches ? 1.0 : 0.0;
  WorkCounters(state, c);
}

enum Stage { kEnergy, kUnroll, kLowPass, kDownSample, kConditioning, kSpectrum, kMel, kDecibel, kCepstrum, kScoring, kStages };
const char* const kStageNames[kStages] = {"energy", "unroll", "lowpass", "downsample", "conditioning",
                                          "spectrum", "mel",    "decibel", "dct",        "scoring"};

void StagesBench(benchmark::State& state, Config c, VariantSet set) {
  if (!CanRun(state, set)) return;
  Fixture f(c, Manhattan);
  const KernelTable t = SetTable(set);
  const int32_t L = c.blockLength, rate = c.inputRate;
  const int32_t taps = Reference::LowPassTaps(float(rate), 500.0f);
  const float fc = (float(kAnalysisRate / 2) - 500.0f) / float(rate);
  const float ratio = float(rate) / float(kAnalysisRate);
  const int32_t N = rate <= kAnalysisRate           ? L
                    : rate % kAnalysisRate != 0 ? Reference::Trunc(std::rint(float(L) / ratio))
                                                : L / (rate / kAnalysisRate);
  std::vector<float> U(static_cast<size_t>(L)), copy(static_cast<size_t>(L)), kernel(static_cast<size_t>(taps)), A(static_cast<size_t>(N)), emphasis(static_cast<size_t>(N)),
      S(static_cast<size_t>(N)), M(kChannels), Q(kChannels);
  LipSyncJob scoring = f.job;

  auto now = [] {
    _mm_lfence();
    return __rdtsc();
  };
  std::vector<uint64_t> laps[kStages];
  for (auto& l : laps) l.reserve(1 << 16);
  AllocationCount count;
  const auto wallStart = std::chrono::steady_clock::now();
  const uint64_t tscStart = now();
  for (auto _ : state) {
    uint64_t t0 = now();
    auto lap = [&](Stage s) {
      const uint64_t t1 = now();
      laps[s].push_back(t1 - t0);
      t0 = t1;
    };
    benchmark::DoNotOptimize(t.RootMeanSquare(f.samples.data(), L));
    lap(kEnergy);
    t.UnrollRingBuffer(f.samples.data(), U.data(), L, f.job.writePosition);
    lap(kUnroll);
    std::memcpy(copy.data(), U.data(), size_t(L) * 4);
    t.LowPassFilterDirect(U.data(), L, copy.data(), kernel.data(), taps, fc);
    lap(kLowPass);
    if (rate <= kAnalysisRate)
      std::memcpy(A.data(), U.data(), size_t(L) * 4);
    else if (rate % kAnalysisRate != 0)
      t.ResampleLinear(U.data(), L, A.data(), N, ratio);
    else
      t.GatherStrided(U.data(), A.data(), N, rate / kAnalysisRate);
    lap(kDownSample);
    std::memcpy(emphasis.data(), A.data(), size_t(N) * 4);
    t.PreEmphasize(A.data(), emphasis.data(), N, 0.97f);
    t.ApplyHamming(A.data(), N);
    t.NormalizePeak(A.data(), N, 1.0f);
    lap(kConditioning);
    t.MagnitudeSpectrum(A.data(), S.data(), N);
    lap(kSpectrum);
    t.MelFilterBankDirect(S.data(), M.data(), N, kChannels, float(kAnalysisRate));
    lap(kMel);
    t.PowerToDecibel(M.data(), kChannels);
    lap(kDecibel);
    t.CosineTransform(M.data(), Q.data(), kChannels);
    lap(kCepstrum);
    // Scoring has no entry of its own; its transcription in the set's math stands in.
    std::memcpy(f.mfcc.data(), Q.data() + 1, size_t(kCoefficients) * 4);
    if (set == VariantSet::Avx2)
      benchmark::DoNotOptimize(Reference::ScorePhonemes<MathAvx2>(scoring));
    else
      benchmark::DoNotOptimize(Reference::ScorePhonemes<MathSse2>(scoring));
    lap(kScoring);
    benchmark::ClobberMemory();
  }
  const double tscPerSecond =
      double(now() - tscStart) / std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  ReportAllocations(state, count);
  double median[kStages] = {}, total = 0.0;
  for (int s = 0; s < kStages; ++s) {
    std::vector<uint64_t>& l = laps[s];
    if (l.empty()) continue;
    std::nth_element(l.begin(), l.begin() + l.size() / 2, l.end());
    median[s] = double(l[l.size() / 2]) / tscPerSecond;
    total += median[s];
  }
  for (int s = 0; s < kStages; ++s) {
    state.counters[std::string(kStageNames[s]) + "_us"] = median[s] * 1e6;
    state.counters[std::string(kStageNames[s]) + "_pct"] = total > 0.0 ? 100.0 * median[s] / total : 0.0;
  }
  state.counters["stages_us"] = total * 1e6;
}

const bool kRegistered = [] {
  for (const Config& c : kConfigs) {
    const bool reference = std::strcmp(c.name, "48k") == 0;
    for (int32_t method = Manhattan; method <= (reference ? Cosine : Manhattan); ++method)
      for (const Impl& impl : AllImpls()) {
        const std::string name = std::string("LipSyncJob/") + c.name + "/" + impl.Name() + "/" + kMethodNames[method];
        benchmark::RegisterBenchmark(name.c_str(), JobBench, c, impl, method);
      }
    for (VariantSet s : kSets) {
      const std::string name = std::string("LipSyncStages/") + c.name + "/" + SetName(s);
      benchmark::RegisterBenchmark(name.c_str(), StagesBench, c, s);
    }
  }
  return true;
}();

}  // namespace
}  // namespace Orovox::Bench
