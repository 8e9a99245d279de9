// Pixel helpers shared by the texture jobs: a float channel becomes a byte,
// and four bytes become one 32-bit RGBA pixel (R in the low byte).
#pragma once

#include <immintrin.h>

#include <math.h>
#include <cstdint>
#include <cstring>

#include "frame/simd.h"
#include "frame/variant.h"
#include "orovox/records.h"

namespace Orovox::OROVOX_SET::Rgba32 {

// Clamp to [0, 1] (a NaN passes both tests and stays NaN), scale by 255 and
// round in the current rounding mode. The truncating conversion turns NaN
// into INT32_MIN, whose low byte is 0, so a NaN channel paints as 0.
inline uint32_t ChannelToByte(float x) {
  const float clamped = x < 0.0f ? 0.0f : (x > 1.0f ? 1.0f : x);
  return static_cast<uint32_t>(simd::TruncToInt(rintf(clamped * 255.0f))) & 0xFFu;
}

inline uint32_t Pack(uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return r | (g << 8) | (b << 16) | (a << 24); }

inline void Store(Rgba32Pixel* pixel, uint32_t packed) { memcpy(pixel, &packed, 4); }

// --- The same rule over a vector of channels ---------------------------------------
// The channel has already been clamped to [0, 255] or is NaN, so converting
// with the current rounding mode is rintf followed by the truncating
// conversion, lane by lane.
#if OROVOX_SET_AVX2
using VI = __m256i;
inline VI RoundToInt(simd::VF x) { return _mm256_cvtps_epi32(x); }
inline VI LowByte(VI v) { return _mm256_and_si256(v, _mm256_set1_epi32(0xFF)); }
inline VI ShiftLeft8(VI v) { return _mm256_slli_epi32(v, 8); }
inline VI ShiftLeft16(VI v) { return _mm256_slli_epi32(v, 16); }
inline VI OrBits(VI a, VI b) { return _mm256_or_si256(a, b); }
inline VI Opaque() { return _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u)); }
inline void StorePixels(Rgba32Pixel* p, VI v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
#else
using VI = __m128i;
inline VI RoundToInt(simd::VF x) { return _mm_cvtps_epi32(x); }
inline VI LowByte(VI v) { return _mm_and_si128(v, _mm_set1_epi32(0xFF)); }
inline VI ShiftLeft8(VI v) { return _mm_slli_epi32(v, 8); }
inline VI ShiftLeft16(VI v) { return _mm_slli_epi32(v, 16); }
inline VI OrBits(VI a, VI b) { return _mm_or_si128(a, b); }
inline VI Opaque() { return _mm_set1_epi32(static_cast<int32_t>(0xFF000000u)); }
inline void StorePixels(Rgba32Pixel* p, VI v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
#endif

inline VI ChannelToByte(simd::VF x) {
  using namespace simd;
  const VF zero = Zero();
  const VF one = Set(1.0f);
  // Same order as the scalar rule: below 0 first, then above 1; NaN falls through both.
  const VF clamped = Select(Lt(x, zero), zero, Select(Gt(x, one), one, x));
  return LowByte(RoundToInt(Mul(clamped, Set(255.0f))));
}

// kLanes opaque pixels from three channel vectors.
inline void StoreOpaque(Rgba32Pixel* p, simd::VF r, simd::VF g, simd::VF b) {
  const VI packed = OrBits(OrBits(ChannelToByte(r), ShiftLeft8(ChannelToByte(g))),
                           OrBits(ShiftLeft16(ChannelToByte(b)), Opaque()));
  StorePixels(p, packed);
}

}  // namespace Orovox::OROVOX_SET::Rgba32
