// The vector layer of one variant set: a float vector of kLanes lanes (4 in
// the SSE2 set, 8 in the AVX2 set), the few operations the kernels need, and
// the set's transcendental functions.
//
// Transcendentals use SLEEF's bit-consistent families so that a vector lane
// and a scalar tail give the same bits within one set: cinz (no FMA) for the
// SSE2 set, finz (FMA) for the AVX2 set. Plain arithmetic is never fused
// (-ffp-contract=off); only SLEEF's own code uses FMA, and only in the AVX2 set.
#pragma once

#include <immintrin.h>
#include <sleef.h>

#include <cstdint>

#include "frame/variant.h"

namespace Orovox::OROVOX_SET::simd {

#if OROVOX_SET_AVX2

inline constexpr int kLanes = 8;
using VF = __m256;
using VI = __m256i;

inline VF Zero() { return _mm256_setzero_ps(); }
inline VF Set(float x) { return _mm256_set1_ps(x); }
inline VF Load(const float* p) { return _mm256_loadu_ps(p); }
inline void Store(float* p, VF v) { _mm256_storeu_ps(p, v); }
inline VF Add(VF a, VF b) { return _mm256_add_ps(a, b); }
inline VF Sub(VF a, VF b) { return _mm256_sub_ps(a, b); }
inline VF Mul(VF a, VF b) { return _mm256_mul_ps(a, b); }
inline VF Div(VF a, VF b) { return _mm256_div_ps(a, b); }
inline VF Sqrt(VF a) { return _mm256_sqrt_ps(a); }
inline VF And(VF a, VF b) { return _mm256_and_ps(a, b); }
inline VF AndNot(VF a, VF b) { return _mm256_andnot_ps(a, b); }  // ~a & b
inline VF Or(VF a, VF b) { return _mm256_or_ps(a, b); }
// Comparisons give all-ones lanes where true; any comparison with NaN is false.
inline VF Lt(VF a, VF b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
inline VF Le(VF a, VF b) { return _mm256_cmp_ps(a, b, _CMP_LE_OQ); }
inline VF Gt(VF a, VF b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
inline VF Select(VF mask, VF ifTrue, VF ifFalse) { return _mm256_blendv_ps(ifFalse, ifTrue, mask); }
// Lane i holds base + i, exactly (small integers are exact in float).
inline VF Iota(int32_t base) {
  return _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(base), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
}
inline VF FromInt(VI v) { return _mm256_cvtepi32_ps(v); }
inline VI TruncToInt(VF v) { return _mm256_cvttps_epi32(v); }

inline VF Sin(VF x) { return Sleef_finz_sinf8_u35avx2(x); }
inline VF Cos(VF x) { return Sleef_finz_cosf8_u35avx2(x); }
inline VF Log(VF x) { return Sleef_finz_logf8_u35avx2(x); }
inline VF Exp(VF x) { return Sleef_finz_expf8_u10avx2(x); }
inline VF Log10(VF x) { return Sleef_finz_log10f8_u10avx2(x); }
inline VF Pow(VF x, VF y) { return Sleef_finz_powf8_u10avx2(x, y); }

inline float Sin(float x) { return Sleef_finz_sinf1_u35purecfma(x); }
inline float Cos(float x) { return Sleef_finz_cosf1_u35purecfma(x); }
inline float Log(float x) { return Sleef_finz_logf1_u35purecfma(x); }
inline float Exp(float x) { return Sleef_finz_expf1_u10purecfma(x); }
inline float Log10(float x) { return Sleef_finz_log10f1_u10purecfma(x); }
inline float Pow(float x, float y) { return Sleef_finz_powf1_u10purecfma(x, y); }

#else

inline constexpr int kLanes = 4;
using VF = __m128;
using VI = __m128i;

inline VF Zero() { return _mm_setzero_ps(); }
inline VF Set(float x) { return _mm_set1_ps(x); }
inline VF Load(const float* p) { return _mm_loadu_ps(p); }
inline void Store(float* p, VF v) { _mm_storeu_ps(p, v); }
inline VF Add(VF a, VF b) { return _mm_add_ps(a, b); }
inline VF Sub(VF a, VF b) { return _mm_sub_ps(a, b); }
inline VF Mul(VF a, VF b) { return _mm_mul_ps(a, b); }
inline VF Div(VF a, VF b) { return _mm_div_ps(a, b); }
inline VF Sqrt(VF a) { return _mm_sqrt_ps(a); }
inline VF And(VF a, VF b) { return _mm_and_ps(a, b); }
inline VF AndNot(VF a, VF b) { return _mm_andnot_ps(a, b); }  // ~a & b
inline VF Or(VF a, VF b) { return _mm_or_ps(a, b); }
// Comparisons give all-ones lanes where true; any comparison with NaN is false.
inline VF Lt(VF a, VF b) { return _mm_cmplt_ps(a, b); }
inline VF Le(VF a, VF b) { return _mm_cmple_ps(a, b); }
inline VF Gt(VF a, VF b) { return _mm_cmpgt_ps(a, b); }
// SSE2 has no blend instruction: (mask & a) | (~mask & b).
inline VF Select(VF mask, VF ifTrue, VF ifFalse) { return _mm_or_ps(_mm_and_ps(mask, ifTrue), _mm_andnot_ps(mask, ifFalse)); }
inline VF Iota(int32_t base) {
  return _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(base), _mm_setr_epi32(0, 1, 2, 3)));
}
inline VF FromInt(VI v) { return _mm_cvtepi32_ps(v); }
inline VI TruncToInt(VF v) { return _mm_cvttps_epi32(v); }

inline VF Sin(VF x) { return Sleef_cinz_sinf4_u35sse2(x); }
inline VF Cos(VF x) { return Sleef_cinz_cosf4_u35sse2(x); }
inline VF Log(VF x) { return Sleef_cinz_logf4_u35sse2(x); }
inline VF Exp(VF x) { return Sleef_cinz_expf4_u10sse2(x); }
inline VF Log10(VF x) { return Sleef_cinz_log10f4_u10sse2(x); }
inline VF Pow(VF x, VF y) { return Sleef_cinz_powf4_u10sse2(x, y); }

inline float Sin(float x) { return Sleef_cinz_sinf1_u35purec(x); }
inline float Cos(float x) { return Sleef_cinz_cosf1_u35purec(x); }
inline float Log(float x) { return Sleef_cinz_logf1_u35purec(x); }
inline float Exp(float x) { return Sleef_cinz_expf1_u10purec(x); }
inline float Log10(float x) { return Sleef_cinz_log10f1_u10purec(x); }
inline float Pow(float x, float y) { return Sleef_cinz_powf1_u10purec(x, y); }

#endif

inline VF Abs(VF a) { return AndNot(Set(-0.0f), a); }

// The processor's truncating float-to-int32 conversion: NaN and values out of
// range give INT32_MIN. A C++ cast is undefined for those inputs.
inline int32_t TruncToInt(float x) { return _mm_cvttss_si32(_mm_set_ss(x)); }

// Correctly rounded square root, without the errno path of sqrtf.
inline float Sqrt(float x) { return _mm_cvtss_f32(_mm_sqrt_ss(_mm_set_ss(x))); }

// |x| as the sign bit cleared (also for NaN).
inline float Abs(float x) { return __builtin_fabsf(x); }

}  // namespace Orovox::OROVOX_SET::simd
