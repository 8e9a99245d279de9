// The library frame through the stand-alone host: initialisation, dispatch,
// the processor level and the support entries.
#include <dlfcn.h>

#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "frame/processor_level.h"
#include "support.h"

namespace Orovox::Test {
namespace {

using Frame::CpuReadings;
using Frame::ProcessorLevel;

// --- Processor level -------------------------------------------------------------
constexpr uint32_t kEdxSse2 = 1u << 26;
constexpr uint32_t kSse3 = 1u << 0, kSsse3 = 1u << 9, kFma = 1u << 12, kSse41 = 1u << 19, kSse42 = 1u << 20,
                   kPopcnt = 1u << 23, kOsxsave = 1u << 27, kAvx = 1u << 28, kF16c = 1u << 29;
constexpr uint32_t kAvx2 = 1u << 5;
constexpr uint32_t kLevel4Ecx = kSse3 | kSse41 | kSse42 | kPopcnt;
constexpr uint32_t kAvxEcx = kLevel4Ecx | kOsxsave | kAvx;
constexpr uint32_t kAllEcx = kAvxEcx | kFma | kF16c;

struct LevelCase {
  const char* what;
  CpuReadings readings;
  int level;
};

TEST(ProcessorLevel, FollowsTheFeatureLadder) {
  const LevelCase cases[] = {
      {"highest leaf 0 hides every feature", {0, kAllEcx, kEdxSse2, kAvx2, 6}, 0},
      {"nothing", {7, 0, 0, 0, 0}, 0},
      {"SSE2", {7, 0, kEdxSse2, 0, 0}, 1},
      {"SSE3", {7, kSse3, kEdxSse2, 0, 0}, 2},
      {"SSE4.1", {7, kSse3 | kSse41, kEdxSse2, 0, 0}, 3},
      {"SSE4.1 without SSE3", {7, kSse41, kEdxSse2, 0, 0}, 1},
      {"SSE4.2 and POPCNT", {7, kLevel4Ecx, kEdxSse2, 0, 0}, 4},
      {"SSSE3 plays no part", {7, kLevel4Ecx | kSsse3, kEdxSse2, 0, 0}, 4},
      {"AVX enabled by the OS", {7, kAvxEcx, kEdxSse2, 0, 6}, 5},
      {"AVX without AVX state enabled", {7, kAvxEcx, kEdxSse2, 0, 2}, 4},
      {"AVX without OSXSAVE", {7, kLevel4Ecx | kAvx, kEdxSse2, 0, 6}, 4},
      {"full AVX2 set", {7, kAllEcx, kEdxSse2, kAvx2, 6}, 6},
      {"AVX2 without FMA", {7, kAllEcx & ~kFma, kEdxSse2, kAvx2, 6}, 5},
      {"AVX2 without F16C", {7, kAllEcx & ~kF16c, kEdxSse2, kAvx2, 6}, 5},
      {"AVX2 without usable AVX", {7, kAllEcx, kEdxSse2, kAvx2, 2}, 4},
      {"AVX2 bit but no leaf 7", {6, kAllEcx, kEdxSse2, kAvx2, 6}, 5},
      {"AVX2 without SSE4.2", {7, kAllEcx & ~kSse42, kEdxSse2, kAvx2, 6}, 3},
  };
  for (const LevelCase& c : cases) EXPECT_EQ(ProcessorLevel(c.readings), c.level) << c.what;
}

TEST(ProcessorLevel, OnlyLevelsSixAndSevenSelectAvx2) {
  for (int level = 0; level <= 7; ++level) EXPECT_EQ(Frame::SelectsAvx2(level), level >= 6) << level;
}

TEST(ProcessorLevel, RealProcessorIsReadOnceAndConsistently) {
  EXPECT_EQ(Frame::CurrentProcessorLevel(), ProcessorLevel(Frame::ReadProcessor()));
  EXPECT_GE(Frame::CurrentProcessorLevel(), 1) << "x86-64 always has SSE2";
}

// --- Dispatch ----------------------------------------------------------------------
// A dispatcher is one indirect jump through its slot (jmp *disp32(%rip)).
// Decoding it shows which body the slot holds, for all 28 entries at once.
const void* SlotTarget(const void* dispatcher) {
  const auto* code = static_cast<const unsigned char*>(dispatcher);
  size_t at = 0;
  if (code[0] == 0xF3 && code[1] == 0x0F && code[2] == 0x1E && code[3] == 0xFA) at = 4;  // endbr64
  if (code[at] != 0xFF || code[at + 1] != 0x25) return nullptr;
  int32_t disp;
  std::memcpy(&disp, code + at + 2, 4);
  const auto* slot = reinterpret_cast<void* const*>(code + at + 6 + disp);
  return *slot;
}

TEST(Dispatch, EveryDispatcherReachesTheChosenSet) {
  Host::Library& lib = Lib();
  const char* suffix = Host::Library::ChosenSet() == VariantSet::Avx2 ? kAvx2Suffix : kSse2Suffix;
  for (const EntryInfo& e : kEntryTable) {
    void* dispatcher = lib.Symbol(e.identifier);
    ASSERT_NE(dispatcher, nullptr) << e.name;
    const void* target = SlotTarget(dispatcher);
    ASSERT_NE(target, nullptr) << e.name << ": not a jump through a slot";
    EXPECT_EQ(target, lib.Symbol(std::string(e.identifier) + suffix)) << e.name;
  }
}

TEST(Dispatch, ResultsMatchTheChosenSetsBody) {
  // Both sets may differ in the last bits of their cosines; whichever the
  // dispatcher gives must be the chosen set's.
  std::vector<float> in(64), viaDispatch(64), viaSet(64);
  for (int i = 0; i < 64; ++i) in[i] = static_cast<float>((i * 37) % 17) - 8.25f;
  Lib().entries().CosineTransform(in.data(), viaDispatch.data(), 64);
  Lib().set(Host::Library::ChosenSet()).CosineTransform(in.data(), viaSet.data(), 64);
  EXPECT_TRUE(SameBits(viaSet, viaDispatch));
}

TEST(SupportEntries, ProbeCompiledAnswersTrueEverywhere) {
  EXPECT_TRUE(Lib().entries().ProbeCompiled());
  for (VariantSet s : Sets()) EXPECT_TRUE(Lib().set(s).ProbeCompiled()) << SetName(s);
}

TEST(SupportEntries, ControlStatusRoundTripsOnTheCallingThreadOnly) {
  const Host::EntryPoints& e = Lib().entries();
  const int32_t saved = e.GetControlStatus();
  // Round toward zero, flush-to-zero, all exceptions masked, flags cleared.
  const int32_t wanted = 0x1F80 | 0x6000 | 0x8000;
  // A thread started now keeps its own register: set ours, then read theirs.
  std::promise<void> changed;
  std::future<int32_t> other = std::async(std::launch::async, [&] {
    changed.get_future().wait();
    return Lib().entries().GetControlStatus();
  });
  e.SetControlStatus(wanted);
  changed.set_value();
  EXPECT_EQ(e.GetControlStatus(), wanted);
  EXPECT_EQ(other.get(), saved) << "another thread's register is not changed";
  for (VariantSet s : Sets()) {
    Lib().set(s).SetControlStatus(0x1F80);
    EXPECT_EQ(Lib().set(s).GetControlStatus(), 0x1F80) << SetName(s);
  }
  e.SetControlStatus(saved);
  EXPECT_EQ(e.GetControlStatus(), saved);
}

// --- Initialisation ------------------------------------------------------------------
std::vector<std::string>* g_resolved = nullptr;

void* RecordingResolver(const char* name) {
  g_resolved->push_back(name);
  return Host::HostResolve(name);
}

std::string LetterName(char c) {
  switch (c) {
    case 'A': return kAbortName;
    case 'R': return kWorkStealingRangeName;
    case 'F': return kFreeTrackedName;
    case 'M': return kMallocTrackedName;
  }
  return "?";
}

template <typename T>
T SlotValue(const char* name) {
  void* slot = Lib().Symbol(name);
  EXPECT_NE(slot, nullptr) << name;
  return slot != nullptr ? *static_cast<T*>(slot) : T{};
}

TEST(Initialisation, ResolvesEveryEntrysCallbacksInTableOrder) {
  std::vector<std::string> expected;
  for (const EntryInfo& e : kEntryTable)
    for (const char* c = e.callbacks; *c != '\0'; ++c) expected.push_back(LetterName(*c));
  ASSERT_EQ(expected.front(), "burst_abort");

  for (int round = 0; round < 2; ++round) {  // a second call repeats the same work
    std::vector<std::string> seen;
    g_resolved = &seen;
    Lib().Initialize(&RecordingResolver);
    g_resolved = nullptr;
    EXPECT_EQ(seen, expected) << "round " << round;
    EXPECT_EQ(SlotValue<void*>("burst_abort_Ptr"), reinterpret_cast<void*>(&Host::HostAbort));
    EXPECT_EQ(SlotValue<void*>("Unity.Jobs.LowLevel.Unsafe.JobsUtility::GetWorkStealingRange_Ptr"),
              reinterpret_cast<void*>(&Host::HostGetWorkStealingRange));
    EXPECT_EQ(SlotValue<void*>("Unity.Collections.LowLevel.Unsafe.UnsafeUtility::MallocTracked_Ptr"),
              reinterpret_cast<void*>(&Host::TrackedAllocator::Allocate));
    EXPECT_EQ(SlotValue<void*>("Unity.Collections.LowLevel.Unsafe.UnsafeUtility::FreeTracked_Ptr"),
              reinterpret_cast<void*>(&Host::TrackedAllocator::Free));
    EXPECT_TRUE(Lib().entries().ProbeCompiled());
  }
}

TEST(Initialisation, ZeroVectorsAreExportedAsZeros) {
  const auto* v2 = static_cast<const float*>(Lib().Symbol("UnityEngine.Vector2 UnityEngine.Vector2::zeroVector"));
  const auto* v3 = static_cast<const float*>(Lib().Symbol("UnityEngine.Vector3 UnityEngine.Vector3::zeroVector"));
  ASSERT_NE(v2, nullptr);
  ASSERT_NE(v3, nullptr);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Bits(v2[i]), 0u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Bits(v3[i]), 0u);
}

TEST(Resolver, AnswersTheFourServicesByExactNameOnly) {
  EXPECT_NE(Host::HostResolve("burst_abort"), nullptr);
  EXPECT_NE(Host::HostResolve(kWorkStealingRangeName), nullptr);
  EXPECT_NE(Host::HostResolve(kMallocTrackedName), nullptr);
  EXPECT_NE(Host::HostResolve(kFreeTrackedName), nullptr);
  for (const char* other : {"", "burst_abort ", "Burst_abort", "Unity.Collections.LowLevel.Unsafe.UnsafeUtility::Malloc"})
    EXPECT_EQ(Host::HostResolve(other), nullptr) << '"' << other << '"';
  EXPECT_EQ(Host::HostResolve(nullptr), nullptr);
}

}  // namespace
}  // namespace Orovox::Test
