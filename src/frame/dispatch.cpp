// The set-independent part of the library, generated from the entry table:
// the dispatch slots and dispatchers, the shared callback slots, the two
// zero vectors, and burst.initialize.
#include <cstdint>

#include "frame/callback_slots.h"
#include "frame/processor_level.h"
#include "frame/symbol.h"
#include "orovox/entries.h"

using Orovox::Resolver;

// --- Shared slots -------------------------------------------------------------
// The exported data slots are laid out here in assembly: their names hold
// dots, colons and spaces, which instrumentation passes (AddressSanitizer's
// global registration) cannot spell. Code reaches the callback slots through
// the declarations in callback_slots.h; no entry reads the two zero vectors.
#define OROVOX_DATA_SLOT(name, bytes)               \
  __asm__(".pushsection .bss\n"                     \
          ".globl \"" name "\"\n"                   \
          ".type \"" name "\", @object\n"           \
          ".size \"" name "\", " #bytes "\n"         \
          ".p2align 3\n"                             \
          "\"" name "\":\n"                          \
          ".zero " #bytes "\n"                       \
          ".popsection\n");

OROVOX_DATA_SLOT("burst_abort_Ptr", 8)
OROVOX_DATA_SLOT("Unity.Jobs.LowLevel.Unsafe.JobsUtility::GetWorkStealingRange_Ptr", 8)
OROVOX_DATA_SLOT("Unity.Collections.LowLevel.Unsafe.UnsafeUtility::MallocTracked_Ptr", 8)
OROVOX_DATA_SLOT("Unity.Collections.LowLevel.Unsafe.UnsafeUtility::FreeTracked_Ptr", 8)
OROVOX_DATA_SLOT("UnityEngine.Vector2 UnityEngine.Vector2::zeroVector", 8)   // two floats
OROVOX_DATA_SLOT("UnityEngine.Vector3 UnityEngine.Vector3::zeroVector", 12)  // three floats

// One slot per entry, empty until burst.initialize has run. The dispatchers
// below reach it by this name.
__attribute__((visibility("hidden"))) void* g_dispatch[Orovox::kEntryCount] __asm__("orovox_dispatch_slots");

// --- Declarations of both sets' symbols -----------------------------------------
#define OROVOX_DECLARE_SET(number, id, R, params)                                                           \
  extern "C" R Sse2Body_##number params OROVOX_SYMBOL(id "_x64_sse2");                                     \
  extern "C" R Avx2Body_##number params OROVOX_SYMBOL(id "_avx2");                                         \
  extern "C" void Sse2Bind_##number(Resolver) OROVOX_SYMBOL("burst.initialize.externals." id "_x64_sse2");    \
  extern "C" void Avx2Bind_##number(Resolver) OROVOX_SYMBOL("burst.initialize.externals." id "_avx2");        \
  extern "C" void Sse2Statics_##number() OROVOX_SYMBOL("burst.initialize.statics." id "_x64_sse2");           \
  extern "C" void Avx2Statics_##number() OROVOX_SYMBOL("burst.initialize.statics." id "_avx2");

#define OROVOX_JOB_PARAMS (void* record, void* hostA, void* hostB, void* ranges, int32_t worker)

// A dispatcher is one indirect jump through its slot: every argument register
// and the stack reach the chosen body untouched, whatever the entry's
// parameters, and the result comes back the same way.
#define OROVOX_DISPATCHER(number, id)                                      \
  __asm__(".text\n"                                                       \
          ".globl \"" id "\"\n"                                           \
          ".type \"" id "\", @function\n"                                 \
          ".p2align 4\n"                                                  \
          "\"" id "\":\n"                                                  \
          "\tjmp *orovox_dispatch_slots+8*(" #number "-1)(%rip)\n"       \
          ".size \"" id "\", .-\"" id "\"\n");

#define OROVOX_FUNCTION(number, id, Name, callbacks, R, params, args, impl) \
  OROVOX_DECLARE_SET(number, id, R, params)                                 \
  OROVOX_DISPATCHER(number, id)
#define OROVOX_JOB(number, id, Name, Kind, callbacks, Record) \
  OROVOX_DECLARE_SET(number, id, void, OROVOX_JOB_PARAMS)     \
  OROVOX_DISPATCHER(number, id)
#include "orovox/entry_table.def"
#undef OROVOX_FUNCTION
#undef OROVOX_JOB

namespace {

struct SetSymbols {
  void* body;
  void (*bind)(Resolver);
  void (*statics)();
};

struct EntrySymbols {
  SetSymbols sse2;
  SetSymbols avx2;
};

// Both sets' symbols of every entry, in table order.
const EntrySymbols kEntrySymbols[] = {
#define OROVOX_ROW(number)                                                               \
  {{reinterpret_cast<void*>(&Sse2Body_##number), &Sse2Bind_##number, &Sse2Statics_##number}, \
   {reinterpret_cast<void*>(&Avx2Body_##number), &Avx2Bind_##number, &Avx2Statics_##number}},
#define OROVOX_FUNCTION(number, ...) OROVOX_ROW(number)
#define OROVOX_JOB(number, ...) OROVOX_ROW(number)
#include "orovox/entry_table.def"
#undef OROVOX_FUNCTION
#undef OROVOX_JOB
#undef OROVOX_ROW
};
static_assert(sizeof(kEntrySymbols) / sizeof(kEntrySymbols[0]) == Orovox::kEntryCount);

}  // namespace

extern "C" OROVOX_EXPORT void BurstInitialize(Resolver resolve) OROVOX_SYMBOL("burst.initialize");

void BurstInitialize(Resolver resolve) {
  const bool avx2 = Orovox::Frame::SelectsAvx2(Orovox::Frame::CurrentProcessorLevel());
  auto chosen = [avx2](const EntrySymbols& e) -> const SetSymbols& { return avx2 ? e.avx2 : e.sse2; };
  for (const EntrySymbols& e : kEntrySymbols) chosen(e).bind(resolve);
  for (const EntrySymbols& e : kEntrySymbols) chosen(e).statics();
  for (int i = 0; i < Orovox::kEntryCount; ++i) g_dispatch[i] = chosen(kEntrySymbols[i]).body;
}
