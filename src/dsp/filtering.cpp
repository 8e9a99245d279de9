// Low-pass filtering with a truncated sinc kernel, and resampling.
//
// The filter's cost is all in the accumulation: every output adds n products
// to itself, one after the other in ascending tap order. That order is part
// of the result, so one output's sum is never split. Different outputs are
// independent, though, so the fast path keeps a tile of outputs in flight at
// once: lane k of a vector handles output i + k, and several vectors per tile
// give the adder enough independent chains to hide its latency.
#include <math.h>
#include <cstdint>
#include <cstring>

#include "dsp/algorithm.h"
#include "frame/native_array.h"
#include "frame/simd.h"

namespace Orovox::OROVOX_SET {
namespace {

using simd::kLanes;
using simd::VF;

// Vectors per tile: enough independent accumulators to cover the add
// latency times the two add ports, with registers left for the broadcast
// tap and the products (the AVX2 set's twelve also halve the broadcasts).
constexpr int kTileVectors = OROVOX_SET_AVX2 ? 12 : 8;
constexpr int32_t kTile = kTileVectors * kLanes;

// Once every tap of an output reaches a sample, its tile reads the samples
// through a window: two copies on the stack, 64-byte aligned and 32 bytes
// past that, so that every load can be taken from the copy in which it does
// not straddle two cache lines (a straddling load costs two). A group of
// outputs shares one window per chunk of taps; both copies together stay
// under 6 KB, well inside the first-level cache.
constexpr int32_t kGroupOutputs = 192;  // a whole number of tiles in both sets
constexpr int32_t kChunkTaps = 512;     // a multiple of 8, see AccumulateWindowed
constexpr int32_t kWindow = kGroupOutputs + kChunkTaps + 16;
constexpr int kPhaseClasses = 16 / kLanes;  // vectors per 64-byte line
static_assert(kGroupOutputs % kTile == 0 && kTile % 16 == 0, "tiles start on a cache-line phase of 0");

bool Overlaps(const void* a, int64_t aBytes, const void* b, int64_t bBytes) {
  if (aBytes <= 0 || bBytes <= 0) return false;
  const uintptr_t a0 = reinterpret_cast<uintptr_t>(a);
  const uintptr_t b0 = reinterpret_cast<uintptr_t>(b);
  return a0 < b0 + static_cast<uintptr_t>(bBytes) && b0 < a0 + static_cast<uintptr_t>(aBytes);
}

int32_t Min(int32_t a, int32_t b) { return a < b ? a : b; }

// Tap i = 2fc sin(2 pi fc t) / (2 pi fc t) at t = i - (n - 1)/2. Blocks use
// the wide sine of the same family, so every tap has the bits of the scalar
// formula.
void BuildSincKernel(float* kernel, int32_t n, float fc) {
  const float half = static_cast<float>(n - 1) * 0.5f;
  const float w = 6.2831855f * fc;
  const float twoFc = fc + fc;
  int32_t i = 0;
  const VF vHalf = simd::Set(half), vW = simd::Set(w), vTwoFc = simd::Set(twoFc);
  for (; i + kLanes <= n; i += kLanes) {
    const VF x = simd::Mul(simd::Sub(simd::Iota(i), vHalf), vW);
    simd::Store(kernel + i, simd::Div(simd::Mul(simd::Sin(x), vTwoFc), x));
  }
  for (; i < n; ++i) {
    const float x = (static_cast<float>(i) - half) * w;
    kernel[i] = (simd::Sin(x) * twoFc) / x;
  }
}

// The definition, element by element. It is also the path for overlapping
// buffers, where later outputs read samples that earlier ones rewrote.
void AccumulatePlain(float* data, const float* s, int32_t length, const float* kernel, int32_t n) {
  for (int32_t i = 0; i < length; ++i) {
    const int32_t last = Min(n - 1, i);
    for (int32_t j = 0; j <= last; ++j) data[i] = (kernel[j] * s[i - j]) + data[i];
  }
}

// Outputs i0 ... i0 + B*kLanes - 1, all inside the buffers. Every vector's
// lanes have i >= i0, so taps 0 ... min(n - 1, i0) are valid for all of them
// and run blocked. Vector b may still take taps up to i0 + b*kLanes whole;
// beyond that its lanes differ, and each lane finishes alone. Each output
// thus adds its taps in ascending order, and never reads before s[0].
template <int B>
void AccumulateTile(float* data, const float* s, int32_t i0, const float* kernel, int32_t n) {
  VF acc[B];
#pragma GCC unroll 16
  for (int b = 0; b < B; ++b) acc[b] = simd::Load(data + i0 + b * kLanes);

  const int32_t common = Min(n - 1, i0);
  for (int32_t j = 0; j <= common; ++j) {
    const VF k = simd::Set(kernel[j]);
    const float* p = s + (i0 - j);
#pragma GCC unroll 16
    for (int b = 0; b < B; ++b) acc[b] = simd::Add(simd::Mul(k, simd::Load(p + b * kLanes)), acc[b]);
  }
  if (common == n - 1) {
#pragma GCC unroll 16
    for (int b = 0; b < B; ++b) simd::Store(data + i0 + b * kLanes, acc[b]);
    return;
  }

  // The first outputs of the block: fewer than n taps reach back to s[0].
  for (int b = 0; b < B; ++b) {
    const int32_t base = i0 + b * kLanes;
    const int32_t whole = Min(n - 1, base);
    VF a = acc[b];
    for (int32_t j = common + 1; j <= whole; ++j)
      a = simd::Add(simd::Mul(simd::Set(kernel[j]), simd::Load(s + (base - j))), a);
    simd::Store(data + base, a);
    for (int lane = 1; lane < kLanes; ++lane) {
      const int32_t i = base + lane;
      const int32_t last = Min(n - 1, i);
      for (int32_t j = whole + 1; j <= last; ++j) data[i] = (kernel[j] * s[i - j]) + data[i];
    }
  }
}

// One tile of outputs i0 ... i0 + kTile - 1 over taps j0 ... j1 - 1, every
// one of them valid, reading s[x] as lineCopy[x - base] or halfCopy[x - base].
//
// Within a block of 8 taps starting at a multiple of 8, a vector's loads
// step back 8 floats from a phase of 0, 4, 8 or 12 floats in its line (the
// tile, the block and base all sit on multiples of 8 or 16). Phases 8 and 12
// stay inside the line in the aligned copy; 0 and 4 become 8 and 12 in the
// copy that is 32 bytes further on.
void AccumulateWindowed(float* data, int32_t i0, const float* kernel, int32_t j0, int32_t j1,
                        const float* lineCopy, const float* halfCopy, int32_t base) {
  VF acc[kTileVectors];
#pragma GCC unroll 16
  for (int b = 0; b < kTileVectors; ++b) acc[b] = simd::Load(data + i0 + b * kLanes);
  for (int32_t js = j0; js < j1; js += 8) {
    const int32_t e0 = i0 - js - base;
    const float* from[kPhaseClasses];
#pragma GCC unroll 4
    for (int c = 0; c < kPhaseClasses; ++c) {
      const bool inLine = ((e0 + c * kLanes) & 15) >= 8;
      from[c] = (inLine ? lineCopy : halfCopy) + e0;
    }
    const int32_t taps = Min(8, j1 - js);
    for (int32_t t = 0; t < taps; ++t) {
      const VF k = simd::Set(kernel[js + t]);
#pragma GCC unroll 16
      for (int b = 0; b < kTileVectors; ++b)
        acc[b] = simd::Add(simd::Mul(k, simd::Load(from[b % kPhaseClasses] + (b * kLanes - t))), acc[b]);
    }
  }
#pragma GCC unroll 16
  for (int b = 0; b < kTileVectors; ++b) simd::Store(data + i0 + b * kLanes, acc[b]);
}

// Tiles g0 ... g0 + tiles * kTile - 1, all with g0 >= n - 1. Each output's
// taps still come in ascending order: chunk after chunk, and within a chunk
// as the tile loop adds them.
void AccumulateGroup(float* data, const float* s, int32_t g0, int32_t tiles, const float* kernel, int32_t n) {
  alignas(64) float lineCopy[kWindow];
  alignas(64) float halfStorage[kWindow + 8];
  float* halfCopy = halfStorage + 8;
  const int32_t outputs = tiles * kTile;
  for (int32_t j0 = 0; j0 < n; j0 += kChunkTaps) {
    const int32_t j1 = Min(n, j0 + kChunkTaps);
    const int32_t low = g0 - (j1 - 1);  // not negative: g0 >= n - 1
    const int32_t high = g0 + outputs - 1 - j0;
    const int32_t base = low & ~15;
    const size_t bytes = static_cast<size_t>(high - low + 1) * 4;
    memcpy(lineCopy + (low - base), s + low, bytes);
    memcpy(halfCopy + (low - base), s + low, bytes);
    for (int32_t t = 0; t < tiles; ++t)
      AccumulateWindowed(data, g0 + t * kTile, kernel, j0, j1, lineCopy, halfCopy, base);
  }
}

// The whole vectors left after the full tiles, as one narrower tile.
template <int B>
void AccumulateLastTile(float* data, const float* s, int32_t i0, const float* kernel, int32_t n, int vectors) {
  if (vectors == B) {
    AccumulateTile<B>(data, s, i0, kernel, n);
  } else if constexpr (B > 1) {
    AccumulateLastTile<B - 1>(data, s, i0, kernel, n, vectors);
  }
}

// The last outputs that fill no vector: each is its own chain, interleaved
// so that the chains overlap.
void AccumulateTail(float* data, const float* s, int32_t begin, int32_t length, const float* kernel, int32_t n) {
  float acc[kLanes];
  const int32_t count = length - begin;
  for (int32_t q = 0; q < count; ++q) acc[q] = data[begin + q];
  for (int32_t j = 0; j < n; ++j) {
    const float k = kernel[j];
    for (int32_t q = 0; q < count; ++q) {
      const int32_t i = begin + q;
      if (j <= i) acc[q] = (k * s[i - j]) + acc[q];
    }
  }
  for (int32_t q = 0; q < count; ++q) data[begin + q] = acc[q];
}

// data[i] = (kernel[j] * s[i - j]) + data[i] for j = 0 ... min(i, n - 1),
// ascending. The tiled path reorders nothing within an output; it only runs
// when no output is read again as a sample or a tap.
void Accumulate(float* data, const float* s, int32_t length, const float* kernel, int32_t n) {
  if (length <= 0 || n <= 0) return;
  const int64_t bytes = int64_t{length} * 4;
  if (Overlaps(data, bytes, s, bytes) || Overlaps(data, bytes, kernel, int64_t{n} * 4)) {
    AccumulatePlain(data, s, length, kernel, n);
    return;
  }
  int32_t i0 = 0;
  // The first tiles, where some outputs have fewer taps than n.
  for (; i0 + kTile <= length && i0 < n - 1; i0 += kTile) AccumulateTile<kTileVectors>(data, s, i0, kernel, n);
  while (i0 + kTile <= length) {
    const int32_t tiles = Min(kGroupOutputs / kTile, (length - i0) / kTile);
    AccumulateGroup(data, s, i0, tiles, kernel, n);
    i0 += tiles * kTile;
  }
  const int vectors = (length - i0) / kLanes;
  AccumulateLastTile<kTileVectors - 1>(data, s, i0, kernel, n, vectors);
  i0 += vectors * kLanes;
  if (i0 < length) AccumulateTail(data, s, i0, length, kernel, n);
}

// output[i] = ((input[k1] - input[k]) * frac) + input[k], k = floor(i * ratio).
// truncate(floorf(x)) per lane, with the conversion's INT32_MIN for NaN and
// out-of-range lanes. Without SSE4.1's rounding, the SSE2 set truncates and
// steps down where that went up; a lane that converted to INT32_MIN stays
// there (its only in-range source is -2^31 itself, which needs no step).
inline simd::VI FloorToInt(VF x) {
#if OROVOX_SET_AVX2
  return _mm256_cvttps_epi32(_mm256_floor_ps(x));
#else
  const __m128i t = _mm_cvttps_epi32(x);
  const __m128i up = _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(t), x));
  const __m128i invalid = _mm_cmpeq_epi32(t, _mm_set1_epi32(INT32_MIN));
  return _mm_add_epi32(t, _mm_andnot_si128(invalid, up));  // up lanes are -1
#endif
}

inline simd::VI MinIndex(simd::VI a, simd::VI b) {
#if OROVOX_SET_AVX2
  return _mm256_min_epi32(a, b);
#else
  const __m128i aAbove = _mm_cmpgt_epi32(a, b);
  return _mm_or_si128(_mm_and_si128(aAbove, b), _mm_andnot_si128(aAbove, a));
#endif
}

inline simd::VI IncrementIndex(simd::VI a) {
#if OROVOX_SET_AVX2
  return _mm256_add_epi32(a, _mm256_set1_epi32(1));
#else
  return _mm_add_epi32(a, _mm_set1_epi32(1));
#endif
}

inline void StoreIndex(int32_t* p, simd::VI v) {
#if OROVOX_SET_AVX2
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
#else
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
#endif
}

void Interpolate(const float* input, int32_t inputLength, float* output, int32_t outputLength, float ratio) {
  const int32_t lastIndex = inputLength - 1;
  int32_t i = 0;
  // Blocks read all their samples before writing, so they run only where
  // the output cannot be what a later element reads.
  if (!Overlaps(input, int64_t{inputLength} * 4, output, int64_t{outputLength} * 4)) {
    const VF r = simd::Set(ratio);
#if OROVOX_SET_AVX2
    const simd::VI last = _mm256_set1_epi32(lastIndex);
#else
    const simd::VI last = _mm_set1_epi32(lastIndex);
#endif
    alignas(32) int32_t k[kLanes];
    alignas(32) int32_t k1[kLanes];
    alignas(32) float a[kLanes];
    alignas(32) float b[kLanes];
    for (; i + kLanes <= outputLength; i += kLanes) {
      const VF pos = simd::Mul(simd::Iota(i), r);
      const simd::VI kv = FloorToInt(pos);
      StoreIndex(k, kv);
      StoreIndex(k1, MinIndex(IncrementIndex(kv), last));
      for (int lane = 0; lane < kLanes; ++lane) {
        a[lane] = input[k[lane]];
        b[lane] = input[k1[lane]];
      }
      const VF frac = simd::Sub(pos, simd::FromInt(kv));
      const VF va = simd::Load(a);
      simd::Store(output + i, simd::Add(simd::Mul(simd::Sub(simd::Load(b), va), frac), va));
    }
  }
  for (; i < outputLength; ++i) {
    const float pos = static_cast<float>(i) * ratio;
    const int32_t k = simd::TruncToInt(floorf(pos));
    const int32_t k1 = Min(k + 1, lastIndex);
    const float frac = pos - static_cast<float>(k);
    output[i] = ((input[k1] - input[k]) * frac) + input[k];
  }
}

}  // namespace

void Algorithm::LowPassFilter(NativeArray<float>& data, float sampleRate, float cutoff, float range) {
  NativeArray<float> copy = CreateTemporaryCopy(data);
  // The tap count is always even, so no tap sits at t = 0.
  const int32_t m = simd::TruncToInt(rintf(3.1f / (range / sampleRate)));
  const int32_t n = (m & 1) != 0 ? m + 1 : m;
  NativeArray<float> kernel = CreateTemporary<float>(n);
  if (n > 0) {
    const float fc = (cutoff - range) / sampleRate;
    BuildSincKernel(kernel.elements, n, fc);
    Accumulate(data.elements, copy.elements, data.length, kernel.elements, n);
  }
  FreeScratch(copy.elements);
  FreeScratch(kernel.elements);
}

void Algorithm::LowPassFilterDirect(float* data, int32_t length, const float* input, float* kernel,
                                    int32_t kernelLength, float normalizedCutoff) {
  if (kernelLength < 1) return;
  BuildSincKernel(kernel, kernelLength, normalizedCutoff);
  Accumulate(data, input, length, kernel, kernelLength);
}

void Algorithm::DownSample(const NativeArray<float>& input, NativeArray<float>& output, int32_t sampleRate,
                           int32_t targetSampleRate) {
  // Read `input` before `output` is written: the caller may pass one record
  // as both.
  const float* source = input.elements;
  const int32_t length = input.length;
  if (sampleRate <= targetSampleRate) {
    output = CreateTemporaryCopy(input);
    return;
  }
  if (sampleRate % targetSampleRate != 0) {
    const float ratio = static_cast<float>(sampleRate) / static_cast<float>(targetSampleRate);
    const int32_t n = simd::TruncToInt(rintf(static_cast<float>(length) / ratio));
    output = CreateTemporary<float>(n);
    Interpolate(source, length, output.elements, n, ratio);
    return;
  }
  const int32_t step = sampleRate / targetSampleRate;
  const int32_t n = length / step;
  output = CreateTemporary<float>(n);
  for (int32_t i = 0; i < n; ++i) output.elements[i] = source[i * step];
}

void Algorithm::ResampleLinear(const float* input, int32_t inputLength, float* output, int32_t outputLength,
                               float ratio) {
  Interpolate(input, inputLength, output, outputLength, ratio);
}

}  // namespace Orovox::OROVOX_SET
