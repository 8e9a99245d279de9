// The stand-alone host: tracked allocator and work-stealing thread pool.
#include <atomic>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "support.h"

namespace Orovox::Test {
namespace {

using Host::TrackedAllocator;

// --- Tracked allocator --------------------------------------------------------------
TEST(TrackedAllocator, HonoursSizeAndAlignmentAndCountsPerLabel) {
  const Host::LabelStats before = TrackedAllocator::Stats(5);
  std::vector<std::pair<void*, int64_t>> blocks;
  for (int64_t size : {0, 1, 4, 31, 32, 33, 4000, 70000, 3 << 20}) {
    for (int32_t align : {4, 16, 64, 4096}) {
      void* p = TrackedAllocator::Allocate(size, align, 5, 0);
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % static_cast<uintptr_t>(align), 0u) << size << "/" << align;
      if (size > 0) std::memset(p, 0x5A, static_cast<size_t>(size));  // the whole block is writable
      blocks.push_back({p, size});
    }
  }
  const Host::LabelStats during = TrackedAllocator::Stats(5);
  EXPECT_EQ(during.allocations - before.allocations, static_cast<int64_t>(blocks.size()));
  EXPECT_EQ(during.liveBlocks - before.liveBlocks, static_cast<int64_t>(blocks.size()));
  int64_t bytes = 0;
  for (auto& b : blocks) bytes += b.second;
  EXPECT_EQ(during.liveBytes - before.liveBytes, bytes);
  for (auto& b : blocks) TrackedAllocator::Free(b.first, 5);
  const Host::LabelStats after = TrackedAllocator::Stats(5);
  EXPECT_EQ(after.liveBlocks, before.liveBlocks);
  EXPECT_EQ(after.liveBytes, before.liveBytes);
  EXPECT_EQ(after.frees - before.frees, static_cast<int64_t>(blocks.size()));
}

TEST(TrackedAllocator, ReportsBadFreesWithoutCrashing) {
  TrackedAllocator::TakeFreeErrors();
  const int64_t errors = TrackedAllocator::FreeErrors();

  void* p = TrackedAllocator::Allocate(16, 4, 2, 0);
  TrackedAllocator::Free(p, 3);  // wrong label: reported, still released
  alignas(64) unsigned char foreign[256] = {};
  TrackedAllocator::Free(foreign + 64, 2);  // never allocated here
  void* q = TrackedAllocator::Allocate(16, 4, 2, 0);
  TrackedAllocator::Free(q, 2);
  TrackedAllocator::Free(nullptr, 2);

  EXPECT_EQ(TrackedAllocator::FreeErrors() - errors, 3);
  const auto messages = TrackedAllocator::TakeFreeErrors();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_NE(messages[0].find("label 3"), std::string::npos) << messages[0];
  EXPECT_NE(messages[1].find("not a live tracked block"), std::string::npos) << messages[1];
}

TEST(TrackedAllocator, PoisonShowsAMissingZeroFill) {
  TrackedAllocator::SetPoison(true);
  auto* p = static_cast<unsigned char*>(TrackedAllocator::Allocate(64, 4, 2, 0));
  TrackedAllocator::SetPoison(false);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0xA5) << i;
  TrackedAllocator::Free(p, 2);
}

TEST(TrackedAllocator, BlocksMayBeFreedOnAnotherThread) {
  const int64_t live = TrackedAllocator::LiveBlocks();
  std::vector<void*> blocks(1000);
  std::thread([&] {
    for (size_t i = 0; i < blocks.size(); ++i) blocks[i] = TrackedAllocator::Allocate(static_cast<int64_t>(i % 300), 4, 2, 0);
  }).join();  // the allocating thread has ended; its counters remain
  EXPECT_EQ(TrackedAllocator::LiveBlocks() - live, 1000);
  std::thread([&] {
    for (void* b : blocks) TrackedAllocator::Free(b, 2);
  }).join();
  EXPECT_EQ(TrackedAllocator::LiveBlocks(), live);
}

// Constructed on its thread before the thread's first tracked call, so it is
// destroyed after the allocator has retired that thread's state.
struct TeardownUser {
  void* held = nullptr;
  ~TeardownUser() {
    TrackedAllocator::Free(held, 2);
    void* p = TrackedAllocator::Allocate(40, 4, 2, 0);
    std::memset(p, 0, 40);
    TrackedAllocator::Free(p, 2);
  }
};

TEST(TrackedAllocator, CountsCallsMadeDuringThreadTeardown) {
  TrackedAllocator::TakeFreeErrors();
  const int64_t errors = TrackedAllocator::FreeErrors();
  const Host::LabelStats before = TrackedAllocator::Stats(2);
  std::thread([] {
    thread_local TeardownUser user;
    user.held = TrackedAllocator::Allocate(40, 4, 2, 0);
    void* cached = TrackedAllocator::Allocate(40, 4, 2, 0);
    TrackedAllocator::Free(cached, 2);  // left in the thread's cache at exit
  }).join();
  const Host::LabelStats after = TrackedAllocator::Stats(2);
  EXPECT_EQ(after.allocations - before.allocations, 3);
  EXPECT_EQ(after.frees - before.frees, 3);
  EXPECT_EQ(after.liveBlocks, before.liveBlocks);
  EXPECT_EQ(after.liveBytes, before.liveBytes);
  EXPECT_EQ(TrackedAllocator::FreeErrors(), errors);
}

TEST(TrackedAllocator, RecordsEveryCallWhileRecording) {
  TrackedAllocator::StartRecording();
  void* p = TrackedAllocator::Allocate(12, 4, 2, 0);
  TrackedAllocator::Free(p, 2);
  auto events = TrackedAllocator::StopRecording();
  void* q = TrackedAllocator::Allocate(12, 4, 2, 0);  // not recorded
  TrackedAllocator::Free(q, 2);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, Host::AllocationEvent::Allocate);
  EXPECT_EQ(events[0].size, 12);
  EXPECT_EQ(events[1].kind, Host::AllocationEvent::Free);
  EXPECT_EQ(events[1].pointer, p);
}

// --- Work-stealing pool -------------------------------------------------------------------
struct Marks {
  std::vector<std::atomic<int>> hits;
  std::atomic<int> emptyRanges{0};
  std::atomic<int> maxWorker{-1};
  explicit Marks(int n) : hits(static_cast<size_t>(n)) {}
};

// A parallel-for entry in the library's shape, driving the host's service.
void MarkingEntry(void* record, void*, void*, void* ranges, int32_t worker) {
  Marks& m = *static_cast<Marks*>(record);
  int32_t begin = 0, end = 0;
  while (Host::HostGetWorkStealingRange(ranges, worker, &begin, &end)) {
    if (begin >= end) ++m.emptyRanges;
    for (int32_t i = begin; i < end; ++i) m.hits[static_cast<size_t>(i)].fetch_add(1);
  }
  int prev = m.maxWorker.load();
  while (worker > prev && !m.maxWorker.compare_exchange_weak(prev, worker)) {}
}

TEST(ThreadPool, HandsOutEveryIndexExactlyOnce) {
  std::mt19937 rng(7);
  for (int workers : {1, 2, 8}) {
    Host::ThreadPool pool(workers);
    EXPECT_EQ(pool.workers(), workers);
    for (int round = 0; round < 20; ++round) {
      const int count = static_cast<int>(rng() % 5000);
      const int batch = 1 + static_cast<int>(rng() % 300);
      Marks marks(count);
      pool.RunParallelFor(&MarkingEntry, &marks, count, batch, {0.25, static_cast<uint32_t>(round)});
      for (int i = 0; i < count; ++i)
        ASSERT_EQ(marks.hits[static_cast<size_t>(i)].load(), 1) << "W=" << workers << " count=" << count << " i=" << i;
      EXPECT_LT(marks.maxWorker.load(), workers);
    }
  }
}

TEST(ThreadPool, EmptyRangesAreOfferedWhenAsked) {
  Host::ThreadPool pool(2);
  Marks marks(10000);
  pool.RunParallelFor(&MarkingEntry, &marks, 10000, 10, {0.5, 3});
  EXPECT_GT(marks.emptyRanges.load(), 0);
  Marks none(0);
  pool.RunParallelFor(&MarkingEntry, &none, 0, 16);  // nothing to do: every worker is told so at once
  EXPECT_EQ(none.emptyRanges.load(), 0);
}

TEST(ThreadPool, RunOnAllReachesEachWorkerOnce) {
  Host::ThreadPool pool(4);
  std::vector<std::atomic<int>> seen(4);
  pool.RunOnAll([&](int32_t w) { seen[static_cast<size_t>(w)].fetch_add(1); });
  for (auto& s : seen) EXPECT_EQ(s.load(), 1);
}

}  // namespace
}  // namespace Orovox::Test
