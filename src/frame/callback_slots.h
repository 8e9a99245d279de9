// The four exported host-callback slots. The binders of either variant set
// write them at initialisation; entries read them through host_services.h.
#pragma once

#include "orovox/entries.h"

#define OROVOX_SLOT_EXPORT __attribute__((visibility("default")))

extern "C" {
OROVOX_SLOT_EXPORT extern Orovox::AbortFn g_abortSlot __asm__("burst_abort_Ptr");
OROVOX_SLOT_EXPORT extern Orovox::WorkStealingRangeFn g_workStealingRangeSlot
    __asm__("\"Unity.Jobs.LowLevel.Unsafe.JobsUtility::GetWorkStealingRange_Ptr\"");
OROVOX_SLOT_EXPORT extern Orovox::MallocTrackedFn g_mallocTrackedSlot
    __asm__("\"Unity.Collections.LowLevel.Unsafe.UnsafeUtility::MallocTracked_Ptr\"");
OROVOX_SLOT_EXPORT extern Orovox::FreeTrackedFn g_freeTrackedSlot
    __asm__("\"Unity.Collections.LowLevel.Unsafe.UnsafeUtility::FreeTracked_Ptr\"");
}
