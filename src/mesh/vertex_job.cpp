#include <cstdint>
#include <cstring>

#include "mesh/mesh_jobs.h"
#include "mesh/strided.h"

namespace Orovox::OROVOX_SET {
namespace {

// One 24-byte output record, assembled from its inputs and then written with
// a single copy, so bytes past 24 in the output element are never touched.
// Values travel as bytes: no float register ever holds them, so NaN payloads
// (signalling ones included), -0 and subnormals arrive unchanged.
struct Record24 {
  unsigned char bytes[24];
};

constexpr float kOnes[4] = {1.0f, 1.0f, 1.0f, 1.0f};

}  // namespace

void InterleaveVerticesJob::ExecuteRange(int32_t begin, int32_t end) const {
  // Presence is decided once for the range: any length but 0 (negative too).
  const bool has1 = input1.length != 0;
  const bool has2 = input2.length != 0;
  const bool has3 = input3.length != 0;
  const bool has4 = input4.length != 0;
  const bool has5 = input5.length != 0;

  for (int32_t i = begin; i < end; ++i) {
    // Each stream is written only after its own inputs were read, in the
    // order stream0, stream1, stream2, so views that share memory see the
    // same bytes as an element-by-element copy would.
    Record24 out;
    if (has1)
      memcpy(out.bytes + 12, ElementAt(input1, i), 12);
    else
      memset(out.bytes + 12, 0, 12);
    memcpy(out.bytes, ElementAt(input0, i), 12);
    memcpy(ElementAt(stream0, i), &out, 24);

    if (has2)
      memcpy(out.bytes + 16, ElementAt(input2, i), 8);
    else
      memset(out.bytes + 16, 0, 8);
    if (has3)
      memcpy(out.bytes, ElementAt(input3, i), 16);
    else
      memcpy(out.bytes, kOnes, 16);
    memcpy(ElementAt(stream1, i), &out, 24);

    if (has5)
      memcpy(out.bytes + 16, ElementAt(input5, i), 8);
    else
      memset(out.bytes + 16, 0, 8);
    if (has4)
      memcpy(out.bytes, ElementAt(input4, i), 16);
    else
      memset(out.bytes, 0, 16);
    memcpy(ElementAt(stream2, i), &out, 24);
  }
}

}  // namespace Orovox::OROVOX_SET
