// The texture jobs (1024 x 64 and 256 x 256, each set and its scalar
// transcription) and the parallel-for mesh jobs over 1,000,000 elements with
// 1 and 2 workers of the host's pool, each beside a memcpy that moves the same
// number of bytes (read plus written) on the same number of pool workers.
#include <time.h>

#include <cstring>

#include "bench_support.h"

namespace Orovox::Bench {
namespace {

struct Size2 {
  int32_t width, height;
};
constexpr Size2 kTextureSizes[] = {{1024, 64}, {256, 256}};

void Heatmap(benchmark::State& state, Impl impl, Size2 size) {
  if (!CanRun(state, impl.set)) return;
  const int32_t n = size.width * size.height;
  std::vector<float> values = Uniform(n, -0.2f, 1.2f);  // a little outside the range, as real data strays
  std::vector<Rgba32Pixel> pixels(static_cast<size_t>(n));
  PaintHeatmapJob job{{pixels.data(), n, kAllocatorNone}, {values.data(), n, kAllocatorNone}, size.width,
                      size.height, 0.0f, 1.0f};
  const Host::EntryPoints& entries = Lib().set(impl.set);
  for (auto _ : state) {
    if (!impl.reference)
      entries.PaintHeatmapJob(job);
    else if (impl.set == VariantSet::Avx2)
      Reference::PaintHeatmap<MathAvx2>(job);
    else
      Reference::PaintHeatmap<MathSse2>(job);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * n);
}

void PhonemeBars(benchmark::State& state, Impl impl, Size2 size) {
  if (!CanRun(state, impl.set)) return;
  constexpr int32_t kPhonemes = 5;
  const int32_t n = size.width * size.height;
  std::vector<ColorEntry> colors = {
      {1, 0, 0, 1}, {1, 1, 0, 1}, {0, 1, 0, 1}, {0, 1, 1, 1}, {0, 0, 1, 1}};
  std::vector<float> weights = Uniform(size.width * kPhonemes, 0.0f, 1.0f);
  std::vector<float> levels = Uniform(size.width, 0.0f, 1.0f, 11);
  std::vector<Rgba32Pixel> pixels(static_cast<size_t>(n));
  PaintPhonemeBarsJob job{{pixels.data(), n, kAllocatorNone},
                          {colors.data(), int32_t(colors.size()), kAllocatorNone},
                          {weights.data(), int32_t(weights.size()), kAllocatorNone},
                          {levels.data(), size.width, kAllocatorNone},
                          size.width,
                          size.height,
                          kPhonemes,
                          0.3f};
  const Host::EntryPoints& entries = Lib().set(impl.set);
  for (auto _ : state) {
    if (impl.reference)
      Reference::PaintPhonemeBars(job);
    else
      entries.PaintPhonemeBarsJob(job);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * n);
}

// --- Mesh jobs ------------------------------------------------------------------------------------
constexpr int32_t kElements = 1000000;
constexpr int32_t kBatch = 16384;  // about 61 ranges: enough to balance two workers, few range calls

enum class MeshJob { Offset16, Widen16, Offset32, InterleaveAll, InterleaveInput0 };
struct MeshCase {
  const char* name;
  MeshJob job;
  int64_t bytesPerElement;  // read plus written
};
constexpr MeshCase kMeshCases[] = {
    {"OffsetIndices16Job", MeshJob::Offset16, 2 + 2},
    {"WidenIndices16Job", MeshJob::Widen16, 2 + 4},
    {"OffsetIndices32Job", MeshJob::Offset32, 4 + 4},
    {"InterleaveVerticesJob-all_inputs", MeshJob::InterleaveAll, (12 + 12 + 8 + 16 + 16 + 8) + 3 * 24},
    {"InterleaveVerticesJob-input0_only", MeshJob::InterleaveInput0, 12 + 3 * 24},
};

// CPU seconds of the whole process: the pool's workers while they run (the
// benchmark thread sleeps meanwhile). A busy machine stretches the wall
// clock but not this, so 2 x (1-worker CPU) / (2-worker CPU) estimates the
// scaling that a quiet machine's wall clock would show, apart from idle ends.
double ProcessCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

void ReportProcessCpu(benchmark::State& state, double cpuStart) {
  if (state.iterations() > 0)
    state.counters["cpu_us"] = (ProcessCpuSeconds() - cpuStart) / double(state.iterations()) * 1e6;
}

StridedSlice Slice(std::vector<uint8_t>& bytes, int32_t stride, int32_t length) {
  return {bytes.data(), stride, length};
}

void Mesh(benchmark::State& state, MeshCase c, VariantSet set, int workers) {
  if (!CanRun(state, set)) return;
  const Host::EntryPoints& entries = Lib().set(set);
  Host::ThreadPool pool(workers);
  const int32_t n = kElements;
  auto buffer = [n](int elementBytes) { return std::vector<uint8_t>(size_t(n) * size_t(elementBytes), 1); };

  std::vector<uint8_t> in16 = buffer(2), in32 = buffer(4), out16 = buffer(2), out32 = buffer(4);
  ::Orovox::OffsetIndices16Job offset16{7, Slice(in16, 2, n), Slice(out16, 2, n)};
  ::Orovox::WidenIndices16Job widen16{7, Slice(in16, 2, n), Slice(out32, 4, n)};
  ::Orovox::OffsetIndices32Job offset32{7, Slice(in32, 4, n), Slice(out32, 4, n)};

  const bool vertices = c.job == MeshJob::InterleaveAll || c.job == MeshJob::InterleaveInput0;
  std::vector<uint8_t> s0, s1, s2, i0, i1, i2, i3, i4, i5;
  ::Orovox::InterleaveVerticesJob interleave{};
  if (vertices) {
    s0 = buffer(24), s1 = buffer(24), s2 = buffer(24), i0 = buffer(12);
    const bool all = c.job == MeshJob::InterleaveAll;
    if (all) i1 = buffer(12), i2 = buffer(8), i3 = buffer(16), i4 = buffer(16), i5 = buffer(8);
    const int32_t present = all ? n : 0;
    interleave = {Slice(s0, 24, n),       Slice(s1, 24, n),       Slice(s2, 24, n),
                  Slice(i0, 12, n),       Slice(i1, 12, present), Slice(i2, 8, present),
                  Slice(i3, 16, present), Slice(i4, 16, present), Slice(i5, 8, present)};
  }
  const double cpuStart = ProcessCpuSeconds();
  for (auto _ : state) {
    switch (c.job) {
      case MeshJob::Offset16: entries.OffsetIndices16Job(offset16, n, pool, kBatch); break;
      case MeshJob::Widen16: entries.WidenIndices16Job(widen16, n, pool, kBatch); break;
      case MeshJob::Offset32: entries.OffsetIndices32Job(offset32, n, pool, kBatch); break;
      default: entries.InterleaveVerticesJob(interleave, n, pool, kBatch); break;
    }
    benchmark::ClobberMemory();
  }
  ReportProcessCpu(state, cpuStart);
  state.SetItemsProcessed(int64_t(state.iterations()) * n);
  state.SetBytesProcessed(int64_t(state.iterations()) * n * c.bytesPerElement);
}

// memcpy of half the job's bytes (so the same bytes are read plus written),
// split evenly over the pool's workers.
void Memcpy(benchmark::State& state, MeshCase c, int workers) {
  Host::ThreadPool pool(workers);
  const size_t bytes = size_t(kElements) * size_t(c.bytesPerElement) / 2;
  std::vector<uint8_t> from(bytes, 1), to(bytes, 2);
  const size_t share = bytes / size_t(workers);
  const double cpuStart = ProcessCpuSeconds();
  for (auto _ : state) {
    pool.RunOnAll([&](int32_t w) {
      const size_t begin = size_t(w) * share, end = w + 1 == workers ? bytes : begin + share;
      std::memcpy(to.data() + begin, from.data() + begin, end - begin);
    });
    benchmark::ClobberMemory();
  }
  ReportProcessCpu(state, cpuStart);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes) * 2);
}

const bool kRegistered = [] {
  for (const Size2& s : kTextureSizes) {
    const std::string size = std::to_string(s.width) + "x" + std::to_string(s.height);
    for (const Impl& impl : AllImpls()) {
      benchmark::RegisterBenchmark(("Texture/PaintHeatmapJob/" + impl.Name() + "/" + size).c_str(), Heatmap, impl, s);
      benchmark::RegisterBenchmark(("Texture/PaintPhonemeBarsJob/" + impl.Name() + "/" + size).c_str(), PhonemeBars,
                                   impl, s);
    }
  }
  // The mesh work runs on the pool's threads, so these are timed by the wall
  // clock; everything else in the suite by the benchmark thread's CPU time.
  for (const MeshCase& c : kMeshCases) {
    for (int workers : {1, 2}) {
      const std::string w = "/workers:" + std::to_string(workers);
      for (VariantSet s : kSets)
        benchmark::RegisterBenchmark((std::string("Mesh/") + c.name + "/" + SetName(s) + w).c_str(), Mesh, c, s,
                                     workers)
            ->UseRealTime();
      benchmark::RegisterBenchmark((std::string("Memcpy/") + c.name + "/memcpy" + w).c_str(), Memcpy, c, workers)
          ->UseRealTime();
    }
  }
  return true;
}();

}  // namespace
}  // namespace Orovox::Bench
