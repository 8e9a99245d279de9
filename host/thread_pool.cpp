// Work-stealing thread pool and the range service.
//
// [0, count) is cut into batches, and the batches into one contiguous run per
// worker. A run is a single 64-bit word {next, end}: the owner takes batches
// from the front, thieves from the back, both by compare-and-swap on that
// word, so every batch is handed out exactly once.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "orovox/host.h"

namespace Orovox::Host {
namespace {

uint64_t Pack(uint32_t next, uint32_t end) { return (uint64_t{end} << 32) | next; }
uint32_t Next(uint64_t w) { return static_cast<uint32_t>(w); }
uint32_t End(uint64_t w) { return static_cast<uint32_t>(w >> 32); }

struct alignas(64) WorkerQueue {
  std::atomic<uint64_t> run{0};
  std::minstd_rand rng;
  bool lastWasEmpty = false;
};

struct RangeRecord {
  int32_t count = 0;
  int32_t batchSize = 1;
  double emptyRangeChance = 0.0;
  std::vector<WorkerQueue> queues;
};

bool TakeFront(WorkerQueue& q, uint32_t& batch) {
  uint64_t w = q.run.load(std::memory_order_acquire);
  while (Next(w) < End(w)) {
    if (q.run.compare_exchange_weak(w, Pack(Next(w) + 1, End(w)), std::memory_order_acq_rel)) {
      batch = Next(w);
      return true;
    }
  }
  return false;
}

bool TakeBack(WorkerQueue& q, uint32_t& batch) {
  uint64_t w = q.run.load(std::memory_order_acquire);
  while (Next(w) < End(w)) {
    if (q.run.compare_exchange_weak(w, Pack(Next(w), End(w) - 1), std::memory_order_acq_rel)) {
      batch = End(w) - 1;
      return true;
    }
  }
  return false;
}

}  // namespace

bool HostGetWorkStealingRange(void* ranges, int32_t worker, int32_t* begin, int32_t* end) {
  RangeRecord& r = *static_cast<RangeRecord*>(ranges);
  const int n = static_cast<int>(r.queues.size());
  WorkerQueue& own = r.queues[static_cast<size_t>(worker)];
  if (r.emptyRangeChance > 0.0 && !own.lastWasEmpty &&
      std::uniform_real_distribution<double>(0.0, 1.0)(own.rng) < r.emptyRangeChance) {
    own.lastWasEmpty = true;  // at most one empty range between real ones, so the loop ends
    *begin = *end = static_cast<int32_t>(own.rng() % static_cast<uint32_t>(r.count + 1));
    return true;
  }
  own.lastWasEmpty = false;
  uint32_t batch = 0;
  bool found = TakeFront(own, batch);
  for (int k = 1; !found && k < n; ++k) found = TakeBack(r.queues[static_cast<size_t>((worker + k) % n)], batch);
  if (!found) return false;
  const int64_t b = int64_t{batch} * r.batchSize;
  const int64_t e = b + r.batchSize < r.count ? b + r.batchSize : r.count;
  *begin = static_cast<int32_t>(b);
  *end = static_cast<int32_t>(e);
  return true;
}

struct ThreadPool::Impl {
  std::vector<std::thread> threads;
  std::mutex runMutex;  // one RunOnAll at a time
  std::mutex mutex;
  std::condition_variable wake, done;
  const std::function<void(int32_t)>* task = nullptr;
  uint64_t generation = 0;
  int pending = 0;
  bool stop = false;

  void Loop(int32_t worker) {
    uint64_t seen = 0;
    for (;;) {
      const std::function<void(int32_t)>* current;
      {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [&] { return stop || generation != seen; });
        if (stop) return;
        seen = generation;
        current = task;
      }
      (*current)(worker);
      std::lock_guard<std::mutex> lock(mutex);
      if (--pending == 0) done.notify_all();
    }
  }
};

ThreadPool::ThreadPool(int workers) : impl_(new Impl) {
  if (workers < 1) workers = 1;
  for (int w = 0; w < workers; ++w) impl_->threads.emplace_back([this, w] { impl_->Loop(w); });
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->stop = true;
  }
  impl_->wake.notify_all();
  for (std::thread& t : impl_->threads) t.join();
}

int ThreadPool::workers() const { return static_cast<int>(impl_->threads.size()); }

void ThreadPool::RunOnAll(const std::function<void(int32_t)>& task) {
  std::lock_guard<std::mutex> one(impl_->runMutex);
  std::unique_lock<std::mutex> lock(impl_->mutex);
  impl_->task = &task;
  impl_->pending = workers();
  ++impl_->generation;
  impl_->wake.notify_all();
  impl_->done.wait(lock, [&] { return impl_->pending == 0; });
  impl_->task = nullptr;
}

void ThreadPool::RunParallelFor(JobEntry entry, void* record, int32_t count, int32_t batchSize,
                                const ParallelForOptions& options) {
  if (count < 0) count = 0;
  if (batchSize < 1) batchSize = 1;
  const int n = workers();
  RangeRecord ranges;
  ranges.count = count;
  ranges.batchSize = batchSize;
  ranges.emptyRangeChance = options.emptyRangeChance;
  ranges.queues = std::vector<WorkerQueue>(static_cast<size_t>(n));
  const uint32_t batches = static_cast<uint32_t>((int64_t{count} + batchSize - 1) / batchSize);
  for (int w = 0; w < n; ++w) {
    const uint32_t lo = static_cast<uint32_t>(uint64_t{batches} * static_cast<uint32_t>(w) / static_cast<uint32_t>(n));
    const uint32_t hi = static_cast<uint32_t>(uint64_t{batches} * static_cast<uint32_t>(w + 1) / static_cast<uint32_t>(n));
    ranges.queues[static_cast<size_t>(w)].run.store(Pack(lo, hi));
    ranges.queues[static_cast<size_t>(w)].rng.seed(options.seed * 7919u + static_cast<uint32_t>(w) + 1u);
  }
  RunOnAll([&](int32_t worker) { entry(record, nullptr, nullptr, &ranges, worker); });
}

}  // namespace Orovox::Host
