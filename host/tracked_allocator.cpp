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
  int32_t sizeClass;  // -1: block straight from the system, never cached
  void* base;         // what the system returned
};
static_assert(sizeof(Header) == 32);

constexpr int64_t kMaxClassBytes = kMinClassBytes << (kClasses - 1);
constexpr int64_t kMaxClassSize = kMaxClassBytes - int64_t{sizeof(Header)};

uint64_t TagOf(const void* user) { return reinterpret_cast<uintptr_t>(user) ^ kTagKey; }
Header* HeaderOf(void* user) { return static_cast<Header*>(user) - 1; }
// Labels outside 0..15, negative ones too, share the last slot.
int LabelSlot(int32_t label) { return static_cast<uint32_t>(label) < uint32_t{kLabels} ? label : kLabels - 1; }

// The smallest class whose blocks hold `total` bytes (1 <= total <= kMaxClassBytes).
// Branch-free: the transform's sizes change from call to call.
int ClassOf(int64_t total) {
  return (64 - __builtin_clzll(static_cast<uint64_t>(total - 1) | uint64_t{kMinClassBytes - 1})) - 6;
}
static_assert(kMinClassBytes == 64, "ClassOf counts classes from 2^6");

// Per-thread counters: written only by their thread (plain relaxed stores, no
// locked instructions), read by whoever sums them.
struct Counters {
  struct Label {
    std::atomic<int64_t> allocations{0};
    std::atomic<int64_t> frees{0};
    std::atomic<int64_t> bytes{0};  // allocated minus freed
  } label[kLabels];
  static void Bump(std::atomic<int64_t>& c, int64_t by) { c.store(c.load(std::memory_order_relaxed) + by, std::memory_order_relaxed); }
};

// What the common path checks in one load: any bit set sends every call to
// the full path, which poisons and records.
enum Mode : uint32_t { kPoison = 1, kRecording = 2 };
constinit std::atomic<uint32_t> g_mode{0};

void SetMode(uint32_t bit, bool on) {
  if (on) g_mode.fetch_or(bit);
  else g_mode.fetch_and(~bit);
}

// Everything the common path does not touch.
struct Global {
  std::mutex mutex;
  std::vector<Counters*> threads;
  Counters retired;  // folded in from threads that have ended
  std::vector<std::string> errors;
  std::atomic<int64_t> errorCount{0};
  std::vector<AllocationEvent> events;
};

Global& G() {
  static Global* g = new Global;  // never destroyed: threads may outlive static destruction
  return *g;
}

// A thread's allocator state is constant-initialised thread-local storage,
// reached without an initialisation guard. The first call on a thread finds
// it not live, registers its counters and arms the exit hook; the hook frees
// the cached blocks, folds the counters into the retired ones and leaves the
// state retired, so that a call made later in the thread's teardown (another
// thread-local's destructor) is served uncached and counted as retired.
//
// Each class caches its free blocks in an array used as a stack, not in a
// list threaded through the blocks: a pop then depends on the count alone,
// not on a load from the block just popped, so back-to-back allocations do
// not wait on each other.
struct ThreadState {
  bool live;
  bool retired;
  int32_t cached[kClasses];
  void** stacks;  // kClasses x kMaxCachedPerClass, taken when the thread registers
  Counters counters;
};
// Initial-exec: this code is position independent, and the default model
// would make every access a call to the TLS resolver, which the linker turns
// into a register read only after the compiler has already saved registers
// around it. The host is linked into executables, where this model is exact.
constinit thread_local ThreadState t_state __attribute__((tls_model("initial-exec"))){};

void Retire(ThreadState& t) {
  for (int c = 0; c < kClasses; ++c) {
    for (int i = 0; i < t.cached[c]; ++i) std::free(t.stacks[c * kMaxCachedPerClass + i]);
    t.cached[c] = 0;
  }
  std::free(t.stacks);
  t.stacks = nullptr;
  std::lock_guard<std::mutex> lock(G().mutex);
  for (int l = 0; l < kLabels; ++l) {
    Counters::Bump(G().retired.label[l].allocations, t.counters.label[l].allocations.load(std::memory_order_relaxed));
    Counters::Bump(G().retired.label[l].frees, t.counters.label[l].frees.load(std::memory_order_relaxed));
    Counters::Bump(G().retired.label[l].bytes, t.counters.label[l].bytes.load(std::memory_order_relaxed));
    t.counters.label[l].allocations.store(0, std::memory_order_relaxed);
    t.counters.label[l].frees.store(0, std::memory_order_relaxed);
    t.counters.label[l].bytes.store(0, std::memory_order_relaxed);
  }
  auto& threads = G().threads;
  for (size_t i = 0; i < threads.size(); ++i) {
    if (threads[i] == &t.counters) {
      threads[i] = threads.back();
      threads.pop_back();
      break;
    }
  }
  t.live = false;
  t.retired = true;
}

struct ExitHook {
  ~ExitHook() { Retire(t_state); }
};

// The calling thread's state, registered on first use; null once the thread
// has retired it.
ThreadState* Local() {
  ThreadState& t = t_state;
  if (t.live) return &t;
  if (t.retired) return nullptr;
  thread_local ExitHook hook;  // destroyed at thread exit, which retires the state
  (void)hook;
  t.stacks = static_cast<void**>(std::malloc(sizeof(void*) * kClasses * kMaxCachedPerClass));
  std::lock_guard<std::mutex> lock(G().mutex);
  G().threads.push_back(&t.counters);
  t.live = true;
  return &t;
}

// The counters of a call: its thread's, or the retired ones (under the lock,
// which the caller holds) once the thread is past retiring.
void Count(ThreadState* t, int slot, int64_t allocations, int64_t frees, int64_t bytes) {
  Counters& c = t != nullptr ? t->counters : G().retired;
  if (allocations != 0) Counters::Bump(c.label[slot].allocations, allocations);
  if (frees != 0) Counters::Bump(c.label[slot].frees, frees);
  Counters::Bump(c.label[slot].bytes, bytes);
}

void Record(const AllocationEvent& e) {
  std::lock_guard<std::mutex> lock(G().mutex);
  if ((g_mode.load() & kRecording) != 0) G().events.push_back(e);
}

void ReportError(std::string text) {
  G().errorCount.fetch_add(1);
  std::lock_guard<std::mutex> lock(G().mutex);
  G().errors.push_back(std::move(text));
}

// Every case the common path leaves out: the first call on a thread, a thread
// past retiring, poison, recording, exact blocks, large or strongly aligned
// blocks, negative sizes.
[[gnu::noinline]] void* AllocateFull(int64_t size, int32_t alignment, int32_t label, int32_t framesToSkip) {
  if (size < 0) size = 0;
  ThreadState* t = Local();
  void* user = nullptr;
  void* base = nullptr;
  int sizeClass = -1;
  if (kExactBlocks && alignment <= 16) {
    base = std::malloc(static_cast<size_t>(size + int64_t{sizeof(Header)}));  // 16-aligned, so is base + 32
    user = static_cast<Header*>(base) + 1;
  } else if (alignment <= 16 && size <= kMaxClassSize && t != nullptr) {
    sizeClass = ClassOf(size + int64_t{sizeof(Header)});
    const int32_t n = t->cached[sizeClass];
    if (n > 0) {
      base = t->stacks[sizeClass * kMaxCachedPerClass + n - 1];
      t->cached[sizeClass] = n - 1;
    } else {
      base = std::malloc(static_cast<size_t>(kMinClassBytes << sizeClass));
    }
    user = static_cast<Header*>(base) + 1;
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
  const uint32_t mode = g_mode.load(std::memory_order_relaxed);
  if ((mode & kPoison) != 0 && size > 0) std::memset(user, 0xA5, static_cast<size_t>(size));
  if (t != nullptr) {
    Count(t, LabelSlot(label), 1, 0, size);
  } else {
    std::lock_guard<std::mutex> lock(G().mutex);
    Count(nullptr, LabelSlot(label), 1, 0, size);
  }
  if ((mode & kRecording) != 0) Record({AllocationEvent::Allocate, user, size, alignment, label, framesToSkip});
  return user;
}

[[gnu::noinline]] void FreeFull(void* memory, int32_t label) {
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
  if ((g_mode.load(std::memory_order_relaxed) & kRecording) != 0)
    Record({AllocationEvent::Free, memory, h->size, 0, label, 0});
  ThreadState* t = Local();
  const int slot = LabelSlot(h->label);
  if (t != nullptr) {
    Count(t, slot, 0, 1, -h->size);
  } else {
    std::lock_guard<std::mutex> lock(G().mutex);
    Count(nullptr, slot, 0, 1, -h->size);
  }
  h->tag = 0;
  const int c = h->sizeClass;
  if (t != nullptr && c >= 0 && t->cached[c] < kMaxCachedPerClass) {
    t->stacks[c * kMaxCachedPerClass + t->cached[c]] = h;  // a class block is its own base
    ++t->cached[c];
  } else {
    std::free(h->base);
  }
}

}  // namespace

// The common path: no poison or recording, a small block of ordinary
// alignment whose class has a cached block (so the thread is live: a thread
// that is not caches nothing). It pops the block, writes the header and bumps
// two of the thread's counters, and calls nothing; anything else goes the
// full way. Stores are what this path is made of, so there are few: the
// header's base is left as the first allocation of the block wrote it (a
// class block is its own base, and a cached block is not touched).
void* TrackedAllocator::Allocate(int64_t size, int32_t alignment, int32_t label, int32_t framesToSkip) {
  ThreadState& t = t_state;
  const uint64_t bytes = static_cast<uint64_t>(size);  // a negative size fails the bound below
  const uint64_t bounded = bytes < static_cast<uint64_t>(kMaxClassSize) ? bytes : static_cast<uint64_t>(kMaxClassSize);
  const int c = ClassOf(static_cast<int64_t>(bounded) + int64_t{sizeof(Header)});
  const int32_t n = t.cached[c];
  if (kExactBlocks || !__builtin_expect((n > 0) & (g_mode.load(std::memory_order_relaxed) == 0) &
                                            (bytes <= static_cast<uint64_t>(kMaxClassSize)) & (alignment <= 16),
                                        1))
    return AllocateFull(size, alignment, label, framesToSkip);
  Header* h = static_cast<Header*>(t.stacks[c * kMaxCachedPerClass + n - 1]);
  t.cached[c] = n - 1;
  void* user = h + 1;
  h->tag = TagOf(user);
  h->size = size;
  const uint64_t labelAndClass = static_cast<uint32_t>(label) | (static_cast<uint64_t>(c) << 32);
  std::memcpy(&h->label, &labelAndClass, sizeof labelAndClass);  // label, sizeClass: one store
  const int slot = LabelSlot(label);
  Counters::Bump(t.counters.label[slot].allocations, 1);
  Counters::Bump(t.counters.label[slot].bytes, size);
  return user;
}

// The common path: a live thread, no recording, a class block freed with its
// own label into a class that has room.
void TrackedAllocator::Free(void* memory, int32_t label) {
  ThreadState& t = t_state;
  if (!kExactBlocks &&
      __builtin_expect((memory != nullptr) & t.live & (g_mode.load(std::memory_order_relaxed) == 0), 1)) {
    Header* h = HeaderOf(memory);
    const int c = h->sizeClass;
    if (__builtin_expect((h->tag == TagOf(memory)) & (h->label == label) & (c >= 0), 1)) {
      const int32_t n = t.cached[c];
      if (__builtin_expect(n < kMaxCachedPerClass, 1)) {
        const int slot = LabelSlot(label);
        Counters::Bump(t.counters.label[slot].frees, 1);
        Counters::Bump(t.counters.label[slot].bytes, -h->size);
        h->tag = 0;
        t.stacks[c * kMaxCachedPerClass + n] = h;
        t.cached[c] = n + 1;
        return;
      }
    }
  }
  FreeFull(memory, label);
}

LabelStats TrackedAllocator::Stats(int32_t label) {
  const int slot = LabelSlot(label);
  std::lock_guard<std::mutex> lock(G().mutex);
  LabelStats s;
  auto add = [&](const Counters& c) {
    s.allocations += c.label[slot].allocations.load(std::memory_order_relaxed);
    s.frees += c.label[slot].frees.load(std::memory_order_relaxed);
    s.liveBytes += c.label[slot].bytes.load(std::memory_order_relaxed);
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

void TrackedAllocator::SetPoison(bool on) { SetMode(kPoison, on); }

void TrackedAllocator::StartRecording() {
  std::lock_guard<std::mutex> lock(G().mutex);
  G().events.clear();
  SetMode(kRecording, true);
}

std::vector<AllocationEvent> TrackedAllocator::StopRecording() {
  std::lock_guard<std::mutex> lock(G().mutex);
  SetMode(kRecording, false);
  std::vector<AllocationEvent> out;
  out.swap(G().events);
  return out;
}

}  // namespace Orovox::Host
