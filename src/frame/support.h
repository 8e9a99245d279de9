// The three support entries: a probe and the MXCSR control/status register.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "frame/variant.h"

namespace Orovox::OROVOX_SET::Support {

inline bool ProbeCompiled() { return true; }

// MXCSR is per thread; these act on the calling thread only.
inline void SetControlStatus(int32_t bits) { _mm_setcsr(static_cast<unsigned int>(bits)); }
inline int32_t GetControlStatus() { return static_cast<int32_t>(_mm_getcsr()); }

}  // namespace Orovox::OROVOX_SET::Support
