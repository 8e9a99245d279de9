// For tests that compile library code into themselves instead of loading
// the library: the four callback slots, defined here and bound to the
// stand-alone host's services before main. Include it in exactly one source
// of such a test. The slots are laid out in assembly because their names
// hold dots and colons, which AddressSanitizer's global registration cannot
// spell.
#pragma once

#include "frame/callback_slots.h"
#include "orovox/host.h"

#define OROVOX_TEST_SLOT(name)            \
  __asm__(".pushsection .bss\n"           \
          ".globl \"" name "\"\n"         \
          ".type \"" name "\", @object\n" \
          ".size \"" name "\", 8\n"       \
          ".p2align 3\n"                  \
          "\"" name "\":\n"               \
          ".zero 8\n"                     \
          ".popsection\n");
OROVOX_TEST_SLOT("burst_abort_Ptr")
OROVOX_TEST_SLOT("Unity.Jobs.LowLevel.Unsafe.JobsUtility::GetWorkStealingRange_Ptr")
OROVOX_TEST_SLOT("Unity.Collections.LowLevel.Unsafe.UnsafeUtility::MallocTracked_Ptr")
OROVOX_TEST_SLOT("Unity.Collections.LowLevel.Unsafe.UnsafeUtility::FreeTracked_Ptr")
#undef OROVOX_TEST_SLOT

namespace {
[[maybe_unused]] const bool kStandaloneSlotsBound = [] {
  g_abortSlot = &Orovox::Host::HostAbort;
  g_workStealingRangeSlot = &Orovox::Host::HostGetWorkStealingRange;
  g_mallocTrackedSlot = &Orovox::Host::TrackedAllocator::Allocate;
  g_freeTrackedSlot = &Orovox::Host::TrackedAllocator::Free;
  return true;
}();
}  // namespace
