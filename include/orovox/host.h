// The stand-alone host: what the engine's job runtime provides to the
// library, so that it runs outside that engine.
//
//   Orovox::Host::Library lib;                  // loads and initialises liborovox
//   lib.entries().PreEmphasize(out, in, n, 0.97f);
//   lib.sse2().PreEmphasize(...);               // a variant set's body, directly
//
// The library's callback slots are process-wide, so the services below are
// process-wide as well: one tracked allocator, one abort record.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "orovox/entries.h"
#include "orovox/records.h"

namespace Orovox::Host {

// --- Tracked allocator -----------------------------------------------------------
struct LabelStats {
  int64_t allocations = 0;
  int64_t frees = 0;
  int64_t liveBlocks = 0;
  int64_t liveBytes = 0;
};

struct AllocationEvent {
  enum Kind { Allocate, Free } kind;
  void* pointer;
  int64_t size;         // requested size (Allocate)
  int32_t alignment;    // (Allocate)
  int32_t label;
  int32_t framesToSkip; // (Allocate)
};

class TrackedAllocator {
 public:
  // The two services handed to the library.
  static void* Allocate(int64_t size, int32_t alignment, int32_t label, int32_t framesToSkip);
  static void Free(void* memory, int32_t label);

  // Counters summed over all threads. Labels above 15 are counted under 15.
  static LabelStats Stats(int32_t label);
  static int64_t LiveBlocks();  // over all labels
  // Frees of unknown pointers, of null, or with another label than allocated.
  // They are reported here and never crash the process.
  static int64_t FreeErrors();
  static std::vector<std::string> TakeFreeErrors();

  // Fill new blocks with 0xA5 bytes, so that a missing zero fill shows.
  static void SetPoison(bool on);
  // Record every call made from any thread until StopRecording.
  static void StartRecording();
  static std::vector<AllocationEvent> StopRecording();
};

// --- Abort service -------------------------------------------------------------------
struct AbortRecord {
  std::string exceptionName;
  std::string message;
};
void HostAbort(const char* exceptionName, const char* message);
int64_t AbortCount();
AbortRecord LastAbort();

// --- Work-stealing thread pool ------------------------------------------------------------
struct ParallelForOptions {
  // Chance of answering with an empty range between real ones (tests use it).
  double emptyRangeChance = 0.0;
  uint32_t seed = 1;
};

class ThreadPool {
 public:
  explicit ThreadPool(int workers);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  int workers() const;
  // Runs `task(worker)` once on each worker and waits for all of them.
  void RunOnAll(const std::function<void(int32_t worker)>& task);
  // Runs a parallel-for entry on every worker over [0, count): batches of
  // `batchSize` indices, each worker first draining its own queue, then
  // stealing from the others. Every index is handed out exactly once.
  void RunParallelFor(JobEntry entry, void* record, int32_t count, int32_t batchSize,
                      const ParallelForOptions& options = {});

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The range service handed to the library.
bool HostGetWorkStealingRange(void* ranges, int32_t worker, int32_t* begin, int32_t* end);

// --- Resolver ----------------------------------------------------------------------------------
// Returns the four services by their exact names, null for any other name.
void* HostResolve(const char* name);

// --- Loader and typed entry points ----------------------------------------------------------
enum class VariantSet { Sse2, Avx2 };

class EntryPoints {
 public:
  EntryPoints() = default;
  explicit EntryPoints(const std::vector<void*>& functions) : fn_(functions) {}
  void* raw(int number) const { return fn_[static_cast<size_t>(number - 1)]; }

#define OROVOX_FUNCTION(number, id, Name, callbacks, R, params, args, impl) \
  R Name params const { return reinterpret_cast<R(*) params>(raw(number)) args; }
#define OROVOX_WRAP_SingleJob(number, Name, Record) \
  void Name(::Orovox::Record& job) const { reinterpret_cast<JobEntry>(raw(number))(&job, nullptr, nullptr, nullptr, 0); }
#define OROVOX_WRAP_ParallelForJob(number, Name, Record)                                           \
  void Name(::Orovox::Record& job, int32_t count, ThreadPool& pool, int32_t batchSize = 1024,       \
            const ParallelForOptions& options = {}) const {                                         \
    pool.RunParallelFor(reinterpret_cast<JobEntry>(raw(number)), &job, count, batchSize, options); \
  }
#define OROVOX_JOB(number, id, Name, Kind, callbacks, Record) OROVOX_WRAP_##Kind(number, Name, Record)
#include "orovox/entry_table.def"
#undef OROVOX_FUNCTION
#undef OROVOX_JOB
#undef OROVOX_WRAP_SingleJob
#undef OROVOX_WRAP_ParallelForJob

 private:
  std::vector<void*> fn_;
};

class Library {
 public:
  // OROVOX_LIBRARY from the environment, else the build tree's library, else
  // the installed one.
  static std::string DefaultPath();
  // The process-wide library, loaded and initialised with HostResolve on first use.
  static Library& Shared();

  // Loads the library (throws std::runtime_error naming the path on failure)
  // and, unless told otherwise, initialises it with HostResolve.
  explicit Library(const std::string& path = DefaultPath(), bool initialize = true);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  void Initialize(Resolver resolve = &HostResolve);
  void* Symbol(const std::string& name) const;  // null when absent

  const EntryPoints& entries() const { return dispatch_; }  // through the dispatchers
  const EntryPoints& sse2() const { return sse2_; }
  const EntryPoints& avx2() const { return avx2_; }
  const EntryPoints& set(VariantSet s) const { return s == VariantSet::Avx2 ? avx2_ : sse2_; }
  // The set that burst.initialize picks on this processor.
  static VariantSet ChosenSet();
  // Whether this processor can run the AVX2 set at all.
  static bool CanRunAvx2();

 private:
  void* handle_ = nullptr;
  EntryPoints dispatch_, sse2_, avx2_;
};

}  // namespace Orovox::Host
