// The four exported host-callback slots. The binders of either variant set
// write them at initialisation; entries read them through host_services.h.
#pragma once

#include "frame/symbol.h"
#include "orovox/entries.h"

extern "C" {
OROVOX_EXPORT extern Orovox::AbortFn g_abortSlot OROVOX_SYMBOL("burst_abort_Ptr");
OROVOX_EXPORT extern Orovox::WorkStealingRangeFn g_workStealingRangeSlot
    OROVOX_SYMBOL("Unity.Jobs.LowLevel.Unsafe.JobsUtility::GetWorkStealingRange_Ptr");
OROVOX_EXPORT extern Orovox::MallocTrackedFn g_mallocTrackedSlot
    OROVOX_SYMBOL("Unity.Collections.LowLevel.Unsafe.UnsafeUtility::MallocTracked_Ptr");
OROVOX_EXPORT extern Orovox::FreeTrackedFn g_freeTrackedSlot
    OROVOX_SYMBOL("Unity.Collections.LowLevel.Unsafe.UnsafeUtility::FreeTracked_Ptr");
}
