// Index conversion and vertex interleaving jobs, run by the stand-alone
// host's work-stealing pool with several worker counts and batch sizes
// (empty ranges mixed in). Every run must give the bytes of a plain
// single-thread transcription, and touch no byte outside its elements.
#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support.h"

namespace Orovox::Test {
namespace {

using Bytes = std::vector<unsigned char>;

// Entry points under test: each set's bodies and the dispatchers.
struct Runner {
  const char* name;
  const Host::EntryPoints* entries;
};

std::vector<Runner> Runners() {
  std::vector<Runner> runners;
  for (VariantSet s : Sets()) runners.push_back({SetName(s), &Lib().set(s)});
  runners.push_back({"dispatch", &Lib().entries()});
  return runners;
}

// A run of the host: worker count, batch size and the seed of its empty ranges.
struct Schedule {
  int workers;
  int32_t batch;
  uint32_t seed;
};

std::vector<Schedule> Schedules(uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<Schedule> out;
  for (int workers : {1, 2, 8})
    for (int k = 0; k < 3; ++k) {
      const int32_t batch = k == 2 ? 1 + static_cast<int32_t>(rng() % 400) : 1 + static_cast<int32_t>(rng() % 17);
      out.push_back({workers, batch, static_cast<uint32_t>(rng())});
    }
  return out;
}

// One pool per worker count, kept for the whole test run.
Host::ThreadPool& Pool(int workers) {
  static Host::ThreadPool one(1), two(2), eight(8);
  return workers == 1 ? one : workers == 2 ? two : eight;
}

std::string Describe(const Runner& r, const Schedule& s) {
  return std::string(r.name) + " workers " + std::to_string(s.workers) + " batch " + std::to_string(s.batch);
}

Bytes RandomBytes(size_t n, std::mt19937& rng) {
  Bytes b(n);
  for (unsigned char& c : b) c = static_cast<unsigned char>(rng());
  return b;
}

// A strided view over its own byte buffer, with spare bytes on both sides.
// For a negative stride element 0 sits at the top and the elements walk down.
struct StridedBuffer {
  static constexpr size_t kSpare = 40;
  StridedBuffer(int32_t count, int32_t stride, size_t elementSize, std::mt19937& rng) : stride(stride) {
    const size_t span = count > 0 ? static_cast<size_t>(std::abs(stride)) * static_cast<size_t>(count - 1) + elementSize : 0;
    bytes = RandomBytes(span + 2 * kSpare, rng);
    first = kSpare + (stride < 0 && count > 0 ? static_cast<size_t>(-stride) * static_cast<size_t>(count - 1) : 0);
  }
  StridedSlice Slice(int32_t length) { return {bytes.data() + first, stride, length}; }
  unsigned char* At(Bytes& image, int32_t i) const {
    return image.data() + static_cast<ptrdiff_t>(first) + static_cast<ptrdiff_t>(i) * stride;
  }
  Bytes bytes;
  size_t first;
  int32_t stride;
};

::testing::AssertionResult SameBytes(const Bytes& expected, const Bytes& actual) {
  for (size_t i = 0; i < expected.size(); ++i)
    if (expected[i] != actual[i])
      return ::testing::AssertionFailure() << "byte " << i << ": expected " << int{expected[i]} << ", got "
                                           << int{actual[i]};
  return ::testing::AssertionSuccess();
}

// --- Index jobs -------------------------------------------------------------------

enum class IndexJob { Offset16, Offset16Second, Widen16, Offset32 };

struct IndexJobInfo {
  const char* name;
  size_t sourceBytes, destinationBytes;
};

IndexJobInfo Info(IndexJob job) {
  switch (job) {
    case IndexJob::Offset16: return {"OffsetIndices16Job", 2, 2};
    case IndexJob::Offset16Second: return {"OffsetIndices16JobSecond", 2, 2};
    case IndexJob::Widen16: return {"WidenIndices16Job", 2, 4};
    case IndexJob::Offset32: return {"OffsetIndices32Job", 4, 4};
  }
  return {};
}

// Runs one index job. The record's bytes that the job must not read (after the
// offset's own bytes) hold junk.
void RunIndexJob(const Host::EntryPoints& e, IndexJob job, uint32_t offset, StridedSlice source,
                 StridedSlice destination, int32_t count, const Schedule& schedule) {
  Host::ThreadPool& pool = Pool(schedule.workers);
  const Host::ParallelForOptions options{0.3, schedule.seed};
  auto fill = [&](auto& record, size_t offsetBytes) {
    std::memset(&record, 0xA7, sizeof record);
    std::memcpy(&record, &offset, offsetBytes);
    record.source = source;
    record.destination = destination;
  };
  switch (job) {
    case IndexJob::Offset16:
    case IndexJob::Offset16Second: {
      OffsetIndices16Job record;
      fill(record, 2);
      if (job == IndexJob::Offset16)
        e.OffsetIndices16Job(record, count, pool, schedule.batch, options);
      else
        e.OffsetIndices16JobSecond(record, count, pool, schedule.batch, options);
      break;
    }
    case IndexJob::Widen16: {
      WidenIndices16Job record;
      fill(record, 4);
      e.WidenIndices16Job(record, count, pool, schedule.batch, options);
      break;
    }
    case IndexJob::Offset32: {
      OffsetIndices32Job record;
      fill(record, 4);
      e.OffsetIndices32Job(record, count, pool, schedule.batch, options);
      break;
    }
  }
}

// The sum an index job writes, as the element-by-element definition gives it.
uint32_t IndexResult(IndexJob job, uint32_t source, uint32_t offset) {
  if (job == IndexJob::Widen16) return (source & 0xFFFFu) + offset;
  if (job == IndexJob::Offset32) return source + offset;
  return (source + offset) & 0xFFFFu;
}

const IndexJob kIndexJobs[] = {IndexJob::Offset16, IndexJob::Offset16Second, IndexJob::Widen16, IndexJob::Offset32};

TEST(IndexJobsTest, MatchSingleThreadReferenceOverStridedViews) {
  // Strides in bytes; 0 stands for the element size.
  const struct {
    int32_t count;
    int32_t sourceStride, destinationStride;
    bool sameView;
  } kCases[] = {
      {1000, 0, 0, false},   {777, -6, 8, false}, {513, 3, -5, false}, {1000, 16, -16, false},
      {640, 0, 0, true},     {300, -12, 0, true}, {0, 0, 0, false},   {1, -4, 7, false},
  };
  std::mt19937 rng(77);
  for (IndexJob job : kIndexJobs) {
    const IndexJobInfo info = Info(job);
    for (const auto& k : kCases) {
      // One view for both must hold the wider element (widening writes 4 bytes per 2 read).
      const size_t sourceElement = k.sameView ? info.destinationBytes : info.sourceBytes;
      const int32_t sourceStride = k.sourceStride ? k.sourceStride : static_cast<int32_t>(sourceElement);
      int32_t destinationStride = k.destinationStride ? k.destinationStride : static_cast<int32_t>(info.destinationBytes);
      if (k.sameView) destinationStride = sourceStride;
      const uint32_t offset = static_cast<uint32_t>(rng());
      const StridedBuffer sourceInit(k.count, sourceStride, sourceElement, rng);
      const StridedBuffer destinationInit(k.count, destinationStride, info.destinationBytes, rng);

      // Reference: in element order, each element read and then written.
      StridedBuffer expectedSource = sourceInit, expectedDestination = destinationInit;
      Bytes& target = k.sameView ? expectedSource.bytes : expectedDestination.bytes;
      const StridedBuffer& targetView = k.sameView ? expectedSource : expectedDestination;
      for (int32_t i = 0; i < k.count; ++i) {
        uint32_t in = 0;
        std::memcpy(&in, expectedSource.At(expectedSource.bytes, i), info.sourceBytes);
        const uint32_t out = IndexResult(job, in, offset);
        std::memcpy(targetView.At(target, i), &out, info.destinationBytes);
      }

      for (const Runner& runner : Runners())
        for (const Schedule& schedule : Schedules(rng())) {
          SCOPED_TRACE(std::string(info.name) + " " + Describe(runner, schedule) + " count " +
                       std::to_string(k.count) + " strides " + std::to_string(sourceStride) + "/" +
                       std::to_string(destinationStride) + (k.sameView ? " same view" : ""));
          StridedBuffer source = sourceInit, destination = destinationInit;
          StridedSlice destinationSlice = k.sameView ? source.Slice(k.count) : destination.Slice(k.count);
          RunIndexJob(*runner.entries, job, offset, source.Slice(k.count), destinationSlice, k.count, schedule);
          ASSERT_TRUE(SameBytes(expectedSource.bytes, source.bytes)) << "source view";
          if (!k.sameView) {
            ASSERT_TRUE(SameBytes(expectedDestination.bytes, destination.bytes)) << "destination view";
          }
        }
    }
  }
}

// Packed source and destination inside one buffer: where they overlap, a
// later element may read what an earlier one wrote, and the result is that
// of the element order. One worker takes the whole count as one range.
TEST(IndexJobsTest, PackedViewsSharingMemoryFollowTheElementOrder) {
  const int32_t count = 300;
  // Destination start minus source start, in bytes.
  const ptrdiff_t kShifts[] = {0, 2, 4, 10, 64, 66, -2, -6, -64, 1300};
  std::mt19937 rng(5);
  const Bytes initial = RandomBytes(4096, rng);
  const size_t sourceAt = 1000;
  for (IndexJob job : kIndexJobs) {
    const IndexJobInfo info = Info(job);
    const uint32_t offset = static_cast<uint32_t>(rng());
    for (ptrdiff_t shift : kShifts) {
      const size_t destinationAt = static_cast<size_t>(static_cast<ptrdiff_t>(sourceAt) + shift);
      Bytes expected = initial;
      for (int32_t i = 0; i < count; ++i) {
        uint32_t in = 0;
        std::memcpy(&in, expected.data() + sourceAt + static_cast<size_t>(i) * info.sourceBytes, info.sourceBytes);
        const uint32_t out = IndexResult(job, in, offset);
        std::memcpy(expected.data() + destinationAt + static_cast<size_t>(i) * info.destinationBytes, &out,
                    info.destinationBytes);
      }
      for (const Runner& runner : Runners()) {
        SCOPED_TRACE(std::string(info.name) + " " + runner.name + " shift " + std::to_string(shift));
        Bytes arena = initial;
        const StridedSlice source{arena.data() + sourceAt, static_cast<int32_t>(info.sourceBytes), count};
        const StridedSlice destination{arena.data() + destinationAt, static_cast<int32_t>(info.destinationBytes), count};
        RunIndexJob(*runner.entries, job, offset, source, destination, count, Schedule{1, count, 1});
        ASSERT_TRUE(SameBytes(expected, arena));
      }
    }
  }
}

TEST(IndexJobsTest, SumsWrapAndWideningZeroExtends) {
  const struct {
    IndexJob job;
    uint32_t source, offset, expected;
  } kCases[] = {
      {IndexJob::Offset16, 65535, 1, 0},
      {IndexJob::Offset16, 10, 0xFFFD, 7},
      {IndexJob::Offset16Second, 65535, 1, 0},
      {IndexJob::Offset16Second, 10, 0xFFFD, 7},
      {IndexJob::Widen16, 0xFFFF, 1, 65536},
      {IndexJob::Widen16, 0x8000, 0xFFFFFFFFu, 0x7FFF},  // 32768 - 1: the source is never -32768
      {IndexJob::Offset32, 0xFFFFFFFFu, 1, 0},
      {IndexJob::Offset32, 5, 0xFFFFFFFEu, 3},
  };
  const Schedule single{1, 1, 1};
  for (const Runner& runner : Runners())
    for (const auto& k : kCases) {
      const IndexJobInfo info = Info(k.job);
      unsigned char source[4] = {0xEE, 0xEE, 0xEE, 0xEE}, destination[8];
      std::memset(destination, 0xCC, sizeof destination);
      std::memcpy(source, &k.source, info.sourceBytes);
      RunIndexJob(*runner.entries, k.job, k.offset, {source, 0, 1}, {destination + 2, 0, 1}, 1, single);
      uint32_t written = 0;
      std::memcpy(&written, destination + 2, info.destinationBytes);
      EXPECT_EQ(written, k.expected) << runner.name << " " << info.name << " " << k.source << " + " << k.offset;
      EXPECT_EQ(destination[1], 0xCC);
      EXPECT_EQ(destination[2 + info.destinationBytes], 0xCC);
    }
}

// Strides of 1 GiB: element 2 lies 2 GiB away, beyond what a 32-bit product
// of index and stride can reach. The pages are reserved, not committed.
TEST(IndexJobsTest, ElementAddressesAreFormedIn64Bits) {
  const size_t gib = size_t{1} << 30;
  const size_t size = 4 * gib;
  void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (map == MAP_FAILED) GTEST_SKIP() << "cannot reserve 4 GiB of address space";
  unsigned char* base = static_cast<unsigned char*>(map);
  unsigned char* top = base + 3 * gib + 64;  // destination element 0; the view walks down
  for (const Runner& runner : Runners()) {
    for (uint32_t i = 0; i < 4; ++i) {
      const uint32_t v = 1000 * i + 1;
      std::memcpy(base + i * gib, &v, 4);
      std::memset(top - i * gib, 0, 4);
    }
    RunIndexJob(*runner.entries, IndexJob::Offset32, 5, {base, 1 << 30, 4}, {top, -(1 << 30), 4}, 4, {2, 1, 3});
    for (uint32_t i = 0; i < 4; ++i) {
      uint32_t written = 0;
      std::memcpy(&written, top - i * gib, 4);
      EXPECT_EQ(written, 1000 * i + 6) << runner.name << " element " << i;
    }
  }
  munmap(map, size);
}

// --- Vertex interleaving ---------------------------------------------------------

constexpr size_t kInputBytes[6] = {12, 12, 8, 16, 16, 8};

struct InputSpec {
  int32_t length;  // 0: absent, with a null pointer
  int32_t stride;
};

struct VertexCase {
  const char* name;
  int32_t count;
  InputSpec inputs[6];
  int32_t outputStrides[3];  // 0: the three streams share one buffer, 72 bytes per vertex
};

// Planted values that must arrive bit for bit: a signalling NaN with a
// payload, a quiet NaN with a payload and the sign set, -0, a subnormal.
constexpr uint32_t kOddFloats[] = {0x7F800001u, 0xFFC12345u, 0x80000000u, 0x00000001u, 0x7FBFFFFFu};

struct VertexData {
  std::vector<StridedBuffer> inputs;
  std::vector<StridedBuffer> outputs;  // one shared buffer or three
};

VertexData MakeVertexData(const VertexCase& k, std::mt19937& rng) {
  VertexData d;
  for (int n = 0; n < 6; ++n) {
    const bool present = k.inputs[n].length != 0 || n == 0;
    d.inputs.emplace_back(present ? k.count : 0, k.inputs[n].stride, kInputBytes[n], rng);
    if (!present) continue;
    StridedBuffer& b = d.inputs.back();
    for (int32_t i = 0; i < k.count; i += 3) {
      const uint32_t odd = kOddFloats[static_cast<size_t>(i / 3) % 5];
      std::memcpy(b.At(b.bytes, i) + 4 * (static_cast<size_t>(i) % (kInputBytes[n] / 4)), &odd, 4);
    }
  }
  if (k.outputStrides[0] == 0) {
    d.outputs.emplace_back(k.count, 72, 72, rng);
  } else {
    for (int n = 0; n < 3; ++n) d.outputs.emplace_back(k.count, k.outputStrides[n], 24, rng);
  }
  return d;
}

InterleaveVerticesJob MakeVertexRecord(const VertexCase& k, VertexData& d) {
  InterleaveVerticesJob job;
  StridedSlice* inputs[6] = {&job.input0, &job.input1, &job.input2, &job.input3, &job.input4, &job.input5};
  for (int n = 0; n < 6; ++n) {
    const bool present = k.inputs[n].length != 0 || n == 0;
    *inputs[n] = present ? d.inputs[static_cast<size_t>(n)].Slice(k.inputs[n].length)
                         : StridedSlice{nullptr, k.inputs[n].stride, 0};
  }
  StridedSlice* streams[3] = {&job.stream0, &job.stream1, &job.stream2};
  for (int n = 0; n < 3; ++n) {
    if (d.outputs.size() == 1) {
      StridedSlice s = d.outputs[0].Slice(-5);  // output lengths are not read
      s.elements = static_cast<unsigned char*>(s.elements) + 24 * n;
      *streams[n] = s;
    } else {
      *streams[n] = d.outputs[static_cast<size_t>(n)].Slice(0);
    }
  }
  return job;
}

// Vertex i's three records, written out field by field.
void ReferenceInterleave(const VertexCase& k, VertexData& d, std::vector<Bytes>& images) {
  const float one = 1.0f;
  for (int32_t i = 0; i < k.count; ++i) {
    auto in = [&](int n, size_t bytes, unsigned char* to) {
      if (n == 0 || k.inputs[n].length != 0) {
        StridedBuffer& b = d.inputs[static_cast<size_t>(n)];
        std::memcpy(to, b.At(b.bytes, i), bytes);
      } else if (n == 3) {
        for (int f = 0; f < 4; ++f) std::memcpy(to + 4 * f, &one, 4);
      } else {
        std::memset(to, 0, bytes);
      }
    };
    unsigned char* out[3];
    for (int n = 0; n < 3; ++n) {
      if (d.outputs.size() == 1)
        out[n] = d.outputs[0].At(images[0], i) + 24 * n;
      else
        out[n] = d.outputs[static_cast<size_t>(n)].At(images[static_cast<size_t>(n)], i);
    }
    in(0, 12, out[0]);
    in(1, 12, out[0] + 12);
    in(3, 16, out[1]);
    in(2, 8, out[1] + 16);
    in(4, 16, out[2]);
    in(5, 8, out[2] + 16);
  }
}

const VertexCase kVertexCases[] = {
    {"every input present, mixed strides", 900,
     {{900, 12}, {900, -20}, {900, 8}, {900, 36}, {900, -16}, {900, 9}}, {32, -40, 24}},
    {"every optional input absent, input0 length 0", 700,
     {{0, 12}, {0, 12}, {0, -8}, {0, 16}, {0, 1 << 30}, {0, -7}}, {24, 32, -24}},
    {"length -1 counts as present; streams share a buffer", 650,
     {{650, -12}, {-1, 16}, {0, 8}, {-1, -16}, {0, 16}, {-1, 8}}, {0, 0, 0}},
    {"a single vertex", 1, {{1, 12}, {0, 0}, {1, 8}, {0, 0}, {1, 16}, {0, 0}}, {-24, 28, 24}},
};

TEST(InterleaveVerticesTest, MatchesSingleThreadReference) {
  std::mt19937 rng(4242);
  for (const VertexCase& k : kVertexCases) {
    const VertexData initial = MakeVertexData(k, rng);
    VertexData reference = initial;
    std::vector<Bytes> expected;
    for (const StridedBuffer& b : reference.outputs) expected.push_back(b.bytes);
    ReferenceInterleave(k, reference, expected);

    for (const Runner& runner : Runners())
      for (const Schedule& schedule : Schedules(rng())) {
        SCOPED_TRACE(std::string(k.name) + " " + Describe(runner, schedule));
        VertexData d = initial;
        InterleaveVerticesJob job = MakeVertexRecord(k, d);
        Host::ThreadPool& pool = Pool(schedule.workers);
        runner.entries->InterleaveVerticesJob(job, k.count, pool, schedule.batch,
                                              Host::ParallelForOptions{0.3, schedule.seed});
        for (size_t n = 0; n < expected.size(); ++n) ASSERT_TRUE(SameBytes(expected[n], d.outputs[n].bytes)) << "output " << n;
        for (size_t n = 0; n < 6; ++n) ASSERT_TRUE(SameBytes(initial.inputs[n].bytes, d.inputs[n].bytes)) << "input " << n;
      }
  }
}

TEST(InterleaveVerticesTest, AbsentInputsGetTheirDefaults) {
  // Independent of the reference above: the literal defaults of one vertex.
  const VertexCase& k = kVertexCases[1];
  std::mt19937 rng(9);
  VertexData d = MakeVertexData(k, rng);
  InterleaveVerticesJob job = MakeVertexRecord(k, d);
  float position[3];
  std::memcpy(position, d.inputs[0].At(d.inputs[0].bytes, 5), 12);
  for (const Runner& runner : Runners()) {
    Host::ThreadPool& pool = Pool(2);
    runner.entries->InterleaveVerticesJob(job, k.count, pool, 64);
    unsigned char expected0[24] = {}, expected1[24] = {}, expected2[24] = {};
    std::memcpy(expected0, position, 12);
    const float ones[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    std::memcpy(expected1, ones, 16);
    EXPECT_EQ(std::memcmp(d.outputs[0].At(d.outputs[0].bytes, 5), expected0, 24), 0) << runner.name;
    EXPECT_EQ(std::memcmp(d.outputs[1].At(d.outputs[1].bytes, 5), expected1, 24), 0) << runner.name;
    EXPECT_EQ(std::memcmp(d.outputs[2].At(d.outputs[2].bytes, 5), expected2, 24), 0) << runner.name;
  }
}

}  // namespace
}  // namespace Orovox::Test
