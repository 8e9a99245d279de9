#include <cstdint>
#include <cstring>

#include "mesh/mesh_jobs.h"
#include "mesh/strided.h"

namespace Orovox::OROVOX_SET {
namespace {

// Reads each source element and writes its sum with `offset` to the same
// destination element, touching only the element's own bytes. Sums wrap in
// the unsigned type, so signedness never matters; each element is read before
// it is written, which lets source and destination be one view.
template <typename In, typename Out>
inline void OffsetRange(const StridedSlice& source, const StridedSlice& destination, Out offset, int32_t begin,
                        int32_t end) {
  for (int32_t i = begin; i < end; ++i) {
    In in;
    memcpy(&in, ElementAt(source, i), sizeof in);
    const Out out = static_cast<Out>(static_cast<Out>(in) + offset);
    memcpy(ElementAt(destination, i), &out, sizeof out);
  }
}

}  // namespace

void OffsetIndices16Job::ExecuteRange(int32_t begin, int32_t end) const {
  OffsetRange<uint16_t, uint16_t>(source, destination, static_cast<uint16_t>(offset), begin, end);
}

// The 16-bit source is unsigned: 0xFFFF widens to 65535, never to -1.
void WidenIndices16Job::ExecuteRange(int32_t begin, int32_t end) const {
  OffsetRange<uint16_t, uint32_t>(source, destination, static_cast<uint32_t>(offset), begin, end);
}

void OffsetIndices32Job::ExecuteRange(int32_t begin, int32_t end) const {
  OffsetRange<uint32_t, uint32_t>(source, destination, static_cast<uint32_t>(offset), begin, end);
}

}  // namespace Orovox::OROVOX_SET
