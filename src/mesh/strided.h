// Element addressing of a StridedSlice: element i lies at elements + i * stride,
// with i and the signed stride widened to 64 bits first so that large indices
// and negative strides address correctly.
#pragma once

#include <cstdint>

#include "frame/variant.h"
#include "orovox/records.h"

namespace Orovox::OROVOX_SET {

inline unsigned char* ElementAt(const StridedSlice& slice, int32_t i) {
  return static_cast<unsigned char*>(slice.elements) + int64_t{i} * int64_t{slice.stride};
}

}  // namespace Orovox::OROVOX_SET
