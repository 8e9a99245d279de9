// Built with -mavx2 -ffp-contract=off and without -mfma: the loops below must
// compile to vmulps and vaddps (objdump -d shows no vfmadd), one independent
// accumulator per chain, so they measure the issue rate of the multiply and
// add pipes and not a latency.
#include "peak_kernels.h"

#include <immintrin.h>
#include <sleef.h>

namespace Orovox::Bench::Peak {

__attribute__((noinline)) float MulAdd8(int64_t rounds, float multiplier, float addend) {
  const __m256 m = _mm256_set1_ps(multiplier), a = _mm256_set1_ps(addend);
  // Distinct starting values, so that the compiler cannot merge the chains.
  __m256 p0 = _mm256_set1_ps(1.0f), p1 = _mm256_set1_ps(2.0f), p2 = _mm256_set1_ps(3.0f), p3 = _mm256_set1_ps(4.0f),
         p4 = _mm256_set1_ps(5.0f), p5 = _mm256_set1_ps(6.0f), p6 = _mm256_set1_ps(7.0f);
  __m256 s0 = _mm256_set1_ps(-1.0f), s1 = _mm256_set1_ps(-2.0f), s2 = _mm256_set1_ps(-3.0f),
         s3 = _mm256_set1_ps(-4.0f), s4 = _mm256_set1_ps(-5.0f), s5 = _mm256_set1_ps(-6.0f),
         s6 = _mm256_set1_ps(-7.0f);
  for (int64_t r = 0; r < rounds; ++r) {
    p0 = _mm256_mul_ps(p0, m);
    s0 = _mm256_add_ps(s0, a);
    p1 = _mm256_mul_ps(p1, m);
    s1 = _mm256_add_ps(s1, a);
    p2 = _mm256_mul_ps(p2, m);
    s2 = _mm256_add_ps(s2, a);
    p3 = _mm256_mul_ps(p3, m);
    s3 = _mm256_add_ps(s3, a);
    p4 = _mm256_mul_ps(p4, m);
    s4 = _mm256_add_ps(s4, a);
    p5 = _mm256_mul_ps(p5, m);
    s5 = _mm256_add_ps(s5, a);
    p6 = _mm256_mul_ps(p6, m);
    s6 = _mm256_add_ps(s6, a);
  }
  const __m256 p = _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(p0, p1), _mm256_add_ps(p2, p3)),
                                 _mm256_add_ps(_mm256_add_ps(p4, p5), p6));
  const __m256 s = _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(s0, s1), _mm256_add_ps(s2, s3)),
                                 _mm256_add_ps(_mm256_add_ps(s4, s5), s6));
  return _mm256_cvtss_f32(_mm256_add_ps(p, s));
}

__attribute__((noinline)) float MulAdd4(int64_t rounds, float multiplier, float addend) {
  const __m128 m = _mm_set1_ps(multiplier), a = _mm_set1_ps(addend);
  __m128 p0 = _mm_set1_ps(1.0f), p1 = _mm_set1_ps(2.0f), p2 = _mm_set1_ps(3.0f), p3 = _mm_set1_ps(4.0f),
         p4 = _mm_set1_ps(5.0f), p5 = _mm_set1_ps(6.0f), p6 = _mm_set1_ps(7.0f);
  __m128 s0 = _mm_set1_ps(-1.0f), s1 = _mm_set1_ps(-2.0f), s2 = _mm_set1_ps(-3.0f), s3 = _mm_set1_ps(-4.0f),
         s4 = _mm_set1_ps(-5.0f), s5 = _mm_set1_ps(-6.0f), s6 = _mm_set1_ps(-7.0f);
  for (int64_t r = 0; r < rounds; ++r) {
    p0 = _mm_mul_ps(p0, m);
    s0 = _mm_add_ps(s0, a);
    p1 = _mm_mul_ps(p1, m);
    s1 = _mm_add_ps(s1, a);
    p2 = _mm_mul_ps(p2, m);
    s2 = _mm_add_ps(s2, a);
    p3 = _mm_mul_ps(p3, m);
    s3 = _mm_add_ps(s3, a);
    p4 = _mm_mul_ps(p4, m);
    s4 = _mm_add_ps(s4, a);
    p5 = _mm_mul_ps(p5, m);
    s5 = _mm_add_ps(s5, a);
    p6 = _mm_mul_ps(p6, m);
    s6 = _mm_add_ps(s6, a);
  }
  const __m128 p = _mm_add_ps(_mm_add_ps(_mm_add_ps(p0, p1), _mm_add_ps(p2, p3)), _mm_add_ps(_mm_add_ps(p4, p5), p6));
  const __m128 s = _mm_add_ps(_mm_add_ps(_mm_add_ps(s0, s1), _mm_add_ps(s2, s3)), _mm_add_ps(_mm_add_ps(s4, s5), s6));
  return _mm_cvtss_f32(_mm_add_ps(p, s));
}

void Sin8(const float* in, float* out, int n) {
  for (int i = 0; i < n; i += 8) _mm256_storeu_ps(out + i, Sleef_finz_sinf8_u35avx2(_mm256_loadu_ps(in + i)));
}
void Cos8(const float* in, float* out, int n) {
  for (int i = 0; i < n; i += 8) _mm256_storeu_ps(out + i, Sleef_finz_cosf8_u35avx2(_mm256_loadu_ps(in + i)));
}
void Sin4(const float* in, float* out, int n) {
  for (int i = 0; i < n; i += 4) _mm_storeu_ps(out + i, Sleef_cinz_sinf4_u35sse2(_mm_loadu_ps(in + i)));
}
void Cos4(const float* in, float* out, int n) {
  for (int i = 0; i < n; i += 4) _mm_storeu_ps(out + i, Sleef_cinz_cosf4_u35sse2(_mm_loadu_ps(in + i)));
}

}  // namespace Orovox::Bench::Peak
