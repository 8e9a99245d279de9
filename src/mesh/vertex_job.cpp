#include <cstdint>
#include <cstring>

#include "mesh/mesh_jobs.h"
#include "mesh/strided.h"

namespace Orovox::OROVOX_SET {
namespace {

// Values travel as bytes: no float register arithmetic ever touches them, so
// NaN payloads (signalling ones included), -0 and subnormals arrive unchanged.
// Each piece is read with loads of its own size (8 + 4 for three floats), so
// nothing past an element's bytes is read, and written as soon as its stream's
// inputs are in registers: no record is assembled in memory, where a wide
// reload of narrower stores would stall.

// The defaults of the absent inputs, read in their place with stride 0.
alignas(16) constexpr unsigned char kZeros[16] = {};
alignas(16) constexpr float kOnes[4] = {1.0f, 1.0f, 1.0f, 1.0f};

// A view walked by a running pointer (element i at elements + i * stride).
struct Cursor {
  const unsigned char* p;
  int64_t stride;
};

Cursor Input(const StridedSlice& slice, bool present, const void* standIn, int32_t begin) {
  if (!present) return {static_cast<const unsigned char*>(standIn), 0};
  return {ElementAt(slice, begin), int64_t{slice.stride}};
}

struct Piece12 {
  uint64_t low;
  uint32_t high;
};
struct Piece16 {
  uint64_t low, high;
};

Piece12 Read12(const unsigned char* p) {
  Piece12 v;
  memcpy(&v.low, p, 8);
  memcpy(&v.high, p + 8, 4);
  return v;
}
Piece16 Read16(const unsigned char* p) {
  Piece16 v;
  memcpy(&v.low, p, 8);
  memcpy(&v.high, p + 8, 8);
  return v;
}
uint64_t Read8(const unsigned char* p) {
  uint64_t v;
  memcpy(&v, p, 8);
  return v;
}

void Write12(unsigned char* p, Piece12 v) {
  memcpy(p, &v.low, 8);
  memcpy(p + 8, &v.high, 4);
}
void Write16(unsigned char* p, Piece16 v) {
  memcpy(p, &v.low, 8);
  memcpy(p + 8, &v.high, 8);
}
void Write8(unsigned char* p, uint64_t v) { memcpy(p, &v, 8); }

}  // namespace

void InterleaveVerticesJob::ExecuteRange(int32_t begin, int32_t end) const {
  if (begin >= end) return;
  // Presence is decided once for the range: any length but 0 (negative too).
  // An absent input's own view is never read; its default stands in.
  Cursor in0 = Input(input0, true, nullptr, begin);
  Cursor in1 = Input(input1, input1.length != 0, kZeros, begin);
  Cursor in2 = Input(input2, input2.length != 0, kZeros, begin);
  Cursor in3 = Input(input3, input3.length != 0, kOnes, begin);
  Cursor in4 = Input(input4, input4.length != 0, kZeros, begin);
  Cursor in5 = Input(input5, input5.length != 0, kZeros, begin);
  unsigned char* out0 = ElementAt(stream0, begin);
  unsigned char* out1 = ElementAt(stream1, begin);
  unsigned char* out2 = ElementAt(stream2, begin);
  const int64_t step0 = stream0.stride, step1 = stream1.stride, step2 = stream2.stride;

  for (int32_t i = begin; i < end; ++i) {
    // Each stream is written only after its own inputs were read, in the
    // order stream0, stream1, stream2, so views that share memory see the
    // same bytes as an element-by-element copy would.
    const Piece12 a = Read12(in1.p);
    const Piece12 b = Read12(in0.p);
    Write12(out0, b);
    Write12(out0 + 12, a);

    const uint64_t c = Read8(in2.p);
    const Piece16 d = Read16(in3.p);
    Write16(out1, d);
    Write8(out1 + 16, c);

    const uint64_t e = Read8(in5.p);
    const Piece16 f = Read16(in4.p);
    Write16(out2, f);
    Write8(out2 + 16, e);

    in0.p += in0.stride;
    in1.p += in1.stride;
    in2.p += in2.stride;
    in3.p += in3.stride;
    in4.p += in4.stride;
    in5.p += in5.stride;
    out0 += step0;
    out1 += step1;
    out2 += step2;
  }
}

}  // namespace Orovox::OROVOX_SET
