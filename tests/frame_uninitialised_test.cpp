// A process that has loaded the library but not initialised it: every slot
// is empty, and initialisation fills them.
#include <gtest/gtest.h>

#include "orovox/host.h"

namespace Orovox::Test {
namespace {

void* Slot(Host::Library& lib, const char* name) { return *static_cast<void**>(lib.Symbol(name)); }

TEST(BeforeInitialisation, SlotsAreEmptyUntilBurstInitialize) {
  Host::Library lib(Host::Library::DefaultPath(), /*initialize=*/false);
  const char* slots[] = {"burst_abort_Ptr", "Unity.Jobs.LowLevel.Unsafe.JobsUtility::GetWorkStealingRange_Ptr",
                         "Unity.Collections.LowLevel.Unsafe.UnsafeUtility::MallocTracked_Ptr",
                         "Unity.Collections.LowLevel.Unsafe.UnsafeUtility::FreeTracked_Ptr"};
  for (const char* s : slots) EXPECT_EQ(Slot(lib, s), nullptr) << s;
  // No entry is callable yet: a dispatcher jumps through an empty slot.
  EXPECT_DEATH(lib.entries().ProbeCompiled(), "");

  lib.Initialize();
  for (const char* s : slots) EXPECT_NE(Slot(lib, s), nullptr) << s;
  EXPECT_TRUE(lib.entries().ProbeCompiled());
}

}  // namespace
}  // namespace Orovox::Test
