#include "frame/processor_level.h"

#include <cpuid.h>

namespace Orovox::Frame {
namespace {

// CPUID.1:EDX
constexpr uint32_t kSse2 = 1u << 26;
// CPUID.1:ECX
constexpr uint32_t kSse3 = 1u << 0;
constexpr uint32_t kFma = 1u << 12;
constexpr uint32_t kSse41 = 1u << 19;
constexpr uint32_t kSse42 = 1u << 20;
constexpr uint32_t kPopcnt = 1u << 23;
constexpr uint32_t kOsxsave = 1u << 27;
constexpr uint32_t kAvx = 1u << 28;
constexpr uint32_t kF16c = 1u << 29;
// CPUID.7:EBX
constexpr uint32_t kAvx2 = 1u << 5;
// XCR0: the OS saves SSE (bit 1) and AVX (bit 2) register state.
constexpr uint64_t kXcr0SseAvx = 0x6;

bool Has(uint32_t reg, uint32_t bits) { return (reg & bits) == bits; }

}  // namespace

int ProcessorLevel(const CpuReadings& r) {
  if (r.maxStandardLeaf == 0) return 0;
  const bool sse2 = Has(r.leaf1Edx, kSse2);
  const bool sse3 = Has(r.leaf1Ecx, kSse3);
  const bool sse41 = Has(r.leaf1Ecx, kSse41);
  const bool sse42 = Has(r.leaf1Ecx, kSse42);
  const bool popcnt = Has(r.leaf1Ecx, kPopcnt);
  const bool avx = Has(r.leaf1Ecx, kOsxsave | kAvx) && (r.xcr0 & kXcr0SseAvx) == kXcr0SseAvx;
  const bool avx2 = avx && r.maxStandardLeaf >= 7 && Has(r.leaf7Ebx, kAvx2);
  const bool fma = Has(r.leaf1Ecx, kFma);
  const bool f16c = Has(r.leaf1Ecx, kF16c);

  const bool level4 = popcnt && sse2 && sse3 && sse41 && sse42;
  if (level4 && avx && avx2 && fma && f16c) return 6;
  if (level4 && avx) return 5;
  if (level4) return 4;
  if (sse2 && sse3 && sse41) return 3;
  if (sse2 && sse3) return 2;
  if (sse2) return 1;
  return 0;
}

CpuReadings ReadProcessor() {
  CpuReadings r;
  unsigned a = 0, b = 0, c = 0, d = 0;
  __cpuid(0, a, b, c, d);
  r.maxStandardLeaf = a;
  if (r.maxStandardLeaf == 0) return r;
  __cpuid(1, a, b, c, d);
  r.leaf1Ecx = c;
  r.leaf1Edx = d;
  if (r.maxStandardLeaf >= 7) {
    __cpuid_count(7, 0, a, b, c, d);
    r.leaf7Ebx = b;
  }
  // XGETBV is only legal when the OS has enabled it (OSXSAVE).
  if (Has(r.leaf1Ecx, kOsxsave | kAvx)) {
    uint32_t lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    r.xcr0 = (uint64_t{hi} << 32) | lo;
  }
  return r;
}

int CurrentProcessorLevel() {
  static const int level = ProcessorLevel(ReadProcessor());
  return level;
}

}  // namespace Orovox::Frame
