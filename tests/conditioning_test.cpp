// Frame conditioning and measures: both sets' bodies against plain
// transcriptions of the algorithms (bit for bit), the Hamming window against
// its formula in double, overlapping buffers, and the listed edge cases.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support.h"

namespace Orovox::Test {
namespace {

using Host::TrackedAllocator;

// --- References, written as the algorithms read ---------------------------------

void RefPreEmphasize(float* output, const float* input, int32_t length, float coefficient) {
  if (length < 2) return;
  for (int32_t i = 1; i < length; ++i) output[i] = input[i] - (input[i - 1] * coefficient);
}

void RefApplyHamming(const ScalarMath& m, float* data, int32_t length) {
  if (length <= 0) return;
  const float d = static_cast<float>(length - 1);
  for (int32_t i = 0; i < length; ++i) {
    const float phase = (static_cast<float>(i) / d) * 6.2831855f;
    const float w = (m.cos(phase) * -0.46f) + 0.54f;
    data[i] = w * data[i];
  }
}

float RefPeakMagnitude(const float* data, int32_t length) {
  float peak = 0.0f;
  for (int32_t i = 0; i < length; ++i) {
    const float a = std::fabs(data[i]);
    if (std::isnan(a)) continue;
    if (!(peak > a)) peak = a;
  }
  return peak;
}

void RefNormalizePeak(float* data, int32_t length, float target) {
  if (length <= 0) return;
  const float peak = RefPeakMagnitude(data, length);
  if (peak < 1.1920929e-7f) return;
  const float scale = target / peak;
  for (int32_t i = 0; i < length; ++i) data[i] = data[i] * scale;
}

float RefSumOfSquares(const float* data, int32_t length) {
  float sum = 0.0f;
  for (int32_t i = 0; i < length; ++i) sum = sum + (data[i] * data[i]);
  return sum;
}

float RefRootMeanSquare(const float* data, int32_t length) {
  return std::sqrt(RefSumOfSquares(data, length) / static_cast<float>(length));
}

float RefEuclideanNorm(const float* data, int32_t length) { return std::sqrt(RefSumOfSquares(data, length)); }

void RefUnrollRingBuffer(const float* ring, float* output, int32_t length, int32_t start) {
  for (int32_t i = 0; i < length; ++i) output[i] = ring[(start + i) % length];
}

void RefGatherStrided(const float* input, float* output, int32_t count, int32_t stride) {
  int32_t index = 0;
  for (int32_t i = 0; i < count; ++i, index += stride) output[i] = input[index];
}

// --- Fixtures -----------------------------------------------------------------

// Samples in [-2, 2]; with `specials`, about one in twelve is a NaN (quiet or
// signalling payload), an infinity, a signed zero or a subnormal.
std::vector<float> Samples(size_t n, uint32_t seed, bool specials = false) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(-2.0f, 2.0f);
  const float kinds[] = {FromBits(0x7fc00000u), FromBits(0x7f800123u), INFINITY, -INFINITY, -0.0f, 0.0f,
                         FLT_TRUE_MIN * 3.0f,   -FLT_MIN / 2.0f};
  std::vector<float> v(n);
  for (float& x : v) {
    x = d(rng);
    if (specials && rng() % 12 == 0) x = kinds[rng() % 8];
  }
  return v;
}

std::vector<int32_t> Lengths() {
  std::vector<int32_t> v;
  for (int32_t n = 0; n <= 40; ++n) v.push_back(n);
  for (int32_t n : {63, 64, 65, 1000}) v.push_back(n);
  return v;
}

void Fill(Buffer& b, const std::vector<float>& v) {
  for (size_t i = 0; i < v.size(); ++i) b[i] = v[i];
}

std::string Trace(VariantSet s, const char* what, int32_t length, size_t misalign) {
  return std::string(SetName(s)) + " " + what + " length " + std::to_string(length) + " misalign " +
         std::to_string(misalign);
}

// --- Every entry against its transcription ---------------------------------------

TEST(Conditioning, InPlaceKernelsMatchTranscriptionBitForBit) {
  for (VariantSet s : Sets()) {
    const auto& lib = Lib().set(s);
    const ScalarMath m = MathOf(s);
    for (int32_t length : Lengths()) {
      for (size_t misalign : {size_t{0}, size_t{1}, size_t{3}}) {
        // Hamming on plain samples: NaN payloads would only test the multiply.
        for (bool specials : {false, true}) {
          SCOPED_TRACE(Trace(s, specials ? "with specials" : "finite", length, misalign));
          const auto v = Samples(static_cast<size_t>(length), 100u + static_cast<uint32_t>(length), specials);
          Buffer b(v.size(), misalign);

          std::vector<float> expected = v;
          RefApplyHamming(m, expected.data(), length);
          Fill(b, v);
          lib.ApplyHamming(b.data(), length);
          ASSERT_TRUE(SameBits(expected, b.vec())) << "ApplyHamming";

          for (float target : {1.0f, -0.75f}) {
            expected = v;
            RefNormalizePeak(expected.data(), length, target);
            Fill(b, v);
            lib.NormalizePeak(b.data(), length, target);
            ASSERT_TRUE(SameBits(expected, b.vec())) << "NormalizePeak target " << target;
          }
          ASSERT_TRUE(b.GuardsIntact());

          Fill(b, v);
          EXPECT_EQ(Bits(RefPeakMagnitude(v.data(), length)), Bits(lib.PeakMagnitude(b.data(), length)));
          EXPECT_EQ(Bits(RefRootMeanSquare(v.data(), length)), Bits(lib.RootMeanSquare(b.data(), length)));
          EXPECT_EQ(Bits(RefEuclideanNorm(v.data(), length)), Bits(lib.EuclideanNorm(b.data(), length)));
          ASSERT_TRUE(SameBits(v, b.vec())) << "the measures only read";
        }
      }
    }
  }
}

TEST(Conditioning, CopyingKernelsMatchTranscriptionBitForBit) {
  for (VariantSet s : Sets()) {
    const auto& lib = Lib().set(s);
    for (int32_t length : Lengths()) {
      for (size_t misalign : {size_t{0}, size_t{1}, size_t{3}}) {
        SCOPED_TRACE(Trace(s, "", length, misalign));
        const auto v = Samples(static_cast<size_t>(length), 200u + static_cast<uint32_t>(length), true);
        Buffer in(v.size(), misalign);
        Fill(in, v);

        for (float coefficient : {0.97f, -1.5f}) {
          std::vector<float> expected = Samples(v.size(), 5u);
          Buffer out(v.size(), 3 - misalign);
          Fill(out, expected);
          RefPreEmphasize(expected.data(), v.data(), length, coefficient);
          lib.PreEmphasize(out.data(), in.data(), length, coefficient);
          ASSERT_TRUE(SameBits(expected, out.vec())) << "PreEmphasize " << coefficient;
          ASSERT_TRUE(out.GuardsIntact());
        }
        if (length == 0) continue;
        for (int32_t start : {0, 1, length - 1, length, 3 * length + 2, INT32_MAX - length + 1}) {
          std::vector<float> expected(v.size());
          Buffer out(v.size(), 2);
          RefUnrollRingBuffer(v.data(), expected.data(), length, start);
          lib.UnrollRingBuffer(in.data(), out.data(), length, start);
          ASSERT_TRUE(SameBits(expected, out.vec())) << "UnrollRingBuffer start " << start;
          ASSERT_TRUE(out.GuardsIntact());
        }
      }
    }
  }
}

TEST(GatherStrided, MatchesTranscriptionForEveryStride) {
  const int32_t strides[] = {0, 1, 2, 3, 7, -1, -2, -5};
  for (VariantSet s : Sets()) {
    for (int32_t stride : strides) {
      for (int32_t count : Lengths()) {
        SCOPED_TRACE(std::string(SetName(s)) + " stride " + std::to_string(stride) + " count " + std::to_string(count));
        const int32_t span = count == 0 ? 1 : (count - 1) * std::abs(stride) + 1;
        const auto v = Samples(static_cast<size_t>(span), 300u + static_cast<uint32_t>(count), true);
        Buffer in(v.size(), 1);
        Fill(in, v);
        // A negative stride walks backwards from the last element.
        const size_t first = stride < 0 ? v.size() - 1 : 0;
        std::vector<float> expected(static_cast<size_t>(count));
        Buffer out(expected.size(), 2);
        RefGatherStrided(v.data() + first, expected.data(), count, stride);
        Lib().set(s).GatherStrided(in.data() + first, out.data(), count, stride);
        ASSERT_TRUE(SameBits(expected, out.vec()));
        ASSERT_TRUE(out.GuardsIntact() && in.GuardsIntact());
      }
    }
  }
}

// Where output and input share memory, each step may read what an earlier
// step wrote; the result is that of the ascending element-by-element loop.
TEST(Conditioning, OverlappingBuffersFollowTheAscendingOrder) {
  struct Case {
    const char* what;
    size_t output, input;  // offsets in one arena
    int32_t length, parameter;  // parameter: stride or start (unused by PreEmphasize)
  };
  const Case preEmphasis[] = {
      {"in place", 10, 10, 200, 0}, {"output one ahead", 11, 10, 200, 0}, {"output one behind", 9, 10, 200, 0},
      {"output a vector ahead", 18, 10, 200, 0}, {"apart", 300, 10, 200, 0}};
  const Case gathers[] = {{"in place, stride 1", 50, 50, 100, 1}, {"stride 2 into its own input", 50, 50, 100, 2},
                          {"stride -1 onto itself", 50, 149, 100, -1}, {"stride 3, output behind", 40, 50, 60, 3},
                          {"stride 0 over its source", 50, 52, 100, 0}, {"stride -2, output ahead", 60, 200, 80, -2}};
  const Case unrolls[] = {{"in place", 50, 50, 100, 1}, {"output one behind", 49, 50, 100, 7},
                          {"output ahead", 60, 50, 100, 33}};
  for (VariantSet s : Sets()) {
    const auto& lib = Lib().set(s);
    const auto initial = Samples(512, 42u);
    for (const Case& c : preEmphasis) {
      SCOPED_TRACE(std::string(SetName(s)) + " PreEmphasize " + c.what);
      std::vector<float> expected = initial;
      Buffer arena(initial.size());
      Fill(arena, initial);
      RefPreEmphasize(expected.data() + c.output, expected.data() + c.input, c.length, 0.97f);
      lib.PreEmphasize(arena.data() + c.output, arena.data() + c.input, c.length, 0.97f);
      EXPECT_TRUE(SameBits(expected, arena.vec()));
    }
    for (const Case& c : gathers) {
      SCOPED_TRACE(std::string(SetName(s)) + " GatherStrided " + c.what);
      std::vector<float> expected = initial;
      Buffer arena(initial.size());
      Fill(arena, initial);
      RefGatherStrided(expected.data() + c.input, expected.data() + c.output, c.length, c.parameter);
      lib.GatherStrided(arena.data() + c.input, arena.data() + c.output, c.length, c.parameter);
      EXPECT_TRUE(SameBits(expected, arena.vec()));
    }
    for (const Case& c : unrolls) {
      SCOPED_TRACE(std::string(SetName(s)) + " UnrollRingBuffer " + c.what);
      std::vector<float> expected = initial;
      Buffer arena(initial.size());
      Fill(arena, initial);
      RefUnrollRingBuffer(expected.data() + c.input, expected.data() + c.output, c.length, c.parameter);
      lib.UnrollRingBuffer(arena.data() + c.input, arena.data() + c.output, c.length, c.parameter);
      EXPECT_TRUE(SameBits(expected, arena.vec()));
    }
  }
}

// The window against its formula in double. The phase carries three
// roundings (the quotient, the 2 pi constant, the product): at most about
// 2 pi * 3u absolute, which moves 0.46 cos by under 9u; the cosine's 3.5 ULP
// adds 0.46 * 7u, the two constants' representation and the two roundings of
// w under 3u, and the final product one more rounding of the sample: in all
// below 16u of |data[i]| (u = 2^-24).
TEST(ApplyHamming, AgreesWithTheFormulaInDouble) {
  for (VariantSet s : Sets()) {
    for (int32_t length : {2, 3, 4, 9, 64, 65, 1000, 1024}) {
      SCOPED_TRACE(std::string(SetName(s)) + " length " + std::to_string(length));
      const auto v = Samples(static_cast<size_t>(length), 8u);
      std::vector<float> data = v;
      Lib().set(s).ApplyHamming(data.data(), length);
      const double pi = 3.14159265358979323846;
      for (int32_t i = 0; i < length; ++i) {
        const double w = 0.54 - 0.46 * std::cos(2.0 * pi * i / (length - 1));
        const double x = v[static_cast<size_t>(i)];
        ASSERT_NEAR(data[static_cast<size_t>(i)], w * x, 16.0 * std::fabs(x) / 16777216.0) << "element " << i;
      }
    }
  }
}

// --- Edge cases -------------------------------------------------------------------

TEST(PreEmphasize, EdgeCases) {
  for (VariantSet s : Sets()) {
    SCOPED_TRACE(SetName(s));
    const auto& lib = Lib().set(s);
    std::vector<float> inPlace = {1.0f, 2.0f, 3.0f};
    lib.PreEmphasize(inPlace.data(), inPlace.data(), 3, 0.5f);
    EXPECT_EQ(inPlace, (std::vector<float>{1.0f, 1.5f, 2.25f})) << "element 2 is 3 - 0.5 * 1.5";
    const std::vector<float> input = {1.0f, 2.0f, 3.0f};
    std::vector<float> output = {-7.0f, 0.0f, 0.0f};
    lib.PreEmphasize(output.data(), input.data(), 3, 0.5f);
    EXPECT_EQ(output, (std::vector<float>{-7.0f, 1.5f, 2.0f})) << "output[0] keeps its value";
    for (int32_t length : {0, 1, -3}) {
      std::vector<float> a = {4.0f, 5.0f}, b = {6.0f, 7.0f};
      lib.PreEmphasize(b.data(), a.data(), length, 0.97f);
      EXPECT_EQ(a, (std::vector<float>{4.0f, 5.0f}));
      EXPECT_EQ(b, (std::vector<float>{6.0f, 7.0f}));
    }
  }
}

TEST(ApplyHamming, EdgeCases) {
  for (VariantSet s : Sets()) {
    SCOPED_TRACE(SetName(s));
    const auto& lib = Lib().set(s);
    float one = 0.5f;
    lib.ApplyHamming(&one, 1);
    EXPECT_TRUE(std::isnan(one)) << "a single element divides 0 by 0";
    std::vector<float> three = {1.0f, 1.0f, 1.0f};
    lib.ApplyHamming(three.data(), 3);
    EXPECT_NEAR(three[1], 1.0f, 2e-7f);
    EXPECT_EQ(three[0], -0.46f + 0.54f) << "the first element is scaled by 0.54 - 0.46 in single precision";
    Buffer none(0);
    lib.ApplyHamming(none.data(), 0);
    lib.ApplyHamming(none.data(), -2);
    EXPECT_TRUE(none.GuardsIntact());
  }
}

TEST(NormalizePeak, EdgeCases) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float threshold = 1.1920929e-7f;
  struct Case {
    const char* what;
    std::vector<float> data;
    float target;
    std::vector<float> expected;
  };
  const Case cases[] = {
      {"all zero", {0.0f, -0.0f, 0.0f}, 1.0f, {0.0f, -0.0f, 0.0f}},
      {"peak just below 2^-23", {std::nextafter(threshold, 0.0f), 1e-8f}, 1.0f,
       {std::nextafter(threshold, 0.0f), 1e-8f}},
      {"peak exactly 2^-23 is scaled", {-threshold, threshold / 2.0f}, 1.0f, {-1.0f, 0.5f}},
      {"only NaNs", {nan, nan}, 1.0f, {nan, nan}},
      {"scaled to the target", {0.5f, -0.25f}, 1.0f, {1.0f, -0.5f}},
      {"NaN skipped and kept", {nan, 2.0f, -1.0f}, 1.0f, {nan, 1.0f, -0.5f}},
      {"an infinity makes the scale 0", {1.0f, -2.0f, INFINITY, 0.0f}, 1.0f, {0.0f, -0.0f, nan, 0.0f}},
      {"negative target flips signs", {0.5f, -0.25f}, -2.0f, {-2.0f, 1.0f}},
  };
  for (VariantSet s : Sets()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(SetName(s)) + " " + c.what);
      std::vector<float> data = c.data;
      Lib().set(s).NormalizePeak(data.data(), static_cast<int32_t>(data.size()), c.target);
      ASSERT_EQ(data.size(), c.expected.size());
      for (size_t i = 0; i < data.size(); ++i) {
        if (std::isnan(c.expected[i]))
          EXPECT_TRUE(std::isnan(data[i])) << "element " << i;
        else
          EXPECT_EQ(Bits(data[i]), Bits(c.expected[i])) << "element " << i << ": " << data[i];
      }
    }
  }
}

TEST(Measures, EdgeCases) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  enum Measure { Peak, Rms, Norm };
  struct Case {
    Measure measure;
    std::vector<float> data;
    int32_t length;  // -1: the data's size
    float expected;  // compared as bits; any NaN for a NaN
  };
  const Case cases[] = {
      {Peak, {-3.0f, 2.0f, nan}, -1, 3.0f},
      {Peak, {}, -1, 0.0f},
      {Peak, {nan, -nan}, -1, 0.0f},
      {Peak, {1.0f, -INFINITY, 2.0f}, -1, INFINITY},
      {Peak, {-0.0f}, -1, 0.0f},
      {Rms, {3.0f, 4.0f}, -1, std::sqrt(12.5f)},
      {Rms, {}, 0, nan},
      {Rms, {3.0f}, -5, -0.0f},
      {Norm, {3.0f, 4.0f}, -1, 5.0f},
      {Norm, {}, -1, 0.0f},
      {Norm, {2.0f}, -2, 0.0f},
  };
  for (VariantSet s : Sets()) {
    const auto& lib = Lib().set(s);
    for (size_t k = 0; k < std::size(cases); ++k) {
      const Case& c = cases[k];
      const int32_t length = c.length == -1 ? static_cast<int32_t>(c.data.size()) : c.length;
      const float got = c.measure == Peak ? lib.PeakMagnitude(c.data.data(), length)
                        : c.measure == Rms ? lib.RootMeanSquare(c.data.data(), length)
                                           : lib.EuclideanNorm(c.data.data(), length);
      if (std::isnan(c.expected))
        EXPECT_TRUE(std::isnan(got)) << SetName(s) << " case " << k << ": got " << got;
      else
        EXPECT_EQ(Bits(got), Bits(c.expected)) << SetName(s) << " case " << k << ": got " << got;
    }
  }
}

TEST(RingAndStridedCopies, Examples) {
  const float a = 1.0f, b = 2.0f, c = 3.0f, d = 4.0f, e = 5.0f;
  const float signalling = FromBits(0x7f800001u);
  for (VariantSet s : Sets()) {
    SCOPED_TRACE(SetName(s));
    const auto& lib = Lib().set(s);
    const std::vector<float> ring = {a, b, c, d};
    struct Unroll {
      int32_t start;
      std::vector<float> expected;
    };
    for (const Unroll& u : {Unroll{1, {b, c, d, a}}, Unroll{5, {b, c, d, a}}, Unroll{0, {a, b, c, d}}}) {
      std::vector<float> out(4);
      lib.UnrollRingBuffer(ring.data(), out.data(), 4, u.start);
      EXPECT_EQ(out, u.expected) << "start " << u.start;
    }
    const std::vector<float> five = {a, b, c, d, e};
    std::vector<float> out(3);
    lib.GatherStrided(five.data(), out.data(), 3, 2);
    EXPECT_EQ(out, (std::vector<float>{a, c, e}));
    lib.GatherStrided(five.data() + 4, out.data(), 3, -2);
    EXPECT_EQ(out, (std::vector<float>{e, c, a}));
    // Stride 0 repeats input[0], as a bit pattern (a signalling NaN stays one).
    std::vector<float> repeated(20);
    lib.GatherStrided(&signalling, repeated.data(), 20, 0);
    for (float x : repeated) EXPECT_EQ(Bits(x), 0x7f800001u);
    lib.UnrollRingBuffer(&signalling, repeated.data(), 1, 0);
    EXPECT_EQ(Bits(repeated[0]), 0x7f800001u);
    Buffer none(0);
    lib.GatherStrided(five.data(), none.data(), 0, 1);
    lib.GatherStrided(five.data(), none.data(), -4, 1);
    lib.UnrollRingBuffer(five.data(), none.data(), 0, 0);
    EXPECT_TRUE(none.GuardsIntact());
  }
}

TEST(ConditioningEntries, AllocateNothing) {
  std::vector<float> data = Samples(100, 1u), out(100);
  for (VariantSet s : Sets()) {
    const auto& lib = Lib().set(s);
    TrackedAllocator::StartRecording();
    lib.PreEmphasize(out.data(), data.data(), 100, 0.97f);
    lib.ApplyHamming(data.data(), 100);
    lib.NormalizePeak(data.data(), 100, 1.0f);
    lib.PeakMagnitude(data.data(), 100);
    lib.RootMeanSquare(data.data(), 100);
    lib.EuclideanNorm(data.data(), 100);
    lib.UnrollRingBuffer(data.data(), out.data(), 100, 17);
    lib.GatherStrided(data.data(), out.data(), 50, 2);
    EXPECT_TRUE(TrackedAllocator::StopRecording().empty()) << SetName(s);
  }
}

}  // namespace
}  // namespace Orovox::Test
