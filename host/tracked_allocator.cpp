// The host's tracked allocator.
//
// The transform alone makes thousands of small allocations per call, so the
// common path takes a block from a thread-local free list of its size class
// and touches no lock and no shared cache line. Each block carries a header
// that names its size, label and class, and a tag derived from its address
// so that a foreign pointer is recognised on free.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "orovox/host.h"

namespace Orovox::Host {
namespace {

constexpr int kLabels = 16;
constexpr int kClasses = 15;              // 64 B .. 1 MiB including the header
constexpr int64_t kMinClassBytes = 64;
constexpr int kMaxCachedPerClass = 512;
constexpr uint64_t kTagKey = 0x9E3779B97F4A7C15ull;

// Under AddressSanitizer every block is its own malloc of exactly header +
// size and goes straight back on free: size classes would hide an overrun
// into a block's slack, and the free lists a use after free.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kExactBlocks = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kExactBlocks = true;
#else
constexpr bool kExactBlocks = false;
#endif
#else
constexpr bool kExactBlocks = false;
#endif

struct Header {
  uint64_t tag;       // address ^ key while allocated, 0 once freed
  int64_t size;
  int32_t label;
  int32_t sizeClass;  // -1: large block straight from the system
  void* base;         // what the system returned
};
static_assert(sizeof(Header) == 32);

uint64_t TagOf(const void* user) { return reinterpret_cast<uintptr_t>(user) ^ kTagKey; }
Header* HeaderOf(void* user) { return static_cast<Header*>(user) - 1; }
int LabelSlot(int32_t label) { return label < 0 ? kLabels - 1 : (label >= kLabels ? kLabels - 1 : label); }

// Per-thread counters: written only by their thread (plain relaxed stores, no
// locked instructions), read by whoever sums them.
struct Counters {
  std::atomic<int64_t> allocations[kLabels] = {};
  std::atomic<int64_t> frees[kLabels] = {};
  std::atomic<int64_t> bytes[kLabels] = {};  // allocated minus freed
  static void Bump(std::atomic<int64_t>& c, int64_t by) { c.store(c.load(std::memory_order_relaxed) + by, std::memory_order_relaxed); }
};

struct Global {
  std::mutex mutex;
  std::vector<Counters*> threads;
  Counters retired;  // folded in from threads that have ended
  std::vector<std::string> errors;
  std::atomic<int64_t> errorCount{0};
  std::atomic<bool> poison{false};
  std::atomic<bool> recording{false};
  std::vector<AllocationEvent> events;
};

Global& G() {
  static Global* g = new Global;  // never destroyed: threads may outlive static destruction
  return *g;
}

struct ThreadState {
  Counters counters;
  void* freeList[kClasses] = {};
  int cached[kClasses] = {};

  ThreadState() {
    std::lock_guard<std::mutex> lock(G().mutex);
    G().threads.push_back(&counters);
  }
  ~ThreadState() {
    for (int c = 0; c < kClasses; ++c) {
      while (freeList[c] != nullptr) {
        void* next = *static_cast<void**>(freeList[c]);
        std::free(freeList[c]);
        freeList[c] = next;
      }
    }
    std::lock_guard<std::mutex> lock(G().mutex);
    for (int l = 0; l < kLabels; ++l) {
      Counters::Bump(G().retired.allocations[l], counters.allocations[l].load());
      Counters::Bump(G().retired.frees[l], counters.frees[l].load());
      Counters::Bump(G().retired.bytes[l], counters.bytes[l].load());
    }
    auto& t = G().threads;
    for (size_t i = 0; i < t.size(); ++i) {
      if (t[i] == &counters) {
        t[i] = t.back();
        t.pop_back();
        break;
      }
    }
  }
};

ThreadState& Local() {
  thread_local ThreadState state;
  return state;
}

int ClassFor(int64_t total) {
  int64_t bytes = kMinClassBytes;
  for (int c = 0; c < kClasses; ++c, bytes <<= 1)
    if (total <= bytes) return c;
  return -1;
}

void Record(const AllocationEvent& e) {
  std::lock_guard<std::mutex> lock(G().mutex);
  if (G().recording.load()) G().events.push_back(e);
}

void ReportError(std::string text) {
  G().errorCount.fetch_add(1);
  std::lock_guard<std::mutex> lock(G().mutex);
  G().errors.push_back(std::move(text));
}

}  // namespace

void* TrackedAllocator::Allocate(int64_t size, int32_t alignment, int32_t label, int32_t framesToSkip) {
  if (size < 0) size = 0;
  ThreadState& t = Local();
  void* user = nullptr;
  void* base = nullptr;
  int sizeClass = -1;
  if (kExactBlocks && alignment <= 16) {
    base = std::malloc(static_cast<size_t>(size + int64_t{sizeof(Header)}));  // 16-aligned, so is base + 32
    user = static_cast<Header*>(base) + 1;
  } else if (alignment <= 16) {
    sizeClass = ClassFor(size + int64_t{sizeof(Header)});
    if (sizeClass >= 0) {
      base = t.freeList[sizeClass];
      if (base != nullptr) {
        t.freeList[sizeClass] = *static_cast<void**>(base);
        --t.cached[sizeClass];
      } else {
        base = std::malloc(static_cast<size_t>(kMinClassBytes << sizeClass));
      }
      user = static_cast<Header*>(base) + 1;
    }
  }
  if (user == nullptr) {
    // Large or strongly aligned: room for the header in front of an aligned block.
    const int64_t align = alignment > 16 ? alignment : 16;
    base = std::malloc(static_cast<size_t>(size + align + int64_t{sizeof(Header)}));
    const uintptr_t first = reinterpret_cast<uintptr_t>(base) + sizeof(Header);
    user = reinterpret_cast<void*>((first + static_cast<uintptr_t>(align) - 1) & ~(static_cast<uintptr_t>(align) - 1));
  }
  Header* h = HeaderOf(user);
  h->tag = TagOf(user);
  h->size = size;
  h->label = label;
  h->sizeClass = sizeClass;
  h->base = base;
  if (G().poison.load(std::memory_order_relaxed) && size > 0) std::memset(user, 0xA5, static_cast<size_t>(size));
  const int slot = LabelSlot(label);
  Counters::Bump(t.counters.allocations[slot], 1);
  Counters::Bump(t.counters.bytes[slot], size);
  if (G().recording.load(std::memory_order_relaxed))
    Record({AllocationEvent::Allocate, user, size, alignment, label, framesToSkip});
  return user;
}

void TrackedAllocator::Free(void* memory, int32_t label) {
  if (memory == nullptr) {
    ReportError("free of a null pointer with label " + std::to_string(label));
    return;
  }
  Header* h = HeaderOf(memory);
  if (h->tag != TagOf(memory)) {
    ReportError("free of a pointer that is not a live tracked block (label " + std::to_string(label) + ")");
    return;
  }
  if (h->label != label) {
    ReportError("free with label " + std::to_string(label) + " of a block allocated with label " +
                std::to_string(h->label));
  }
  if (G().recording.load(std::memory_order_relaxed)) Record({AllocationEvent::Free, memory, h->size, 0, label, 0});
  ThreadState& t = Local();
  const int slot = LabelSlot(h->label);
  Counters::Bump(t.counters.frees[slot], 1);
  Counters::Bump(t.counters.bytes[slot], -h->size);
  h->tag = 0;
  const int c = h->sizeClass;
  if (c >= 0 && t.cached[c] < kMaxCachedPerClass) {
    *static_cast<void**>(h->base) = t.freeList[c];
    t.freeList[c] = h->base;
    ++t.cached[c];
  } else {
    std::free(h->base);
  }
}

LabelStats TrackedAllocator::Stats(int32_t label) {
  const int slot = LabelSlot(label);
  std::lock_guard<std::mutex> lock(G().mutex);
  LabelStats s;
  auto add = [&](const Counters& c) {
    s.allocations += c.allocations[slot].load(std::memory_order_relaxed);
    s.frees += c.frees[slot].load(std::memory_order_relaxed);
    s.liveBytes += c.bytes[slot].load(std::memory_order_relaxed);
  };
  add(G().retired);
  for (const Counters* c : G().threads) add(*c);
  s.liveBlocks = s.allocations - s.frees;
  return s;
}

int64_t TrackedAllocator::LiveBlocks() {
  int64_t live = 0;
  for (int l = 0; l < kLabels; ++l) live += Stats(l).liveBlocks;
  return live;
}

int64_t TrackedAllocator::FreeErrors() { return G().errorCount.load(); }

std::vector<std::string> TrackedAllocator::TakeFreeErrors() {
  std::lock_guard<std::mutex> lock(G().mutex);
  std::vector<std::string> out;
  out.swap(G().errors);
  return out;
}

void TrackedAllocator::SetPoison(bool on) { G().poison.store(on); }

void TrackedAllocator::StartRecording() {
  std::lock_guard<std::mutex> lock(G().mutex);
  G().events.clear();
  G().recording.store(true);
}

std::vector<AllocationEvent> TrackedAllocator::StopRecording() {
  std::lock_guard<std::mutex> lock(G().mutex);
  G().recording.store(false);
  std::vector<AllocationEvent> out;
  out.swap(G().events);
  return out;
}

}  // namespace Orovox::Host
