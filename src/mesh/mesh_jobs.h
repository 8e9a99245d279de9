// Parallel-for jobs over index and vertex buffers. Each worker calls
// ExecuteRange for every range the host hands it.
#pragma once

#include <cstdint>

#include "frame/variant.h"
#include "orovox/records.h"

namespace Orovox::OROVOX_SET {

struct OffsetIndices16Job : ::Orovox::OffsetIndices16Job {
  void ExecuteRange(int32_t begin, int32_t end) const;
};

struct WidenIndices16Job : ::Orovox::WidenIndices16Job {
  void ExecuteRange(int32_t begin, int32_t end) const;
};

struct OffsetIndices32Job : ::Orovox::OffsetIndices32Job {
  void ExecuteRange(int32_t begin, int32_t end) const;
};

struct InterleaveVerticesJob : ::Orovox::InterleaveVerticesJob {
  void ExecuteRange(int32_t begin, int32_t end) const;
};

}  // namespace Orovox::OROVOX_SET
