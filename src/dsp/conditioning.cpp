// Frame conditioning (pre-emphasis, Hamming window, peak normalisation) and
// measures (peak, RMS, norm), plus the ring and strided copies.
//
// Loops over independent elements run in vector blocks; the reductions stay
// one scalar accumulator in ascending order, so every set returns the same
// bits for them. Where a loop may read what it has just written (overlapping
// buffers), only the ascending element-by-element loop gives the defined
// result, and that is what runs.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dsp/algorithm.h"
#include "frame/simd.h"

namespace Orovox::OROVOX_SET {
namespace {

using simd::kLanes;
using simd::VF;

// Whether the element ranges [a, a + aCount) and [b, b + bCount) share a byte.
bool Overlaps(const float* a, int64_t aCount, const float* b, int64_t bCount) {
  if (aCount <= 0 || bCount <= 0) return false;
  const uintptr_t a0 = reinterpret_cast<uintptr_t>(a);
  const uintptr_t b0 = reinterpret_cast<uintptr_t>(b);
  return a0 < b0 + static_cast<uintptr_t>(bCount * 4) && b0 < a0 + static_cast<uintptr_t>(aCount * 4);
}

// Moves the 32-bit pattern, so that signalling NaNs arrive as they left.
void CopyBits(float* to, const float* from) { std::memcpy(to, from, 4); }

// Signed 32-bit addition that wraps instead of being undefined. Only
// arguments beyond the caller's limits make it wrap, and the one past-the-end
// index that a gather loop computes but never uses.
int32_t WrappingAdd(int32_t a, uint32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + b); }

// kLanes elements p[lane * stride], bit patterns unchanged.
VF GatherBlock(const float* p, ptrdiff_t stride);

}  // namespace

void Algorithm::PreEmphasize(float* output, const float* input, int32_t length, float coefficient) {
  if (length < 2) return;
  int32_t i = 1;
  if (!Overlaps(output + 1, length - 1, input, length)) {
    const VF c = simd::Set(coefficient);
    for (; i + kLanes <= length; i += kLanes)
      simd::Store(output + i, simd::Sub(simd::Load(input + i), simd::Mul(simd::Load(input + i - 1), c)));
  }
  for (; i < length; ++i) output[i] = input[i] - (input[i - 1] * coefficient);
}

void Algorithm::ApplyHamming(float* data, int32_t length) {
  if (length <= 0) return;
  // The symmetric window: the phase reaches 2 pi at the last element, and a
  // single element divides 0 by 0.
  const float d = static_cast<float>(length - 1);
  int32_t i = 0;
  const VF vD = simd::Set(d), twoPi = simd::Set(6.2831855f), a = simd::Set(-0.46f), b = simd::Set(0.54f);
  for (; i + kLanes <= length; i += kLanes) {
    const VF phase = simd::Mul(simd::Div(simd::Iota(i), vD), twoPi);
    const VF w = simd::Add(simd::Mul(simd::Cos(phase), a), b);
    simd::Store(data + i, simd::Mul(w, simd::Load(data + i)));
  }
  for (; i < length; ++i) {
    const float phase = (static_cast<float>(i) / d) * 6.2831855f;
    const float w = (simd::Cos(phase) * -0.46f) + 0.54f;
    data[i] = w * data[i];
  }
}

float Algorithm::PeakMagnitude(const float* data, int32_t length) {
  float peak = 0.0f;
  for (int32_t i = 0; i < length; ++i) {
    const float a = simd::Abs(data[i]);
    if (__builtin_isnan(a)) continue;
    if (!(peak > a)) peak = a;
  }
  return peak;
}

void Algorithm::NormalizePeak(float* data, int32_t length, float target) {
  if (length <= 0) return;
  const float peak = PeakMagnitude(data, length);
  if (peak < 1.1920929e-7f) return;
  // One multiplication per element by one rounded scale, not a division each.
  const float scale = target / peak;
  int32_t i = 0;
  const VF s = simd::Set(scale);
  for (; i + kLanes <= length; i += kLanes) simd::Store(data + i, simd::Mul(simd::Load(data + i), s));
  for (; i < length; ++i) data[i] = data[i] * scale;
}

namespace {
float SumOfSquares(const float* data, int32_t length) {
  float sum = 0.0f;
  for (int32_t i = 0; i < length; ++i) sum = sum + (data[i] * data[i]);
  return sum;
}
}  // namespace

// A negative length leaves the sum at +0 and divides it by a negative count:
// the result is -0.
float Algorithm::RootMeanSquare(const float* data, int32_t length) {
  return simd::Sqrt(SumOfSquares(data, length) / static_cast<float>(length));
}

float Algorithm::EuclideanNorm(const float* data, int32_t length) { return simd::Sqrt(SumOfSquares(data, length)); }

void Algorithm::UnrollRingBuffer(const float* ring, float* output, int32_t length, int32_t start) {
  if (length <= 0) return;
  // (start + i) rem length without a division per element, where that is the
  // same sequence: a start that is not negative and a sum that cannot wrap.
  if (start >= 0 && int64_t{start} + length - 1 <= INT32_MAX) {
    int32_t index = start % length;
    if (!Overlaps(ring, length, output, length)) {
      // Apart, the sequence is two runs: from the start to the end of the
      // ring, then from its beginning.
      const int32_t first = length - index;
      std::memcpy(output, ring + index, static_cast<size_t>(first) * 4);
      std::memcpy(output + first, ring, static_cast<size_t>(index) * 4);
      return;
    }
    for (int32_t i = 0; i < length; ++i) {
      CopyBits(output + i, ring + index);
      if (++index == length) index = 0;
    }
    return;
  }
  // Outside the caller's limits: the definition as written, with the signed
  // sum wrapping instead of being undefined.
  for (int32_t i = 0; i < length; ++i) {
    CopyBits(output + i, ring + WrappingAdd(start, static_cast<uint32_t>(i)) % length);
  }
}

void Algorithm::GatherStrided(const float* input, float* output, int32_t count, int32_t stride) {
  if (count <= 0) return;
  const int64_t lastIndex = int64_t{count - 1} * stride;
  const bool indexFits = lastIndex >= INT32_MIN && lastIndex <= INT32_MAX;
  const int64_t low = lastIndex < 0 ? lastIndex : 0;
  const int64_t high = lastIndex < 0 ? 0 : lastIndex;
  int32_t i = 0;
  int32_t index = 0;
  if (indexFits && !Overlaps(input + low, high - low + 1, output, count)) {
    // No index of a block reaches past the last one, so it is formed in
    // pointer-sized arithmetic, which the compiler can step.
    const ptrdiff_t step = stride;
    for (; i + kLanes <= count; i += kLanes) simd::Store(output + i, GatherBlock(input + i * step, step));
    index = static_cast<int32_t>(int64_t{i} * stride);  // unused (and out of range) when no element is left
  }
  // The index is a running 32-bit sum; past the caller's limit it wraps.
  for (; i < count; ++i) {
    CopyBits(output + i, input + index);
    index = WrappingAdd(index, static_cast<uint32_t>(stride));
  }
}

namespace {

// Loads and inserts move bits without touching them. The AVX2 set does not
// use the gather instruction: on the processors it runs on, eight separate
// loads are faster.
#if OROVOX_SET_AVX2
VF GatherBlock(const float* p, ptrdiff_t stride) {
  const __m128 low = _mm_setr_ps(p[0], p[stride], p[2 * stride], p[3 * stride]);
  const __m128 high = _mm_setr_ps(p[4 * stride], p[5 * stride], p[6 * stride], p[7 * stride]);
  return _mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1);
}
#else
VF GatherBlock(const float* p, ptrdiff_t stride) {
  return _mm_setr_ps(p[0], p[stride], p[2 * stride], p[3 * stride]);
}
#endif

}  // namespace
}  // namespace Orovox::OROVOX_SET
