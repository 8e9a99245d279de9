// Low-pass filter, down-sampler and linear resampler: both sets' bodies
// against plain transcriptions of the algorithms (bit for bit), an
// independent double-precision FIR, overlapping buffers, and the array
// forms' allocations.
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "standalone_slots.h"
#include "support.h"

// The array forms are compiled into this test once per set (see
// filtering_conditioning.cmake); their host services are the stand-alone host's.

extern "C" {
void OrovoxTestLowPassFilter_sse2(Orovox::NativeArray<float>* data, float sampleRate, float cutoff, float range);
void OrovoxTestLowPassFilter_avx2(Orovox::NativeArray<float>* data, float sampleRate, float cutoff, float range);
void OrovoxTestDownSample_sse2(const Orovox::NativeArray<float>* input, Orovox::NativeArray<float>* output,
                               int32_t sampleRate, int32_t targetSampleRate);
void OrovoxTestDownSample_avx2(const Orovox::NativeArray<float>* input, Orovox::NativeArray<float>* output,
                               int32_t sampleRate, int32_t targetSampleRate);
}

namespace Orovox::Test {
namespace {

using Host::AllocationEvent;
using Host::TrackedAllocator;

void LowPassFilterArray(VariantSet s, NativeArray<float>& data, float sampleRate, float cutoff, float range) {
  (s == VariantSet::Avx2 ? OrovoxTestLowPassFilter_avx2 : OrovoxTestLowPassFilter_sse2)(&data, sampleRate, cutoff,
                                                                                        range);
}

void DownSampleArray(VariantSet s, const NativeArray<float>& input, NativeArray<float>& output, int32_t sampleRate,
                     int32_t targetSampleRate) {
  (s == VariantSet::Avx2 ? OrovoxTestDownSample_avx2 : OrovoxTestDownSample_sse2)(&input, &output, sampleRate,
                                                                                  targetSampleRate);
}

// --- References, written as the algorithms read ---------------------------------

void RefSincKernel(const ScalarMath& m, float* kernel, int32_t n, float fc) {
  const float half = static_cast<float>(n - 1) * 0.5f;
  const float w = 6.2831855f * fc;
  const float twoFc = fc + fc;
  for (int32_t i = 0; i < n; ++i) {
    const float x = (static_cast<float>(i) - half) * w;
    kernel[i] = (m.sin(x) * twoFc) / x;
  }
}

void RefAccumulate(float* data, const float* s, int32_t length, const float* kernel, int32_t n) {
  for (int32_t i = 0; i < length; ++i)
    for (int32_t j = 0; j < n; ++j)
      if (j <= i) data[i] = (kernel[j] * s[i - j]) + data[i];
}

void RefLowPassFilterDirect(const ScalarMath& m, float* data, int32_t length, const float* input, float* kernel,
                            int32_t kernelLength, float normalizedCutoff) {
  if (kernelLength < 1) return;
  RefSincKernel(m, kernel, kernelLength, normalizedCutoff);
  RefAccumulate(data, input, length, kernel, kernelLength);
}

int32_t RefTapCount(float sampleRate, float range) {
  const int32_t m = static_cast<int32_t>(std::rint(3.1f / (range / sampleRate)));
  return m % 2 != 0 ? m + 1 : m;
}

void RefLowPassFilter(const ScalarMath& m, std::vector<float>& data, float sampleRate, float cutoff, float range) {
  const std::vector<float> copy = data;
  const int32_t n = RefTapCount(sampleRate, range);
  if (n == 0) return;
  std::vector<float> kernel(static_cast<size_t>(n));
  RefSincKernel(m, kernel.data(), n, (cutoff - range) / sampleRate);
  RefAccumulate(data.data(), copy.data(), static_cast<int32_t>(data.size()), kernel.data(), n);
}

void RefResampleLinear(const float* input, int32_t inputLength, float* output, int32_t outputLength, float ratio) {
  for (int32_t i = 0; i < outputLength; ++i) {
    const float pos = static_cast<float>(i) * ratio;
    const int32_t k = static_cast<int32_t>(std::floor(pos));
    int32_t k1 = k + 1;
    if (inputLength - 1 < k1) k1 = inputLength - 1;
    const float frac = pos - static_cast<float>(k);
    output[i] = ((input[k1] - input[k]) * frac) + input[k];
  }
}

std::vector<float> RefDownSample(const std::vector<float>& input, int32_t sampleRate, int32_t targetSampleRate) {
  const int32_t length = static_cast<int32_t>(input.size());
  if (sampleRate <= targetSampleRate) return input;
  if (sampleRate % targetSampleRate != 0) {
    const float r = static_cast<float>(sampleRate) / static_cast<float>(targetSampleRate);
    const int32_t n = static_cast<int32_t>(std::rint(static_cast<float>(length) / r));
    std::vector<float> out(static_cast<size_t>(n));
    RefResampleLinear(input.data(), length, out.data(), n, r);
    return out;
  }
  const int32_t step = sampleRate / targetSampleRate;
  std::vector<float> out(static_cast<size_t>(length / step));
  for (size_t i = 0; i < out.size(); ++i) out[i] = input[i * static_cast<size_t>(step)];
  return out;
}

// --- Fixtures -----------------------------------------------------------------

std::vector<float> Samples(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (float& x : v) x = d(rng);
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

constexpr double kU = 1.0 / 16777216.0;  // 2^-24, the unit roundoff

// --- LowPassFilterDirect ----------------------------------------------------------

TEST(LowPassFilterDirect, MatchesTranscriptionBitForBit) {
  struct Layout {
    size_t data, input, kernel;  // floats past a 64-byte boundary
  };
  const Layout layouts[] = {{0, 0, 0}, {1, 3, 5}, {3, 2, 1}};
  // Odd counts put a NaN tap at the centre; they still must agree bit for bit.
  // Long kernels are taken in chunks of taps: 600 needs two.
  const int32_t tapCounts[] = {1, 2, 5, 8, 30, 32, 66, 298, 600};
  for (VariantSet s : Sets()) {
    const ScalarMath m = MathOf(s);
    for (int32_t taps : tapCounts) {
      for (int32_t length : Lengths()) {
        for (const Layout& lay : layouts) {
          SCOPED_TRACE(std::string(SetName(s)) + " taps " + std::to_string(taps) + " length " +
                       std::to_string(length) + " misalign " + std::to_string(lay.data) + "/" +
                       std::to_string(lay.input) + "/" + std::to_string(lay.kernel));
          const auto input = Samples(static_cast<size_t>(length), 11u + static_cast<uint32_t>(length));
          std::vector<float> expected = Samples(static_cast<size_t>(length), 7u);
          std::vector<float> expectedKernel(static_cast<size_t>(taps));
          Buffer data(static_cast<size_t>(length), lay.data), in(static_cast<size_t>(length), lay.input),
              kernel(static_cast<size_t>(taps), lay.kernel);
          Fill(data, expected);
          Fill(in, input);
          RefLowPassFilterDirect(m, expected.data(), length, input.data(), expectedKernel.data(), taps, 0.15625f);
          Lib().set(s).LowPassFilterDirect(data.data(), length, in.data(), kernel.data(), taps, 0.15625f);
          ASSERT_TRUE(SameBits(expectedKernel, kernel.vec()));
          ASSERT_TRUE(SameBits(expected, data.vec()));
          ASSERT_TRUE(data.GuardsIntact() && kernel.GuardsIntact());
          ASSERT_TRUE(SameBits(input, in.vec())) << "the source is only read";
        }
      }
    }
  }
}

// Independent of the transcription: the formula in double for the taps, and a
// double-precision FIR over the library's own taps for the accumulation.
//
// Taps: x carries three roundings (the 2 pi constant, w, the product with t),
// so |dx| <= 3u|x|, and the slope of sin(x)/x is below 0.44; the sine's 3.5 ULP
// and the two roundings after it add at most 10u of a tap (|tap| <= 2fc). So
// |tap - exact| <= 2fc u (1.4|x| + 10), checked as 2fc u (2|x| + 16).
// Sum: one accumulator adding m products to the start value has error at most
// gamma(m + 1) times the sum of the magnitudes of its terms; checked as
// (m + 2) u sum|term|.
TEST(LowPassFilterDirect, AgreesWithDoublePrecisionFir) {
  struct Case {
    int32_t length, taps;
    float fc;
  };
  const Case cases[] = {{3072, 298, 0.15625f}, {1000, 32, 0.25f}, {500, 66, 0.05f},
                        {200, 2, 0.25f},      {77, 120, 0.4f},   {4000, 1100, 0.01f}};
  for (VariantSet s : Sets()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(SetName(s)) + " length " + std::to_string(c.length) + " taps " + std::to_string(c.taps));
      const auto x = Samples(static_cast<size_t>(c.length), 3u);
      std::vector<float> data = x, kernel(static_cast<size_t>(c.taps));
      Lib().set(s).LowPassFilterDirect(data.data(), c.length, x.data(), kernel.data(), c.taps, c.fc);

      const double pi = 3.14159265358979323846;
      for (int32_t i = 0; i < c.taps; ++i) {
        const double t = i - (c.taps - 1) / 2.0;
        const double xd = 2.0 * pi * c.fc * t;
        const double exact = 2.0 * c.fc * std::sin(xd) / xd;
        EXPECT_NEAR(kernel[static_cast<size_t>(i)], exact, 2.0 * c.fc * kU * (2.0 * std::fabs(xd) + 16.0)) << "tap " << i;
      }
      for (int32_t i = 0; i < c.length; ++i) {
        double sum = x[static_cast<size_t>(i)], magnitude = std::fabs(sum);
        int32_t terms = 0;
        for (int32_t j = 0; j < c.taps && j <= i; ++j, ++terms) {
          const double term = double{kernel[static_cast<size_t>(j)]} * x[static_cast<size_t>(i - j)];
          sum += term;
          magnitude += std::fabs(term);
        }
        ASSERT_NEAR(data[static_cast<size_t>(i)], sum, (terms + 2) * kU * magnitude) << "output " << i;
      }
    }
  }
}

// Later outputs read samples (and taps) that earlier outputs rewrote: the
// result is the ascending element-by-element order, whatever the layout.
TEST(LowPassFilterDirect, OverlappingBuffersFollowTheAscendingOrder) {
  struct Case {
    const char* what;
    size_t data, input, kernel;  // offsets in one arena
  };
  const Case cases[] = {
      {"in place", 0, 0, 400},
      {"data behind input", 3, 0, 400},
      {"data ahead of input", 0, 5, 400},
      {"data ahead by a vector", 0, 8, 400},
      {"kernel inside data", 0, 200, 60},
      {"kernel inside input, apart from data", 0, 200, 230},
  };
  constexpr int32_t kLength = 150, kTaps = 16;
  for (VariantSet s : Sets()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(SetName(s)) + " " + c.what);
      std::vector<float> expected = Samples(500, 5u);
      Buffer arena(500, 1);
      Fill(arena, expected);
      RefLowPassFilterDirect(MathOf(s), expected.data() + c.data, kLength, expected.data() + c.input,
                             expected.data() + c.kernel, kTaps, 0.2f);
      Lib().set(s).LowPassFilterDirect(arena.data() + c.data, kLength, arena.data() + c.input,
                                       arena.data() + c.kernel, kTaps, 0.2f);
      EXPECT_TRUE(SameBits(expected, arena.vec()));
    }
  }
}

TEST(LowPassFilterDirect, EdgeCases) {
  for (VariantSet s : Sets()) {
    SCOPED_TRACE(SetName(s));
    const auto& lib = Lib().set(s);
    // No taps: nothing is touched, not even the kernel.
    for (int32_t taps : {0, -4}) {
      Buffer data(8, 0, 1.5f), input(8, 0, 2.0f), kernel(4, 0, 9.0f);
      lib.LowPassFilterDirect(data.data(), 8, input.data(), kernel.data(), taps, 0.25f);
      EXPECT_EQ(data.vec(), std::vector<float>(8, 1.5f));
      EXPECT_EQ(kernel.vec(), std::vector<float>(4, 9.0f));
    }
    // Two taps at t = -1/2 and +1/2: 0.5 sin(pi/4) / (pi/4) each.
    Buffer kernel(2);
    lib.LowPassFilterDirect(nullptr, 0, nullptr, kernel.data(), 2, 0.25f);
    EXPECT_NEAR(kernel[0], 0.45015816, 1e-6);
    EXPECT_EQ(Bits(kernel[0]), Bits(kernel[1]));
    EXPECT_TRUE(kernel.GuardsIntact());
  }
}

// --- LowPassFilter (array form) ---------------------------------------------------

TEST(LowPassFilter, FiltersInPlaceWithACopyAndAnEvenKernel) {
  struct Case {
    const char* what;
    int32_t length;
    float sampleRate, cutoff, range;
    int32_t taps;
  };
  const Case cases[] = {
      {"analysis block, 48 kHz to 16 kHz", 3072, 48000.0f, 8000.0f, 500.0f, 298},
      {"m = 31 is raised to 32", 1000, 5000.0f, 700.0f, 500.0f, 32},
      {"m = 30 stays", 100, 4838.71f, 700.0f, 500.0f, 30},
      {"m = 3 is raised to 4", 10, 500.0f, 700.0f, 500.0f, 4},
      {"shorter than the kernel", 5, 5000.0f, 700.0f, 500.0f, 32},
      {"m rounds to 0: unchanged", 50, 500.0f, 7000.0f, 4000.0f, 0},
      {"empty block", 0, 48000.0f, 8000.0f, 500.0f, 298},
  };
  for (VariantSet s : Sets()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(SetName(s)) + " " + c.what);
      ASSERT_EQ(RefTapCount(c.sampleRate, c.range), c.taps) << "fixture";
      std::vector<float> expected = Samples(static_cast<size_t>(c.length), 21u);
      Buffer block(static_cast<size_t>(c.length), 1);
      Fill(block, expected);
      RefLowPassFilter(MathOf(s), expected, c.sampleRate, c.cutoff, c.range);

      NativeArray<float> data{block.data(), c.length, 1};
      NoLeaks noLeaks;
      TrackedAllocator::SetPoison(true);
      TrackedAllocator::StartRecording();
      LowPassFilterArray(s, data, c.sampleRate, c.cutoff, c.range);
      const auto events = TrackedAllocator::StopRecording();
      TrackedAllocator::SetPoison(false);

      EXPECT_TRUE(SameBits(expected, block.vec()));
      EXPECT_TRUE(block.GuardsIntact());
      EXPECT_EQ(data.elements, block.data());
      EXPECT_EQ(data.length, c.length);
      EXPECT_EQ(data.label, 1) << "the record itself is not changed";
      // The copy, then the kernel; released in the same order, also when n is 0.
      ASSERT_EQ(events.size(), 4u);
      EXPECT_EQ(events[0].kind, AllocationEvent::Allocate);
      EXPECT_EQ(events[0].size, int64_t{c.length} * 4);
      EXPECT_EQ(events[1].kind, AllocationEvent::Allocate);
      EXPECT_EQ(events[1].size, int64_t{c.taps} * 4);
      for (int e = 0; e < 2; ++e) {
        EXPECT_EQ(events[e].alignment, 4);
        EXPECT_EQ(events[e].label, 2);
        EXPECT_EQ(events[e].framesToSkip, 0);
      }
      EXPECT_EQ(events[2].kind, AllocationEvent::Free);
      EXPECT_EQ(events[2].pointer, events[0].pointer);
      EXPECT_EQ(events[3].kind, AllocationEvent::Free);
      EXPECT_EQ(events[3].pointer, events[1].pointer);
      EXPECT_EQ(events[2].label, 2);
      EXPECT_EQ(events[3].label, 2);
    }
  }
}

// The unfiltered sample stays in the sum: once the whole kernel covers a
// constant c, every output is c + c * (the sum of the taps), the same bits at
// every index.
TEST(LowPassFilter, KeepsTheUnfilteredSample) {
  const double pi = 3.14159265358979323846;
  for (VariantSet s : Sets()) {
    std::vector<float> block(400, 0.25f);
    NativeArray<float> data{block.data(), 400, 1};
    LowPassFilterArray(s, data, 5000.0f, 700.0f, 500.0f);  // 32 taps, fc = 0.04
    double tapSum = 0.0;
    for (int i = 0; i < 32; ++i) {
      const double x = 2.0 * pi * 0.04 * (i - 15.5);
      tapSum += 0.08 * std::sin(x) / x;
    }
    EXPECT_NEAR(block[31], 0.25 * (1.0 + tapSum), 1e-6) << SetName(s);
    for (size_t i = 32; i < block.size(); ++i) ASSERT_EQ(Bits(block[i]), Bits(block[31])) << SetName(s) << " at " << i;
  }
}

// --- DownSample (array form) --------------------------------------------------------

TEST(DownSample, CopiesInterpolatesOrDecimatesIntoANewArray) {
  struct Case {
    const char* what;
    int32_t length, sampleRate, targetSampleRate, outLength;
    std::vector<float> values;  // expected, where the row gives them (input[i] = i * i)
  };
  const Case cases[] = {
      {"equal rates copy", 10, 16000, 16000, 10, {}},
      {"a lower source rate copies", 7, 8000, 16000, 7, {}},
      {"three to one picks every third", 10, 3, 1, 3, {0, 9, 36}},
      {"five to two interpolates at 0, 2.5, 5, 7.5", 10, 5, 2, 4, {0, 6.5f, 25, 56.5f}},
      {"48 kHz to 16 kHz decimates", 3072, 48000, 16000, 1024, {}},
      {"44.1 kHz to 16 kHz interpolates", 3072, 44100, 16000, 1115, {}},
      {"empty input, copy", 0, 16000, 16000, 0, {}},
      {"empty input, interpolation", 0, 44100, 16000, 0, {}},
      {"empty input, decimation", 0, 48000, 16000, 0, {}},
  };
  for (VariantSet s : Sets()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(SetName(s)) + " " + c.what);
      std::vector<float> input(static_cast<size_t>(c.length));
      for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<float>(i * i);
      const std::vector<float> expected = RefDownSample(input, c.sampleRate, c.targetSampleRate);
      ASSERT_EQ(expected.size(), static_cast<size_t>(c.outLength)) << "fixture";
      if (!c.values.empty()) {
        EXPECT_TRUE(SameBits(c.values, expected)) << "fixture";
      }

      const NativeArray<float> in{input.data(), c.length, 1};
      // Whatever the record held is overwritten without being released.
      NativeArray<float> out{input.data(), 99, 1};
      NoLeaks noLeaks;
      TrackedAllocator::SetPoison(true);
      TrackedAllocator::StartRecording();
      DownSampleArray(s, in, out, c.sampleRate, c.targetSampleRate);
      const auto events = TrackedAllocator::StopRecording();
      TrackedAllocator::SetPoison(false);

      ASSERT_EQ(events.size(), 1u);
      EXPECT_EQ(events[0].kind, AllocationEvent::Allocate);
      EXPECT_EQ(events[0].size, int64_t{c.outLength} * 4);
      EXPECT_EQ(events[0].alignment, 4);
      EXPECT_EQ(events[0].label, 2);
      EXPECT_EQ(events[0].framesToSkip, 0);
      EXPECT_EQ(out.elements, events[0].pointer);
      EXPECT_EQ(out.length, c.outLength);
      EXPECT_EQ(out.label, 2);
      EXPECT_TRUE(SameBits(expected.data(), out.elements, c.outLength));
      TrackedAllocator::Free(out.elements, 2);
    }
  }
}

// --- ResampleLinear ------------------------------------------------------------------

// The longest output whose last position still has its floor inside the input.
int32_t LongestOutput(int32_t inputLength, float ratio) {
  if (ratio == 0.0f) return inputLength + 3;
  int32_t n = static_cast<int32_t>((inputLength - 1) / ratio) + 2;
  while (n > 0 && std::floor(static_cast<float>(n - 1) * ratio) > static_cast<float>(inputLength - 1)) --n;
  return n;
}

TEST(ResampleLinear, MatchesTranscriptionBitForBit) {
  const float ratios[] = {0.0f, 0.3f, 0.5f, 1.0f, 1.0f / 3.0f, 1.5f, 2.5f, 2.75625f, 3.0f};
  for (VariantSet s : Sets()) {
    for (float ratio : ratios) {
      for (int32_t inputLength : Lengths()) {
        if (inputLength == 0) continue;
        const int32_t outputLength = LongestOutput(inputLength, ratio);
        SCOPED_TRACE(std::string(SetName(s)) + " ratio " + std::to_string(ratio) + " input " +
                     std::to_string(inputLength) + " output " + std::to_string(outputLength));
        const auto input = Samples(static_cast<size_t>(inputLength), 9u);
        std::vector<float> expected(static_cast<size_t>(outputLength));
        RefResampleLinear(input.data(), inputLength, expected.data(), outputLength, ratio);
        Buffer in(static_cast<size_t>(inputLength), 3), out(static_cast<size_t>(outputLength), 1);
        Fill(in, input);
        Lib().set(s).ResampleLinear(in.data(), inputLength, out.data(), outputLength, ratio);
        ASSERT_TRUE(SameBits(expected, out.vec()));
        ASSERT_TRUE(out.GuardsIntact());
      }
    }
  }
}

TEST(ResampleLinear, Examples) {
  for (VariantSet s : Sets()) {
    SCOPED_TRACE(SetName(s));
    const auto& lib = Lib().set(s);
    // Ratio 1 reproduces finite samples exactly; the last one has itself as
    // its neighbour, so even the largest comes back unchanged.
    // (Neighbours whose difference overflows would give inf * 0 = NaN.)
    std::vector<float> input = Samples(40, 2u);
    input[39] = 3.0e38f;
    std::vector<float> out(40);
    lib.ResampleLinear(input.data(), 40, out.data(), 40, 1.0f);
    EXPECT_TRUE(SameBits(input, out));
    // Ratio 0.5: the samples at even outputs, midpoints at odd ones.
    const std::vector<float> ramp = {1.0f, 2.0f, 4.0f, 8.0f};
    std::vector<float> half(7);
    lib.ResampleLinear(ramp.data(), 4, half.data(), 7, 0.5f);
    EXPECT_EQ(half, (std::vector<float>{1.0f, 1.5f, 2.0f, 3.0f, 4.0f, 6.0f, 8.0f}));
    // A single sample and ratio 0 repeat it; an empty output writes nothing.
    const float one = 7.0f;
    Buffer rep(5);
    lib.ResampleLinear(&one, 1, rep.data(), 5, 0.0f);
    EXPECT_EQ(rep.vec(), std::vector<float>(5, 7.0f));
    for (int32_t outputLength : {0, -3}) {
      Buffer none(0);
      lib.ResampleLinear(ramp.data(), 4, none.data(), outputLength, 1.0f);
      EXPECT_TRUE(none.GuardsIntact());
    }
  }
}

// Within one arena: an output over its own input sees what earlier elements
// wrote (the ascending order), and a negative ratio walks back from the
// input's start, so positions below zero need the floor, not truncation.
TEST(ResampleLinear, SharedMemoryAndNegativePositionsFollowTheTranscription) {
  struct Case {
    const char* what;
    size_t output, input;  // offsets in one arena
    int32_t inputLength, outputLength;
    float ratio;
  };
  const Case cases[] = {{"in place", 100, 100, 120, 80, 1.5f},
                        {"output one ahead", 101, 100, 120, 80, 1.5f},
                        {"output a vector ahead", 108, 100, 200, 100, 0.75f},
                        {"output behind", 90, 100, 200, 70, 2.75625f},
                        {"negative ratio, apart", 400, 200, 50, 90, -1.7f},
                        {"negative fraction of a sample", 400, 200, 50, 90, -0.3f}};
  const auto initial = Samples(512, 5u);
  for (VariantSet s : Sets()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(SetName(s)) + " " + c.what);
      std::vector<float> expected = initial;
      Buffer arena(initial.size());
      Fill(arena, initial);
      RefResampleLinear(expected.data() + c.input, c.inputLength, expected.data() + c.output, c.outputLength, c.ratio);
      Lib().set(s).ResampleLinear(arena.data() + c.input, c.inputLength, arena.data() + c.output, c.outputLength,
                                  c.ratio);
      EXPECT_TRUE(SameBits(expected, arena.vec()));
    }
  }
}

TEST(FilteringEntries, AllocateNothing) {
  std::vector<float> data(100, 1.0f), input(100, 0.5f), kernel(32), out(60);
  for (VariantSet s : Sets()) {
    TrackedAllocator::StartRecording();
    Lib().set(s).LowPassFilterDirect(data.data(), 100, input.data(), kernel.data(), 32, 0.1f);
    Lib().set(s).ResampleLinear(input.data(), 100, out.data(), 60, 1.5f);
    EXPECT_TRUE(TrackedAllocator::StopRecording().empty()) << SetName(s);
  }
}

}  // namespace
}  // namespace Orovox::Test
