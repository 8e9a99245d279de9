// What the benchmark files share: the loaded library, the implementations a
// benchmark can run (a variant set's bodies through the stand-alone host, or
// that set's scalar transcription), test signals, and the allocation counter.
#pragma once

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "orovox/host.h"
#include "scalar_reference.h"

namespace Orovox::Bench {

using Host::VariantSet;

inline Host::Library& Lib() { return Host::Library::Shared(); }
inline const char* SetName(VariantSet s) { return s == VariantSet::Avx2 ? "avx2" : "sse2"; }
inline constexpr VariantSet kSets[] = {VariantSet::Sse2, VariantSet::Avx2};

// An implementation under test: a set's bodies, or the scalar transcription
// in that set's math family (named ref_<set>).
struct Impl {
  VariantSet set;
  bool reference;
  std::string Name() const { return std::string(reference ? "ref_" : "") + SetName(set); }
};
inline std::vector<Impl> AllImpls() {
  return {{VariantSet::Sse2, false}, {VariantSet::Avx2, false}, {VariantSet::Sse2, true}, {VariantSet::Avx2, true}};
}
inline std::vector<Impl> SetImpls() { return {{VariantSet::Sse2, false}, {VariantSet::Avx2, false}}; }

// Skips the benchmark on a processor that cannot run the AVX2 set; true when it may run.
inline bool CanRun(benchmark::State& state, VariantSet set) {
  if (set == VariantSet::Avx2 && !Host::Library::CanRunAvx2()) {
    state.SkipWithError("this processor cannot run the AVX2 set");
    return false;
  }
  return true;
}

// The function entries as typed pointers: a set's bodies (resolved by the
// host) or the scalar transcriptions, so that one benchmark body drives both
// through the same kind of indirect call.
struct KernelTable {
#define OROVOX_FUNCTION(number, id, Name, callbacks, R, params, args, impl) R(*Name) params = nullptr;
#define OROVOX_JOB(number, id, Name, Kind, callbacks, Record)
#include "orovox/entry_table.def"
#undef OROVOX_FUNCTION
#undef OROVOX_JOB
};

inline KernelTable SetTable(VariantSet set) {
  const Host::EntryPoints& e = Lib().set(set);
  KernelTable t;
#define OROVOX_FUNCTION(number, id, Name, callbacks, R, params, args, impl) \
  t.Name = reinterpret_cast<R(*) params>(e.raw(number));
#define OROVOX_JOB(number, id, Name, Kind, callbacks, Record)
#include "orovox/entry_table.def"
#undef OROVOX_FUNCTION
#undef OROVOX_JOB
  return t;
}

template <class M>
KernelTable ReferenceTableOf() {
  namespace R = Reference;
  KernelTable t;
  t.ResampleLinear = &R::ResampleLinear;
  t.CosineTransform = &R::CosineTransform<M>;
  t.MelFilterBankDirect = &R::MelFilterBankDirect<M>;
  t.FastFourierTransform = &R::FFT<M>;
  t.PreEmphasize = &R::PreEmphasize;
  t.ApplyHamming = &R::ApplyHamming<M>;
  t.PeakMagnitude = &R::PeakMagnitude;
  t.RootMeanSquare = &R::RootMeanSquare;
  t.MelToHertz = &R::MelToHertz<M>;
  t.EuclideanNorm = &R::EuclideanNorm;
  t.GatherStrided = &R::GatherStrided;
  t.LowPassFilterDirect = &R::LowPassFilterDirect<M>;
  t.HertzToMel = &R::HertzToMel<M>;
  t.MagnitudeSpectrum = &R::MagnitudeSpectrum<M>;
  t.PowerToDecibel = &R::PowerToDecibel<M>;
  t.NormalizePeak = &R::NormalizePeak;
  t.UnrollRingBuffer = &R::UnrollRingBuffer;
  return t;
}

inline KernelTable TableOf(const Impl& impl) {
  if (!impl.reference) return SetTable(impl.set);
  return impl.set == VariantSet::Avx2 ? ReferenceTableOf<MathAvx2>() : ReferenceTableOf<MathSse2>();
}

// A deterministic voice-like test signal in [-1, 1]: a 140 Hz harmonic series
// with a falling envelope, plus a little noise, so that no value is special
// (no zeros, no denormals) and the spectrum has structure.
inline std::vector<float> VoiceSignal(int n, float sampleRate, uint32_t seed = 1) {
  std::vector<float> x(static_cast<size_t>(n));
  uint32_t state = seed * 2654435761u + 1u;
  for (int i = 0; i < n; ++i) {
    const double t = i / double{sampleRate};
    double v = 0.0;
    for (int h = 1; h <= 24; ++h) v += std::sin(2.0 * M_PI * 140.0 * h * t + 0.3 * h) / (h * (1.0 + 0.02 * h * h));
    state = state * 1664525u + 1013904223u;
    const double noise = (static_cast<double>(state >> 8) / double(1u << 24)) - 0.5;
    x[static_cast<size_t>(i)] = static_cast<float>(0.45 * v + 0.02 * noise);
  }
  return x;
}

// Uniform values in [lo, hi).
inline std::vector<float> Uniform(int n, float lo, float hi, uint32_t seed = 7) {
  std::vector<float> x(static_cast<size_t>(n));
  uint32_t state = seed * 2246822519u + 3u;
  for (auto& v : x) {
    state = state * 1664525u + 1013904223u;
    v = lo + (hi - lo) * static_cast<float>(static_cast<double>(state >> 8) / double(1u << 24));
  }
  return x;
}

// Counts the tracked allocations (label 2) made while it lives.
class AllocationCount {
 public:
  AllocationCount() : before_(Host::TrackedAllocator::Stats(kAllocatorTemp).allocations) {}
  int64_t Made() const { return Host::TrackedAllocator::Stats(kAllocatorTemp).allocations - before_; }

 private:
  int64_t before_;
};

// Allocations per iteration as a counter.
inline void ReportAllocations(benchmark::State& state, const AllocationCount& count) {
  if (state.iterations() > 0)
    state.counters["allocs"] = static_cast<double>(count.Made()) / static_cast<double>(state.iterations());
}

// Multiply-add pairs of the low-pass accumulation: output i sums min(i + 1, taps) terms.
inline int64_t FilterPairs(int64_t length, int64_t taps) {
  int64_t pairs = 0;
  for (int64_t i = 0; i < length; ++i) pairs += (i + 1 < taps ? i + 1 : taps);
  return pairs;
}

// Work of the recursive transform at length n: sine-cosine pairs and scratch allocations.
inline int64_t FftSinCos(int64_t n) { return n < 2 ? 0 : n / 2 + 2 * FftSinCos(n / 2); }
inline int64_t FftAllocations(int64_t n) { return n < 2 ? 0 : 4 + 2 * FftAllocations(n / 2); }

}  // namespace Orovox::Bench
