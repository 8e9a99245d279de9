// Each kernel source is compiled once per variant set. The build defines
// OROVOX_SET (the namespace: sse2 or avx2) and OROVOX_SET_AVX2 (0 or 1), so
// every function of a set lives in Orovox::<set> and the two copies never
// meet at link time. Headers included by kernel sources keep their inline
// code inside this namespace for the same reason.
#pragma once

#if !defined(OROVOX_SET) || !defined(OROVOX_SET_AVX2)
#error "kernel sources are compiled per variant set (OROVOX_SET, OROVOX_SET_AVX2)"
#endif

#if OROVOX_SET_AVX2
#if !defined(__AVX2__) || !defined(__FMA__) || !defined(__F16C__)
#error "the AVX2 set is compiled with -mavx2 -mfma -mf16c"
#endif
#define OROVOX_SET_SUFFIX "_avx2"
#else
#if defined(__AVX__)
#error "the SSE2 set is compiled for baseline x86-64"
#endif
#define OROVOX_SET_SUFFIX "_x64_sse2"
#endif

#include "frame/symbol.h"
