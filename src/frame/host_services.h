// Typed calls to the host's services through the callback slots, and the
// parallel-for loop that every parallel-for job runs. No result is tested:
// the host guarantees its services, and the library reports nothing.
#pragma once

#include <cstdint>

#include "frame/callback_slots.h"
#include "frame/variant.h"

namespace Orovox::OROVOX_SET::Services {

// Every allocation the library makes: alignment 4, the given label, 0 frames.
inline void* MallocTracked(int64_t size, int32_t label) { return g_mallocTrackedSlot(size, 4, label, 0); }
inline void FreeTracked(void* memory, int32_t label) { g_freeTrackedSlot(memory, label); }
inline void Abort(const char* exceptionName, const char* message) { g_abortSlot(exceptionName, message); }

// Resolves the host callbacks named by the table's letters, in order, into
// the shared slots. No address is tested for null.
inline void BindCallbacks(Resolver resolve, const char* letters) {
  for (const char* c = letters; *c != '\0'; ++c) {
    switch (*c) {
      case 'A': g_abortSlot = reinterpret_cast<AbortFn>(resolve(kAbortName)); break;
      case 'R': g_workStealingRangeSlot = reinterpret_cast<WorkStealingRangeFn>(resolve(kWorkStealingRangeName)); break;
      case 'F': g_freeTrackedSlot = reinterpret_cast<FreeTrackedFn>(resolve(kFreeTrackedName)); break;
      case 'M': g_mallocTrackedSlot = reinterpret_cast<MallocTrackedFn>(resolve(kMallocTrackedName)); break;
    }
  }
}

// The parallel-for loop: ask the host for [begin, end) until it says no work
// is left; each range is handed to `body` (which processes it ascending).
// Empty ranges (begin >= end) are skipped.
template <typename Body>
inline void ForEachRange(void* ranges, int32_t worker, Body&& body) {
  int32_t begin = 0;
  int32_t end = 0;
  while (g_workStealingRangeSlot(ranges, worker, &begin, &end)) {
    if (begin < end) body(begin, end);
  }
}

}  // namespace Orovox::OROVOX_SET::Services
