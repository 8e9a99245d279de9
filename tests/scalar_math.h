// The scalar SLEEF functions whose bits a variant set's vector lanes
// reproduce: the cinz family for the SSE2 set, the finz (FMA) family for the
// AVX2 set. References in the tests and baselines in the benchmarks use them.
#pragma once

#include <sleef.h>

// sleef.h declares the FMA family only when compiling for FMA; these are
// plain library functions, callable wherever the AVX2 set runs.
#ifndef FP_FAST_FMA
extern "C" {
float Sleef_finz_sinf1_u35purecfma(float);
float Sleef_finz_cosf1_u35purecfma(float);
float Sleef_finz_logf1_u35purecfma(float);
float Sleef_finz_expf1_u10purecfma(float);
float Sleef_finz_log10f1_u10purecfma(float);
float Sleef_finz_powf1_u10purecfma(float, float);
}
#endif

namespace Orovox {

struct MathSse2 {
  static float Sin(float x) { return Sleef_cinz_sinf1_u35purec(x); }
  static float Cos(float x) { return Sleef_cinz_cosf1_u35purec(x); }
  static float Log(float x) { return Sleef_cinz_logf1_u35purec(x); }
  static float Exp(float x) { return Sleef_cinz_expf1_u10purec(x); }
  static float Log10(float x) { return Sleef_cinz_log10f1_u10purec(x); }
  static float Pow(float x, float y) { return Sleef_cinz_powf1_u10purec(x, y); }
};

struct MathAvx2 {
  static float Sin(float x) { return Sleef_finz_sinf1_u35purecfma(x); }
  static float Cos(float x) { return Sleef_finz_cosf1_u35purecfma(x); }
  static float Log(float x) { return Sleef_finz_logf1_u35purecfma(x); }
  static float Exp(float x) { return Sleef_finz_expf1_u10purecfma(x); }
  static float Log10(float x) { return Sleef_finz_log10f1_u10purecfma(x); }
  static float Pow(float x, float y) { return Sleef_finz_powf1_u10purecfma(x, y); }
};

}  // namespace Orovox
