// The machine's limits in the same run as the kernels, so that every figure
// can be read as a fraction of them: the peak rate of independent 8-lane (and
// 4-lane) multiplies and adds, SLEEF's sine and cosine rates in each set's
// family, and the host allocator's rate on the transform's own pattern of
// allocations.
#include <cstdlib>
#include <cstring>

#include "bench_support.h"
#include "peak_kernels.h"

namespace Orovox::Bench {
namespace {

constexpr int64_t kRounds = 1 << 16;

void MulAdd(benchmark::State& state, int lanes) {
  volatile float one = 1.0f;  // unknown to the compiler, so nothing folds
  float sink = 0.0f;
  for (auto _ : state) {
    sink += lanes == 8 ? Peak::MulAdd8(kRounds, one, one) : Peak::MulAdd4(kRounds, one, one);
    benchmark::DoNotOptimize(sink);
  }
  // One pair is one lane's multiply plus one lane's add.
  const double pairs = double(kRounds) * Peak::kChains * lanes;
  state.counters["pairs_per_s"] = benchmark::Counter(pairs * double(state.iterations()), benchmark::Counter::kIsRate);
}

enum class Family { Avx2Vector, Sse2Vector, Avx2Scalar, Sse2Scalar };

void Transcendental(benchmark::State& state, bool sine, Family family) {
  if (family == Family::Avx2Vector && !CanRun(state, VariantSet::Avx2)) return;
  constexpr int n = 1024;
  // The transform's angles: 0 down to almost -2 pi.
  std::vector<float> in(n), out(n);
  for (int i = 0; i < n; ++i) in[size_t(i)] = (float(i) * -6.2831855f) / float(n);
  for (auto _ : state) {
    switch (family) {
      case Family::Avx2Vector: (sine ? Peak::Sin8 : Peak::Cos8)(in.data(), out.data(), n); break;
      case Family::Sse2Vector: (sine ? Peak::Sin4 : Peak::Cos4)(in.data(), out.data(), n); break;
      case Family::Avx2Scalar:
        for (int i = 0; i < n; ++i) out[size_t(i)] = sine ? MathAvx2::Sin(in[size_t(i)]) : MathAvx2::Cos(in[size_t(i)]);
        break;
      case Family::Sse2Scalar:
        for (int i = 0; i < n; ++i) out[size_t(i)] = sine ? MathSse2::Sin(in[size_t(i)]) : MathSse2::Cos(in[size_t(i)]);
        break;
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * n);
}

// The transform's allocations without its arithmetic: four zero-filled
// scratch buffers of n/2 floats per level, recursing twice, freed in order.
void FftPattern(int32_t n) {
  if (n < 2) return;
  const int32_t c = n / 2;
  void* p[4];
  for (auto& q : p) {
    q = Host::TrackedAllocator::Allocate(int64_t{c} * 4, 4, kAllocatorTemp, 0);
    std::memset(q, 0, size_t(c) * 4);
  }
  benchmark::ClobberMemory();
  FftPattern(c);
  FftPattern(c);
  for (auto q : p) Host::TrackedAllocator::Free(q, kAllocatorTemp);
}

void Allocator(benchmark::State& state) {
  const int32_t n = int32_t(state.range(0));
  for (auto _ : state) FftPattern(n);
  state.SetItemsProcessed(int64_t(state.iterations()) * FftAllocations(n));
}

// One allocate-free pair of a small block: the allocator's floor per call,
// tracked (the host's) or plain (the C library's).
void AllocatorPair(benchmark::State& state, bool tracked) {
  for (auto _ : state) {
    if (tracked) {
      void* p = Host::TrackedAllocator::Allocate(16, 4, kAllocatorTemp, 0);
      benchmark::DoNotOptimize(p);
      Host::TrackedAllocator::Free(p, kAllocatorTemp);
    } else {
      void* p = std::malloc(16);
      benchmark::DoNotOptimize(p);
      std::free(p);
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}

const bool kRegistered = [] {
  benchmark::RegisterBenchmark("Limit/MulAdd/8lane", MulAdd, 8);
  benchmark::RegisterBenchmark("Limit/MulAdd/4lane", MulAdd, 4);
  const struct {
    const char* name;
    Family family;
  } families[] = {{"avx2_vector", Family::Avx2Vector},
                  {"sse2_vector", Family::Sse2Vector},
                  {"avx2_scalar", Family::Avx2Scalar},
                  {"sse2_scalar", Family::Sse2Scalar}};
  for (const auto& f : families) {
    benchmark::RegisterBenchmark((std::string("Limit/Sin/") + f.name).c_str(), Transcendental, true, f.family);
    benchmark::RegisterBenchmark((std::string("Limit/Cos/") + f.name).c_str(), Transcendental, false, f.family);
  }
  benchmark::RegisterBenchmark("Limit/Allocator/fft_pattern", Allocator)->Arg(1024);
  benchmark::RegisterBenchmark("Limit/Allocator/tracked_pair_16B", AllocatorPair, true);
  benchmark::RegisterBenchmark("Limit/Allocator/malloc_pair_16B", AllocatorPair, false);
  return true;
}();

}  // namespace
}  // namespace Orovox::Bench
