// Machine-limit loops, compiled apart with -mavx2 -ffp-contract=off (see
// peak_kernels.cpp), so that no inline code of the rest of the suite is ever
// built for AVX2 and picked by the linker for the baseline paths.
#pragma once

#include <cstdint>

namespace Orovox::Bench::Peak {

// Independent chains of 8-lane (4-lane) multiplies and of adds, never fused:
// each round issues kChains multiplies and kChains adds. Returns a value
// that depends on every chain so that nothing is optimised away.
inline constexpr int kChains = 7;
float MulAdd8(int64_t rounds, float multiplier, float addend);
float MulAdd4(int64_t rounds, float multiplier, float addend);

// SLEEF's vector forms over n values (n a multiple of 8): the AVX2 set's
// 8-wide family and the SSE2 set's 4-wide family.
void Sin8(const float* in, float* out, int n);
void Cos8(const float* in, float* out, int n);
void Sin4(const float* in, float* out, int n);
void Cos4(const float* in, float* out, int n);

}  // namespace Orovox::Bench::Peak
