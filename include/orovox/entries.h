// The entry table as data, and the calling conventions of the three kinds.
#pragma once

#include <cstdint>

namespace Orovox {

enum class EntryKind { Function, SingleJob, ParallelForJob };

// Every job entry takes these five arguments; single jobs read only `record`.
using JobEntry = void (*)(void* record, void* hostA, void* hostB, void* ranges, int32_t worker);

// The host's symbol resolver handed to burst.initialize.
using Resolver = void* (*)(const char* name);

struct EntryInfo {
  int number;              // 1-based position in initialisation order
  const char* identifier;  // 32 hexadecimal digits: the dispatcher's symbol
  const char* name;        // unique name of the entry
  EntryKind kind;
  const char* callbacks;   // host services bound, in resolution order (A, R, F, M)
};

inline constexpr EntryInfo kEntryTable[] = {
#define OROVOX_FUNCTION(number, id, Name, callbacks, R, params, args, impl) \
  {number, id, #Name, EntryKind::Function, callbacks},
#define OROVOX_JOB(number, id, Name, Kind, callbacks, Record) \
  {number, id, #Name, EntryKind::Kind, callbacks},
#include "orovox/entry_table.def"
#undef OROVOX_FUNCTION
#undef OROVOX_JOB
};

inline constexpr int kEntryCount = sizeof(kEntryTable) / sizeof(kEntryTable[0]);
static_assert(kEntryCount == 28);

// Symbol suffixes of the two variant sets.
inline constexpr const char* kSse2Suffix = "_x64_sse2";
inline constexpr const char* kAvx2Suffix = "_avx2";

// Host callback names, by the letters used in the table's callbacks column.
inline constexpr const char* kAbortName = "burst_abort";
inline constexpr const char* kWorkStealingRangeName =
    "Unity.Jobs.LowLevel.Unsafe.JobsUtility::GetWorkStealingRange";
inline constexpr const char* kMallocTrackedName =
    "Unity.Collections.LowLevel.Unsafe.UnsafeUtility::MallocTracked";
inline constexpr const char* kFreeTrackedName =
    "Unity.Collections.LowLevel.Unsafe.UnsafeUtility::FreeTracked";

// Signatures of the host services.
using AbortFn = void (*)(const char* exceptionName, const char* message);
using MallocTrackedFn = void* (*)(int64_t size, int32_t alignment, int32_t label, int32_t framesToSkip);
using FreeTrackedFn = void (*)(void* memory, int32_t label);
using WorkStealingRangeFn = bool (*)(void* ranges, int32_t worker, int32_t* begin, int32_t* end);

}  // namespace Orovox
