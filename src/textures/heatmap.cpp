#include <math.h>

#include <cstdint>

#include "frame/simd.h"
#include "textures/rgba32.h"
#include "textures/texture_jobs.h"

namespace Orovox::OROVOX_SET {
namespace {

constexpr float kPi = 3.1415927f;

// The truncated remainder of s by 2. In double, as C's fmod would work it
// out; the result is exact, so rounding back to float loses nothing.
inline float RemainderBy2(float s) {
  if (simd::Abs(s) < 2.0f) return s;
  const double d = s;
  return static_cast<float>(d - 2.0 * trunc(d * 0.5));
}

inline uint32_t HeatColor(float v, float minValue, float range) {
  const float t = (v - minValue) / range;
  const float c = simd::Cos(t * kPi);
  // s = 5 (1 + c) / 2, one rounding per step in this order.
  const float s = (1.0f - (1.0f - c) * 0.5f) * 5.0f;
  const float h = 1.0f - simd::Abs(RemainderBy2(s) - 1.0f);
  float r, g, b;
  // Every comparison with NaN is false: a NaN s takes the last band.
  if (s < 1.0f) {
    r = 1.0f, g = h, b = 0.0f;
  } else if (s < 2.0f) {
    r = h, g = 1.0f, b = 0.0f;
  } else if (s < 3.0f) {
    r = 0.0f, g = 1.0f, b = h;
  } else if (s < 4.0f) {
    r = 0.0f, g = h, b = 1.0f;
  } else {
    r = 0.5f * h, g = 0.0f, b = 0.5f;
  }
  return Rgba32::Pack(Rgba32::ChannelToByte(r), Rgba32::ChannelToByte(g), Rgba32::ChannelToByte(b), 255u);
}

// trunc of each lane. Lanes of magnitude 2^23 and above (and NaN) are
// already integral and pass unchanged; the integer round trip would clip them.
inline simd::VF Trunc(simd::VF x) {
#if OROVOX_SET_AVX2
  return _mm256_round_ps(x, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
#else
  using namespace simd;
  const VF small = Lt(Abs(x), Set(8388608.0f));
  return Select(small, FromInt(TruncToInt(x)), x);
#endif
}

// kLanes pixels at once, each exactly as HeatColor gives it. The remainder is
// taken in single precision here: for a float s >= 2, s * 0.5, its trunc, the
// doubled trunc and the difference are all exact in float as in double, so
// both give the same bits.
inline void HeatColors(Rgba32Pixel* out, const float* values, simd::VF minValue, simd::VF range) {
  using namespace simd;
  const VF one = Set(1.0f);
  const VF two = Set(2.0f);
  const VF half = Set(0.5f);
  const VF zero = Zero();

  const VF t = Div(Sub(Load(values), minValue), range);
  const VF c = Cos(Mul(t, Set(kPi)));
  const VF s = Mul(Sub(one, Mul(Sub(one, c), half)), Set(5.0f));
  const VF m = Select(Lt(Abs(s), two), s, Sub(s, Mul(two, Trunc(Mul(s, half)))));
  const VF h = Sub(one, Abs(Sub(m, one)));

  const VF lt1 = Lt(s, one);
  const VF lt2 = Lt(s, two);
  const VF lt3 = Lt(s, Set(3.0f));
  const VF lt4 = Lt(s, Set(4.0f));
  const VF r = Select(lt1, one, Select(lt2, h, Select(lt4, zero, Mul(half, h))));
  const VF g = Select(lt1, h, Select(lt3, one, Select(lt4, h, zero)));
  const VF b = Select(lt2, zero, Select(lt3, h, Select(lt4, one, half)));
  Rgba32::StoreOpaque(out, r, g, b);
}

}  // namespace

void PaintHeatmapJob::Execute() const {
  if (height <= 0 || width <= 0) return;
  const float range = maxValue - minValue;
  const simd::VF minVector = simd::Set(minValue);
  const simd::VF rangeVector = simd::Set(range);
  for (int32_t y = 0; y < height; ++y) {
    // Indices are 32-bit: y * width + x, wrapping as the host's arithmetic does.
    const int32_t rowStart = static_cast<int32_t>(static_cast<uint32_t>(y) * static_cast<uint32_t>(width));
    const bool lastIndexFits = int64_t{y} * width + (width - 1) <= INT32_MAX;
    int32_t x = 0;
    if (lastIndexFits) {
      for (; x <= width - simd::kLanes; x += simd::kLanes)
        HeatColors(pixels.elements + rowStart + x, values.elements + rowStart + x, minVector, rangeVector);
    }
    for (; x < width; ++x) {
      const int32_t i = static_cast<int32_t>(static_cast<uint32_t>(rowStart) + static_cast<uint32_t>(x));
      Rgba32::Store(pixels.elements + i, HeatColor(values.elements[i], minValue, range));
    }
  }
}

}  // namespace Orovox::OROVOX_SET
