// Every function entry at representative sizes, in each variant set through
// the stand-alone host and, beside it, the scalar transcription in that set's
// math family. Names are Kernel/<entry>/<implementation>/<size>; the report
// divides ref_<set> by <set> for the speed-up.
//
// Kernels that work in place (the transform, the window, the decibels) start
// every call from a fresh copy of their input, so repeated calls never drift
// into denormals or overflow; that copy (at most 32 KiB) is timed with both
// implementations alike.
#include <cstring>

#include "bench_support.h"

namespace Orovox::Bench {
namespace {

using Body = void (*)(benchmark::State&, const KernelTable&, int n);

// The timed loop; tracked allocations are counted from here on, so a
// benchmark's own setup never shows in its allocs counter.
template <class F>
void Loop(benchmark::State& state, F&& call) {
  AllocationCount count;
  for (auto _ : state) call();
  ReportAllocations(state, count);
}

void Items(benchmark::State& state, int64_t perCall) { state.SetItemsProcessed(int64_t(state.iterations()) * perCall); }

// --- Spectrum -------------------------------------------------------------------------
void Fft(benchmark::State& state, const KernelTable& t, int n) {
  const std::vector<float> re0 = VoiceSignal(n, 16000.0f), im0(size_t(n), 0.0f);
  std::vector<float> re(re0), im(im0);
  Loop(state, [&] {
    std::memcpy(re.data(), re0.data(), size_t(n) * 4);
    std::memcpy(im.data(), im0.data(), size_t(n) * 4);
    t.FastFourierTransform(re.data(), im.data(), n);
    benchmark::ClobberMemory();
  });
  Items(state, n);
  state.counters["sincos_pairs"] = double(FftSinCos(n));
}

void Magnitude(benchmark::State& state, const KernelTable& t, int n) {
  const std::vector<float> data = VoiceSignal(n, 16000.0f);
  std::vector<float> spectrum(static_cast<size_t>(n));
  Loop(state, [&] {
    t.MagnitudeSpectrum(data.data(), spectrum.data(), n);
    benchmark::ClobberMemory();
  });
  Items(state, n);
}

// --- Mel analysis ------------------------------------------------------------------------
constexpr int kMelChannels = 30;

void MelBank(benchmark::State& state, const KernelTable& t, int n) {
  const std::vector<float> frame = VoiceSignal(n, 16000.0f);
  std::vector<float> spectrum(static_cast<size_t>(n)), mel(kMelChannels);
  Reference::MagnitudeSpectrum<MathSse2>(frame.data(), spectrum.data(), n);
  Loop(state, [&] {
    t.MelFilterBankDirect(spectrum.data(), mel.data(), n, kMelChannels, 16000.0f);
    benchmark::ClobberMemory();
  });
  Items(state, kMelChannels);
}

void Decibel(benchmark::State& state, const KernelTable& t, int n) {
  const std::vector<float> power = Uniform(n, 1e-3f, 1e3f);
  std::vector<float> data(power);
  Loop(state, [&] {
    std::memcpy(data.data(), power.data(), size_t(n) * 4);
    t.PowerToDecibel(data.data(), n);
    benchmark::ClobberMemory();
  });
  Items(state, n);
}

void Cosine(benchmark::State& state, const KernelTable& t, int n) {
  const std::vector<float> source = Uniform(n, -80.0f, 20.0f);
  std::vector<float> destination(static_cast<size_t>(n));
  Loop(state, [&] {
    t.CosineTransform(source.data(), destination.data(), n);
    benchmark::ClobberMemory();
  });
  Items(state, int64_t(n) * n);  // cosines evaluated
}

template <bool kToMel, bool kFlag>
void MelScale(benchmark::State& state, const KernelTable& t, int n) {
  const std::vector<float> in = kToMel ? Uniform(n, 0.0f, 24000.0f) : Uniform(n, 0.0f, 4000.0f);
  Loop(state, [&] {
    float sum = 0.0f;
    for (int i = 0; i < n; ++i) sum += kToMel ? t.HertzToMel(kFlag, in[size_t(i)]) : t.MelToHertz(kFlag, in[size_t(i)]);
    benchmark::DoNotOptimize(sum);
  });
  Items(state, n);
}

// --- Filtering and resampling ----------------------------------------------------------------
constexpr int kTaps = 298;           // 3.1 x 48000 / 500, made even: the job's filter at 48 kHz
constexpr float kCutoff = 0.15625f;  // (8000 - 500) / 48000

void LowPass(benchmark::State& state, const KernelTable& t, int n) {
  const std::vector<float> input = VoiceSignal(n, 48000.0f);
  std::vector<float> data(input), kernel(kTaps);
  // The filter adds onto data, so repeated calls grow it linearly: no
  // overflow and no denormals within any run's length.
  Loop(state, [&] {
    t.LowPassFilterDirect(data.data(), n, input.data(), kernel.data(), kTaps, kCutoff);
    benchmark::ClobberMemory();
  });
  Items(state, n);
  const double pairs = double(FilterPairs(n, kTaps));
  state.counters["pairs"] = pairs;
  state.counters["pairs_per_s"] = benchmark::Counter(pairs * double(state.iterations()), benchmark::Counter::kIsRate);
}

constexpr float kRatio441 = 44100.0f / 16000.0f;

void Resample(benchmark::State& state, const KernelTable& t, int n) {
  const int inputLength = int(float(n) * kRatio441) + 2;
  const std::vector<float> input = VoiceSignal(inputLength, 44100.0f);
  std::vector<float> output(static_cast<size_t>(n));
  Loop(state, [&] {
    t.ResampleLinear(input.data(), inputLength, output.data(), n, kRatio441);
    benchmark::ClobberMemory();
  });
  Items(state, n);
}

// --- Frame conditioning and measures --------------------------------------------------------------
void Emphasis(benchmark::State& state, const KernelTable& t, int n) {
  const std::vector<float> input = VoiceSignal(n, 16000.0f);
  std::vector<float> output(static_cast<size_t>(n));
  Loop(state, [&] {
    t.PreEmphasize(output.data(), input.data(), n, 0.97f);
    benchmark::ClobberMemory();
  });
  Items(state, n);
}

void Hamming(benchmark::State& state, const KernelTable& t, int n) {
  const std::vector<float> frame = VoiceSignal(n, 16000.0f);
  std::vector<float> data(frame);
  Loop(state, [&] {
    std::memcpy(data.data(), frame.data(), size_t(n) * 4);
    t.ApplyHamming(data.data(), n);
    benchmark::ClobberMemory();
  });
  Items(state, n);
}

void Normalize(benchmark::State& state, const KernelTable& t, int n) {
  std::vector<float> data = VoiceSignal(n, 16000.0f);
  // After the first call the peak is 1 and the scale 1, so the data stays put.
  Loop(state, [&] {
    t.NormalizePeak(data.data(), n, 1.0f);
    benchmark::ClobberMemory();
  });
  Items(state, n);
}

template <int kWhich>
void Measure(benchmark::State& state, const KernelTable& t, int n) {
  const std::vector<float> data = VoiceSignal(n, 16000.0f);
  auto f = kWhich == 0 ? t.PeakMagnitude : kWhich == 1 ? t.RootMeanSquare : t.EuclideanNorm;
  Loop(state, [&] { benchmark::DoNotOptimize(f(data.data(), n)); });
  Items(state, n);
}

void Unroll(benchmark::State& state, const KernelTable& t, int n) {
  const std::vector<float> ring = VoiceSignal(n, 48000.0f);
  std::vector<float> output(static_cast<size_t>(n));
  Loop(state, [&] {
    t.UnrollRingBuffer(ring.data(), output.data(), n, n + n / 3);
    benchmark::ClobberMemory();
  });
  Items(state, n);
}

void Gather(benchmark::State& state, const KernelTable& t, int n) {
  const std::vector<float> input = VoiceSignal(3 * n, 48000.0f);  // the job's decimation by 3
  std::vector<float> output(static_cast<size_t>(n));
  Loop(state, [&] {
    t.GatherStrided(input.data(), output.data(), n, 3);
    benchmark::ClobberMemory();
  });
  Items(state, n);
}

// --- Support entries: the floor of a call through the host ---------------------------------------------
void Probe(benchmark::State& state, const KernelTable& t, int) {
  Loop(state, [&] { benchmark::DoNotOptimize(t.ProbeCompiled()); });
}
void ControlStatus(benchmark::State& state, const KernelTable& t, int) {
  const int32_t bits = t.GetControlStatus();
  Loop(state, [&] {
    t.SetControlStatus(bits);
    benchmark::DoNotOptimize(t.GetControlStatus());
  });
}

struct KernelBench {
  const char* name;
  std::vector<int> sizes;
  bool reference;
  Body body;
};

const KernelBench kKernels[] = {
    {"FastFourierTransform", {256, 1024, 4096}, true, Fft},
    {"MagnitudeSpectrum", {256, 1024, 4096}, true, Magnitude},
    {"LowPassFilterDirect", {256, 1024, 3072, 4096}, true, LowPass},
    {"ResampleLinear", {256, 1024, 4096}, true, Resample},
    {"MelFilterBankDirect", {256, 1024, 4096}, true, MelBank},
    {"PowerToDecibel", {30, 1024}, true, Decibel},
    {"CosineTransform", {30}, true, Cosine},
    {"HertzToMel-ln", {1024}, true, MelScale<true, false>},
    {"HertzToMel-log10", {1024}, true, MelScale<true, true>},
    {"MelToHertz-exp", {1024}, true, MelScale<false, false>},
    {"MelToHertz-pow", {1024}, true, MelScale<false, true>},
    {"PreEmphasize", {1024, 3072}, true, Emphasis},
    {"ApplyHamming", {1024, 3072}, true, Hamming},
    {"NormalizePeak", {1024, 3072}, true, Normalize},
    {"PeakMagnitude", {1024, 3072}, true, Measure<0>},
    {"RootMeanSquare", {1024, 3072}, true, Measure<1>},
    {"EuclideanNorm", {1024, 3072}, true, Measure<2>},
    {"UnrollRingBuffer", {1024, 3072}, true, Unroll},
    {"GatherStrided", {1024, 3072}, true, Gather},
    {"ProbeCompiled", {1}, false, Probe},
    {"SetGetControlStatus", {1}, false, ControlStatus},
};

const bool kRegistered = [] {
  for (const KernelBench& k : kKernels) {
    for (const Impl& impl : k.reference ? AllImpls() : SetImpls()) {
      for (int n : k.sizes) {
        const std::string name = std::string("Kernel/") + k.name + "/" + impl.Name() + "/" + std::to_string(n);
        benchmark::RegisterBenchmark(name.c_str(), [impl, body = k.body, n](benchmark::State& state) {
          if (!CanRun(state, impl.set)) return;
          body(state, TableOf(impl), n);
        });
      }
    }
  }
  return true;
}();

}  // namespace
}  // namespace Orovox::Bench
