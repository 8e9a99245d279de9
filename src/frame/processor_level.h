// The processor level that picks the variant set.
#pragma once

#include <cstdint>

namespace Orovox::Frame {

// Raw feature readings: CPUID leaves 0, 1 and 7 and the XGETBV mask.
struct CpuReadings {
  uint32_t maxStandardLeaf = 0;  // CPUID.0:EAX
  uint32_t leaf1Ecx = 0;
  uint32_t leaf1Edx = 0;
  uint32_t leaf7Ebx = 0;         // CPUID.(7,0):EBX, 0 when leaf 7 is absent
  uint64_t xcr0 = 0;             // XGETBV(0), 0 unless OSXSAVE and AVX are reported
};

// Level 0..6 from the readings; a pure function, so tests feed it any processor.
int ProcessorLevel(const CpuReadings& readings);

// The real processor's readings and level, read once per process.
CpuReadings ReadProcessor();
int CurrentProcessorLevel();

// Levels 6 and 7 run the AVX2 set; every other level the SSE2 set.
inline bool SelectsAvx2(int level) { return level == 6 || level == 7; }

}  // namespace Orovox::Frame
