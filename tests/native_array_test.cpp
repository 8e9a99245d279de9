// Temporary arrays, scratch buffers and the dispose rule. The frame's own
// header is compiled here against slots of this executable, which never
// loads the library, so the rules are checked in isolation.
#include <gtest/gtest.h>

#include "frame/native_array.h"
#include "orovox/host.h"
#include "standalone_slots.h"

namespace Orovox::Test {
namespace {

namespace Lib = ::Orovox::OROVOX_SET;
using Host::AllocationEvent;
using Host::TrackedAllocator;

TEST(TemporaryArray, IsZeroFilledWithLabelTwoAndSizeInBytes) {
  TrackedAllocator::SetPoison(true);
  TrackedAllocator::StartRecording();
  NativeArray<float> a = Lib::CreateTemporary<float>(37);
  NativeArray<float> empty = Lib::CreateTemporary<float>(0);
  auto events = TrackedAllocator::StopRecording();
  TrackedAllocator::SetPoison(false);

  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].size, 37 * 4);
  EXPECT_EQ(events[1].size, 0) << "a length-0 array still asks the allocator, for 0 bytes";
  for (const AllocationEvent& e : events) {
    EXPECT_EQ(e.kind, AllocationEvent::Allocate);
    EXPECT_EQ(e.alignment, 4);
    EXPECT_EQ(e.label, 2);
    EXPECT_EQ(e.framesToSkip, 0);
  }
  EXPECT_EQ(a.length, 37);
  EXPECT_EQ(a.label, 2);
  for (int i = 0; i < 37; ++i) EXPECT_EQ(a.elements[i], 0.0f) << i;
  EXPECT_EQ(empty.length, 0);
  EXPECT_EQ(empty.label, 2);
  Lib::Dispose(a);
  Lib::Dispose(empty);
}

TEST(TemporaryArray, CopyIsByteForByteWithoutZeroFill) {
  float source[5] = {1.5f, -0.0f, 3.0f, __builtin_nanf("0x123"), 7.0f};
  NativeArray<float> from{source, 5, kAllocatorNone};
  TrackedAllocator::StartRecording();
  NativeArray<float> copy = Lib::CreateTemporaryCopy(from);
  auto events = TrackedAllocator::StopRecording();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].size, 20);
  EXPECT_EQ(copy.label, 2);
  EXPECT_EQ(std::memcmp(copy.elements, source, sizeof source), 0);
  Lib::Dispose(copy);
}

TEST(Dispose, FollowsTheLabel) {
  const int64_t live = TrackedAllocator::LiveBlocks();
  TrackedAllocator::StartRecording();

  NativeArray<float> nothing{nullptr, 4, kAllocatorInvalid};  // null: nothing happens, whatever the label
  Lib::Dispose(nothing);
  EXPECT_EQ(nothing.label, kAllocatorInvalid);

  float borrowed[3] = {};
  NativeArray<float> view{borrowed, 3, kAllocatorNone};  // label 1: pointer cleared, nothing freed
  Lib::Dispose(view);
  EXPECT_EQ(view.elements, nullptr);
  EXPECT_EQ(view.label, kAllocatorNone);

  auto events = TrackedAllocator::StopRecording();
  EXPECT_TRUE(events.empty());

  NativeArray<float> temp = Lib::CreateTemporary<float>(8);  // label 2: freed with label 2
  TrackedAllocator::StartRecording();
  Lib::Dispose(temp);
  events = TrackedAllocator::StopRecording();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, AllocationEvent::Free);
  EXPECT_EQ(events[0].label, 2);
  EXPECT_EQ(temp.elements, nullptr);
  EXPECT_EQ(temp.label, kAllocatorInvalid);
  EXPECT_EQ(TrackedAllocator::LiveBlocks(), live);
}

TEST(DisposeDeathTest, LabelZeroAbortsWithTheHostsTextsThenTraps) {
  float memory[2] = {};
  NativeArray<float> invalid{memory, 2, kAllocatorInvalid};
  EXPECT_DEATH(Lib::Dispose(invalid),
               "System\\.InvalidOperationException: The NativeArray can not be Disposed because it was not "
               "allocated with a valid allocator\\.");
}

TEST(ScratchBuffer, FreeSkipsNull) {
  TrackedAllocator::StartRecording();
  Lib::FreeScratch(nullptr);
  float* s = Lib::AllocateScratch<float>(3);
  Lib::FreeScratch(s);
  auto events = TrackedAllocator::StopRecording();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, AllocationEvent::Allocate);
  EXPECT_EQ(events[1].kind, AllocationEvent::Free);
  EXPECT_EQ(events[1].pointer, s);
}

}  // namespace
}  // namespace Orovox::Test
