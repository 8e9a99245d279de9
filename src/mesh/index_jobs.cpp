#include <immintrin.h>

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

// Whether a range may run in vector blocks: both views packed (the stride is
// the element, so a block touches exactly its elements' bytes), and a block
// reading all its sources before writing gives what the element order gives.
// That holds when the two byte ranges are apart, and when they coincide
// element for element (the same view as source and destination).
template <typename In, typename Out>
bool BlocksApply(const StridedSlice& source, const StridedSlice& destination, int32_t begin, int32_t end) {
  if (source.stride != int32_t{sizeof(In)} || destination.stride != int32_t{sizeof(Out)}) return false;
  const uintptr_t s0 = reinterpret_cast<uintptr_t>(ElementAt(source, begin));
  const uintptr_t d0 = reinterpret_cast<uintptr_t>(ElementAt(destination, begin));
  const uintptr_t s1 = s0 + static_cast<uintptr_t>(end - begin) * sizeof(In);
  const uintptr_t d1 = d0 + static_cast<uintptr_t>(end - begin) * sizeof(Out);
  return (sizeof(In) == sizeof(Out) && s0 == d0) || s1 <= d0 || d1 <= s0;
}

#if OROVOX_SET_AVX2
using VI = __m256i;
inline VI LoadI(const void* p) { return _mm256_loadu_si256(static_cast<const VI*>(p)); }
inline void StoreI(void* p, VI v) { _mm256_storeu_si256(static_cast<VI*>(p), v); }
inline VI Add16(VI a, VI b) { return _mm256_add_epi16(a, b); }
inline VI Add32(VI a, VI b) { return _mm256_add_epi32(a, b); }
inline VI Set16(uint16_t x) { return _mm256_set1_epi16(static_cast<short>(x)); }
inline VI Set32(uint32_t x) { return _mm256_set1_epi32(static_cast<int>(x)); }
// Half a vector of 16-bit elements, zero-extended to a vector of 32-bit ones.
inline VI WidenHalf(const void* p) { return _mm256_cvtepu16_epi32(_mm_loadu_si128(static_cast<const __m128i*>(p))); }
#else
using VI = __m128i;
inline VI LoadI(const void* p) { return _mm_loadu_si128(static_cast<const VI*>(p)); }
inline void StoreI(void* p, VI v) { _mm_storeu_si128(static_cast<VI*>(p), v); }
inline VI Add16(VI a, VI b) { return _mm_add_epi16(a, b); }
inline VI Add32(VI a, VI b) { return _mm_add_epi32(a, b); }
inline VI Set16(uint16_t x) { return _mm_set1_epi16(static_cast<short>(x)); }
inline VI Set32(uint32_t x) { return _mm_set1_epi32(static_cast<int>(x)); }
inline VI WidenHalf(const void* p) {
  return _mm_unpacklo_epi16(_mm_loadl_epi64(static_cast<const __m128i*>(p)), _mm_setzero_si128());
}
#endif
constexpr int32_t kBytes = sizeof(VI);

// Two vectors per step, so that the loads of one overlap the adds of the other.
void Offset16Blocks(const unsigned char* in, unsigned char* out, uint16_t offset, int32_t& i, int32_t end,
                    int32_t begin) {
  const VI o = Set16(offset);
  constexpr int32_t kStep = 2 * kBytes / 2;
  for (; i + kStep <= end; i += kStep) {
    const unsigned char* s = in + int64_t{i - begin} * 2;
    unsigned char* d = out + int64_t{i - begin} * 2;
    const VI a = LoadI(s), b = LoadI(s + kBytes);
    StoreI(d, Add16(a, o));
    StoreI(d + kBytes, Add16(b, o));
  }
}

void Offset32Blocks(const unsigned char* in, unsigned char* out, uint32_t offset, int32_t& i, int32_t end,
                    int32_t begin) {
  const VI o = Set32(offset);
  constexpr int32_t kStep = 2 * kBytes / 4;
  for (; i + kStep <= end; i += kStep) {
    const unsigned char* s = in + int64_t{i - begin} * 4;
    unsigned char* d = out + int64_t{i - begin} * 4;
    const VI a = LoadI(s), b = LoadI(s + kBytes);
    StoreI(d, Add32(a, o));
    StoreI(d + kBytes, Add32(b, o));
  }
}

void Widen16Blocks(const unsigned char* in, unsigned char* out, uint32_t offset, int32_t& i, int32_t end,
                   int32_t begin) {
  const VI o = Set32(offset);
  constexpr int32_t kStep = 2 * kBytes / 4;  // 32-bit outputs per step
  for (; i + kStep <= end; i += kStep) {
    const unsigned char* s = in + int64_t{i - begin} * 2;
    unsigned char* d = out + int64_t{i - begin} * 4;
    const VI a = WidenHalf(s), b = WidenHalf(s + kBytes / 2);
    StoreI(d, Add32(a, o));
    StoreI(d + kBytes, Add32(b, o));
  }
}

}  // namespace

void OffsetIndices16Job::ExecuteRange(int32_t begin, int32_t end) const {
  const uint16_t o = static_cast<uint16_t>(offset);
  int32_t i = begin;
  if (BlocksApply<uint16_t, uint16_t>(source, destination, begin, end))
    Offset16Blocks(ElementAt(source, begin), ElementAt(destination, begin), o, i, end, begin);
  OffsetRange<uint16_t, uint16_t>(source, destination, o, i, end);
}

// The 16-bit source is unsigned: 0xFFFF widens to 65535, never to -1.
void WidenIndices16Job::ExecuteRange(int32_t begin, int32_t end) const {
  const uint32_t o = static_cast<uint32_t>(offset);
  int32_t i = begin;
  if (BlocksApply<uint16_t, uint32_t>(source, destination, begin, end))
    Widen16Blocks(ElementAt(source, begin), ElementAt(destination, begin), o, i, end, begin);
  OffsetRange<uint16_t, uint32_t>(source, destination, o, i, end);
}

void OffsetIndices32Job::ExecuteRange(int32_t begin, int32_t end) const {
  const uint32_t o = static_cast<uint32_t>(offset);
  int32_t i = begin;
  if (BlocksApply<uint32_t, uint32_t>(source, destination, begin, end))
    Offset32Blocks(ElementAt(source, begin), ElementAt(destination, begin), o, i, end, begin);
  OffsetRange<uint32_t, uint32_t>(source, destination, o, i, end);
}

}  // namespace Orovox::OROVOX_SET
