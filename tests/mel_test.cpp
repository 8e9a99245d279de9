// Mel scale, filter bank, decibels and cosine transform: both sets' bodies
// against plain transcriptions of the algorithms (bit for bit), the filter
// bank's bin rules, its array form and its one allocation.
#include <immintrin.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "standalone_slots.h"
#include "support.h"

// The array form of the filter bank is compiled into this test once per set
// (see spectrum_mel.cmake).

extern "C" {
void OrovoxTestMelFilterBank_sse2(const Orovox::NativeArray<float>* spectrum, Orovox::NativeArray<float>* melSpectrum,
                                  float sampleRate, int32_t melDiv);
void OrovoxTestMelFilterBank_avx2(const Orovox::NativeArray<float>* spectrum, Orovox::NativeArray<float>* melSpectrum,
                                  float sampleRate, int32_t melDiv);
}

namespace Orovox::Test {
namespace {

using Host::AllocationEvent;
using Host::TrackedAllocator;

void MelFilterBankArray(VariantSet s, const NativeArray<float>& spectrum, NativeArray<float>& mel, float rate,
                        int32_t melDiv) {
  (s == VariantSet::Avx2 ? OrovoxTestMelFilterBank_avx2 : OrovoxTestMelFilterBank_sse2)(&spectrum, &mel, rate, melDiv);
}

// --- References, written as the algorithms read ---------------------------------

int32_t TruncToInt(float x) { return _mm_cvttss_si32(_mm_set_ss(x)); }

float RefHertzToMel(const ScalarMath& m, bool flag, float f) {
  const float x = f / 700.0f + 1.0f;
  return flag ? 2595.0f * m.log10(x) : 1127.0f * m.log(x);
}

float RefMelToHertz(const ScalarMath& m, bool flag, float mel) {
  const float y = flag ? m.pow(10.0f, mel / 2595.0f) : m.exp(mel / 1127.0f);
  return (y - 1.0f) * 700.0f;
}

// The filter bank with the halved length already converted to float.
std::vector<float> RefFilterBank(const ScalarMath& m, const float* spectrum, float halfLength, int melDiv,
                                 float sampleRate) {
  std::vector<float> out(static_cast<size_t>(melDiv));
  const float nyquist = sampleRate * 0.5f;
  const float melMax = 1127.0f * m.log(nyquist / 700.0f + 1.0f);
  const float binWidth = nyquist / halfLength;
  const float melStep = melMax / static_cast<float>(melDiv + 1);
  for (int i = 0; i < melDiv; ++i) {
    const float fLow = (m.exp((static_cast<float>(i) * melStep) / 1127.0f) - 1.0f) * 700.0f;
    const float fCentre = (m.exp((static_cast<float>(i + 1) * melStep) / 1127.0f) - 1.0f) * 700.0f;
    const float fHigh = (m.exp((static_cast<float>(i + 2) * melStep) / 1127.0f) - 1.0f) * 700.0f;
    const int32_t firstBin = TruncToInt(std::ceil(fLow / binWidth)) + 1;
    const int32_t centreBin = TruncToInt(std::rint(fCentre / binWidth));
    const int32_t lastBin = TruncToInt(std::floor(fHigh / binWidth));
    float sum = 0.0f;
    if (firstBin <= lastBin) {
      const float halfWidth = (fHigh - fLow) * 0.5f;
      const float rise = fCentre - fLow;
      const float fall = fHigh - fCentre;
      for (int32_t j = firstBin; j <= lastBin; ++j) {
        const float fj = static_cast<float>(j) * binWidth;
        const float weight = j < centreBin ? (fj - fLow) / rise : (fHigh - fj) / fall;
        sum = sum + (weight / halfWidth) * spectrum[j];
      }
    }
    out[i] = sum;
  }
  return out;
}

std::vector<float> RefDirect(const ScalarMath& m, const std::vector<float>& spectrum, int melDiv, float rate) {
  const int n = static_cast<int>(spectrum.size());
  return RefFilterBank(m, spectrum.data(), static_cast<float>(n / 2), melDiv, rate);
}

std::vector<float> RefCosine(const ScalarMath& m, const std::vector<float>& source) {
  const int n = static_cast<int>(source.size());
  std::vector<float> out(source.size());
  if (n <= 0) return out;
  const float scale = 3.1415927f / static_cast<float>(n);
  for (int i = 0; i < n; ++i) {
    const float fi = static_cast<float>(i);
    float sum = 0.0f;
    for (int j = 0; j < n; ++j) {
      const float angle = ((static_cast<float>(j) + 0.5f) * fi) * scale;
      sum = sum + m.cos(angle) * source[j];
    }
    out[i] = sum;
  }
  return out;
}

// --- Inputs ------------------------------------------------------------------------

// Magnitudes spread over many binades, with some exact zeros.
std::vector<float> Magnitudes(int n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> e(-12.0f, 12.0f);
  std::vector<float> v(static_cast<size_t>(n));
  for (float& x : v) x = rng() % 10 == 0 ? 0.0f : std::exp2(e(rng));
  return v;
}

std::vector<float> Signed(int n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> v(static_cast<size_t>(n));
  for (float& x : v) x = u(rng);
  return v;
}

std::vector<int> Lengths() {
  std::vector<int> n;
  for (int i = 0; i <= 40; ++i) n.push_back(i);
  for (int i : {63, 64, 65, 1000}) n.push_back(i);
  return n;
}

// 1 Hz to 24 kHz in logarithmic steps.
std::vector<float> AudioFrequencies() {
  std::vector<float> f;
  for (int i = 0; i <= 2000; ++i) f.push_back(static_cast<float>(std::pow(24000.0, i / 2000.0)));
  return f;
}

// --- Mel scale -----------------------------------------------------------------------

TEST(MelScale, ConversionsMatchReferenceBitForBit) {
  std::vector<float> inputs = AudioFrequencies();
  for (float x : {0.0f, -0.0f, -350.0f, -699.0f, -700.0f, -701.0f, -1e6f, 1e-45f, 700.0f, 3e38f, INFINITY, -INFINITY,
                  NAN, 5000.0f, -5000.0f, 1e5f, -1e5f})
    inputs.push_back(x);
  for (VariantSet s : Sets()) {
    const ScalarMath m = MathOf(s);
    for (bool flag : {false, true}) {
      for (float x : inputs) {
        EXPECT_EQ(Bits(RefHertzToMel(m, flag, x)), Bits(Lib().set(s).HertzToMel(flag, x)))
            << SetName(s) << " HertzToMel(" << flag << ", " << x << ")";
        EXPECT_EQ(Bits(RefMelToHertz(m, flag, x)), Bits(Lib().set(s).MelToHertz(flag, x)))
            << SetName(s) << " MelToHertz(" << flag << ", " << x << ")";
      }
    }
  }
}

TEST(MelScale, KnownValues) {
  const float ln2Mel = static_cast<float>(1127.0 * std::log(2.0));
  struct Case {
    bool toMel;
    bool flag;
    float in;
    float want;  // NaN: any NaN
    float relTol;
  };
  const Case cases[] = {
      {true, false, 0.0f, 0.0f, 0},         {true, true, 0.0f, 0.0f, 0},
      {true, false, 700.0f, ln2Mel, 1e-6f}, {true, true, 700.0f, ln2Mel, 1e-5f},
      {true, false, -700.0f, -INFINITY, 0}, {true, true, -700.0f, -INFINITY, 0},
      {true, false, -701.0f, NAN, 0},       {true, true, -701.0f, NAN, 0},
      {true, false, INFINITY, INFINITY, 0}, {true, true, INFINITY, INFINITY, 0},
      {false, false, 0.0f, 0.0f, 0},        {false, true, 0.0f, 0.0f, 0},
      {false, false, -1e6f, -700.0f, 0},    {false, true, -1e6f, -700.0f, 0},
      {false, false, 1e6f, INFINITY, 0},    {false, true, 1e6f, INFINITY, 0},
  };
  for (VariantSet s : Sets()) {
    for (const Case& c : cases) {
      const float got = c.toMel ? Lib().set(s).HertzToMel(c.flag, c.in) : Lib().set(s).MelToHertz(c.flag, c.in);
      const auto what = testing::Message() << SetName(s) << (c.toMel ? " HertzToMel(" : " MelToHertz(") << c.flag
                                           << ", " << c.in << ") = " << got;
      if (std::isnan(c.want))
        EXPECT_TRUE(std::isnan(got)) << what;
      else if (c.relTol == 0)
        EXPECT_EQ(got, c.want) << what;
      else
        EXPECT_NEAR(got, c.want, c.want * c.relTol) << what;
    }
  }
}

// 1 + f/700 is rounded to single precision, so the round trip loses most at
// low frequencies; 1e-4 relative holds from 1 Hz up.
TEST(MelScale, RoundTripWithinOnePartIn10000) {
  for (VariantSet s : Sets()) {
    for (bool flag : {false, true}) {
      for (float f : AudioFrequencies()) {
        const float back = Lib().set(s).MelToHertz(flag, Lib().set(s).HertzToMel(flag, f));
        EXPECT_NEAR(back, f, 1e-4f * f) << SetName(s) << " flag=" << flag;
      }
    }
  }
}

// The sets differ only inside their logarithm, exponential and power. Two
// logarithms within 3.5 ULP of the truth differ by at most 7 ULP, which with
// the product's rounding keeps mels within 8 * 2^-23 relative. Exponential and
// power are within 1 ULP, so y = 1 + f/700 differs by 2 * 2^-23 * y at most;
// after the subtraction and the factor 700 the frequencies stay within
// 4 * 2^-23 * (|f| + 700), an absolute bound because of the cancellation near 0.
TEST(MelScale, SetsAgreeWithinTheirFunctionBounds) {
  if (Sets().size() < 2) GTEST_SKIP() << "this processor runs one set";
  const double ulp1 = std::ldexp(1.0, -23);
  std::vector<float> mels;
  for (int i = -300; i <= 600; ++i) mels.push_back(i * 10.0f);
  for (bool flag : {false, true}) {
    for (float f : AudioFrequencies()) {
      const double a = Lib().sse2().HertzToMel(flag, f), b = Lib().avx2().HertzToMel(flag, f);
      EXPECT_LE(std::abs(a - b), 8 * ulp1 * std::abs(a)) << "f=" << f << " flag=" << flag;
    }
    for (float mel : mels) {
      const double a = Lib().sse2().MelToHertz(flag, mel), b = Lib().avx2().MelToHertz(flag, mel);
      EXPECT_LE(std::abs(a - b), 4 * ulp1 * (std::abs(a) + 700.0)) << "mel=" << mel << " flag=" << flag;
    }
  }
}

// --- Filter bank -----------------------------------------------------------------------

TEST(MelFilterBank, DirectMatchesReferenceBitForBit) {
  for (VariantSet s : Sets()) {
    for (int n : {0, 1, 2, 3, 4, 8, 63, 64, 65, 512, 1000, 1024}) {
      const std::vector<float> spectrum = Magnitudes(n, 100u + n);
      for (int melDiv : {1, 2, 12, 26, 40}) {
        for (float rate : {16000.0f, 44100.0f, 48000.0f}) {
          SCOPED_TRACE(testing::Message() << SetName(s) << " N=" << n << " melDiv=" << melDiv << " rate=" << rate);
          Buffer in(spectrum.size(), 1), out(static_cast<size_t>(melDiv), 3, -1.0f);
          for (int i = 0; i < n; ++i) in[i] = spectrum[i];
          Lib().set(s).MelFilterBankDirect(in.data(), out.data(), n, melDiv, rate);
          EXPECT_TRUE(SameBits(RefDirect(MathOf(s), spectrum, melDiv, rate), out.vec()));
          EXPECT_TRUE(out.GuardsIntact());
        }
      }
    }
  }
}

// Degenerate bin widths (zero, infinite, NaN, negative) give empty ranges:
// every channel is 0 and no bin is read (the spectrum pointer is null).
TEST(MelFilterBank, DegenerateWidthsGiveZerosWithoutReading) {
  struct Case {
    int32_t n;
    float rate;
  };
  const Case cases[] = {{64, 0.0f},  {64, INFINITY}, {64, -INFINITY}, {64, NAN}, {0, 16000.0f},
                        {1, 16000.0f}, {-1, 16000.0f}, {-1024, 16000.0f}, {-1024, 48000.0f}};
  for (VariantSet s : Sets()) {
    for (const Case& c : cases) {
      std::vector<float> out(12, -1.0f);
      Lib().set(s).MelFilterBankDirect(nullptr, out.data(), c.n, 12, c.rate);
      for (float v : out) EXPECT_EQ(Bits(v), Bits(0.0f)) << SetName(s) << " N=" << c.n << " rate=" << c.rate;
    }
    // No channels: nothing at all happens.
    for (int32_t melDiv : {0, -1, INT32_MIN}) Lib().set(s).MelFilterBankDirect(nullptr, nullptr, 64, melDiv, 16000.0f);
  }
}

// Bin 0 never counts, and each channel skips the bin at ceil(fLow / binWidth)
// but takes the one after it.
TEST(MelFilterBank, BinRules) {
  const float rate = 16000.0f;
  for (VariantSet s : Sets()) {
    for (int n : {2, 64, 1024}) {
      std::vector<float> spectrum = Magnitudes(n, 7);
      const std::vector<float> want = RefDirect(MathOf(s), spectrum, 26, rate);
      spectrum[0] = NAN;
      std::vector<float> got(26);
      Lib().set(s).MelFilterBankDirect(spectrum.data(), got.data(), n, 26, rate);
      EXPECT_TRUE(SameBits(want, got)) << SetName(s) << " N=" << n << ": bin 0 was used";
    }

    const int n = 1024, melDiv = 26;
    const float binWidth = (rate * 0.5f) / static_cast<float>(n / 2);
    const float melStep = Lib().set(s).HertzToMel(false, rate * 0.5f) / static_cast<float>(melDiv + 1);
    int checked = 0;
    for (int i = 1; i < melDiv; ++i) {
      const float fLow = Lib().set(s).MelToHertz(false, static_cast<float>(i) * melStep);
      const float ratio = fLow / binWidth;
      if (ratio == std::floor(ratio)) continue;
      const int skipped = static_cast<int>(std::ceil(ratio));
      std::vector<float> got(melDiv);
      for (int bin : {skipped, skipped + 1}) {
        std::vector<float> spike(n, 0.0f);
        spike[bin] = 1.0f;
        Lib().set(s).MelFilterBankDirect(spike.data(), got.data(), n, melDiv, rate);
        if (bin == skipped)
          EXPECT_EQ(got[i], 0.0f) << SetName(s) << " channel " << i << " used bin " << bin;
        else
          EXPECT_GT(got[i], 0.0f) << SetName(s) << " channel " << i << " missed bin " << bin;
      }
      ++checked;
    }
    EXPECT_GT(checked, 20);
  }
}

// The array form gives the direct form's values in a fresh temporary array:
// one allocation of melDiv floats, label 2, alignment 4, no frames, not freed.
TEST(MelFilterBank, ArrayFormEqualsDirectAndOwnsOneTemporary) {
  NoLeaks noLeaks;
  for (VariantSet s : Sets()) {
    for (int n : {0, 1, 3, 64, 65, 1024}) {
      std::vector<float> spectrum = Magnitudes(n, 3u + n);
      for (int32_t melDiv : {0, 1, 26}) {
        SCOPED_TRACE(testing::Message() << SetName(s) << " N=" << n << " melDiv=" << melDiv);
        const NativeArray<float> in{spectrum.data(), n, kAllocatorNone};
        NativeArray<float> mel{nullptr, 0, kAllocatorInvalid};
        TrackedAllocator::StartRecording();
        MelFilterBankArray(s, in, mel, 44100.0f, melDiv);
        const std::vector<AllocationEvent> events = TrackedAllocator::StopRecording();

        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].kind, AllocationEvent::Allocate);
        EXPECT_EQ(events[0].size, int64_t{melDiv} * 4);
        EXPECT_EQ(events[0].alignment, 4);
        EXPECT_EQ(events[0].label, 2);
        EXPECT_EQ(events[0].framesToSkip, 0);
        EXPECT_EQ(mel.elements, events[0].pointer);
        EXPECT_EQ(mel.length, melDiv);
        EXPECT_EQ(mel.label, kAllocatorTemp);

        std::vector<float> direct(static_cast<size_t>(melDiv));
        Lib().set(s).MelFilterBankDirect(spectrum.data(), direct.data(), n, melDiv, 44100.0f);
        EXPECT_TRUE(SameBits(direct.data(), mel.elements, melDiv));
        TrackedAllocator::Free(mel.elements, mel.label);
      }
    }
  }
}

// No channel means no read (the spectrum pointer is null). A negative channel count gets an empty array rather than a negative size.
TEST(MelFilterBank, ArrayFormWithoutChannels) {
  NoLeaks noLeaks;
  for (VariantSet s : Sets()) {
    for (int32_t melDiv : {0, -1, -40, INT32_MIN}) {
      const NativeArray<float> in{nullptr, 1024, kAllocatorNone};
      NativeArray<float> mel{nullptr, 0, kAllocatorInvalid};
      TrackedAllocator::StartRecording();
      MelFilterBankArray(s, in, mel, 16000.0f, melDiv);
      const std::vector<AllocationEvent> events = TrackedAllocator::StopRecording();
      ASSERT_EQ(events.size(), 1u) << SetName(s) << " melDiv=" << melDiv;
      EXPECT_EQ(events[0].size, 0);
      EXPECT_EQ(mel.length, 0);
      EXPECT_EQ(mel.label, kAllocatorTemp);
      TrackedAllocator::Free(mel.elements, mel.label);
    }
  }
}

// --- Decibels ------------------------------------------------------------------------

TEST(PowerToDecibel, MatchesReferenceBitForBit) {
  for (VariantSet s : Sets()) {
    for (int n : Lengths()) {
      SCOPED_TRACE(testing::Message() << SetName(s) << " N=" << n);
      const std::vector<float> data = Magnitudes(n, 200u + n);
      std::vector<float> want(data);
      for (float& x : want) x = MathOf(s).log10(x) * 10.0f;
      Buffer b(data.size(), 1);
      for (int i = 0; i < n; ++i) b[i] = data[i];
      Lib().set(s).PowerToDecibel(b.data(), n);
      EXPECT_TRUE(SameBits(want, b.vec()));
      EXPECT_TRUE(b.GuardsIntact());
    }
    for (int32_t n : {0, -3}) Lib().set(s).PowerToDecibel(nullptr, n);
  }
}

// Special values in a vector group and alone (the scalar tail).
TEST(PowerToDecibel, SpecialValues) {
  const std::vector<float> in{1.0f, 10.0f, 100.0f, 0.0f, -0.0f, -1.0f, INFINITY, NAN, 1e-45f, FLT_MIN, 0.5f, 1e30f};
  for (VariantSet s : Sets()) {
    std::vector<float> all = in;
    Lib().set(s).PowerToDecibel(all.data(), static_cast<int32_t>(all.size()));
    for (size_t i = 0; i < in.size(); ++i) {
      float one = in[i];
      Lib().set(s).PowerToDecibel(&one, 1);
      for (float got : {all[i], one}) {
        const auto what = testing::Message() << SetName(s) << " dB(" << in[i] << ") = " << got;
        if (std::isnan(in[i]) || in[i] < 0)
          EXPECT_TRUE(std::isnan(got)) << what;
        else if (in[i] == 0)
          EXPECT_EQ(got, -INFINITY) << what;
        else if (std::isinf(in[i]))
          EXPECT_EQ(got, INFINITY) << what;
        else  // true logarithm, also for subnormals: within a few ULP
          EXPECT_NEAR(got, 10.0 * std::log10(double{in[i]}), 1e-5 + 1e-6 * std::abs(got)) << what;
      }
    }
  }
}

// --- Cosine transform ----------------------------------------------------------------------

TEST(CosineTransform, MatchesReferenceBitForBit) {
  for (VariantSet s : Sets()) {
    for (int n : Lengths()) {
      SCOPED_TRACE(testing::Message() << SetName(s) << " N=" << n);
      const std::vector<float> source = Signed(n, 300u + n);
      Buffer in(source.size(), 3), out(source.size(), 1, -1.0f);
      for (int i = 0; i < n; ++i) in[i] = source[i];
      Lib().set(s).CosineTransform(in.data(), out.data(), n);
      EXPECT_TRUE(SameBits(RefCosine(MathOf(s), source), out.vec()));
      EXPECT_TRUE(in.GuardsIntact() && out.GuardsIntact());
    }
    for (int32_t n : {0, -1}) Lib().set(s).CosineTransform(nullptr, nullptr, n);
  }
}

TEST(CosineTransform, FirstOutputIsThePlainSumAndOneValueIsCopied) {
  for (VariantSet s : Sets()) {
    for (int n : {1, 5, 64, 1000}) {
      const std::vector<float> source = Signed(n, 17);
      std::vector<float> out(source.size());
      Lib().set(s).CosineTransform(source.data(), out.data(), n);
      float sum = 0.0f;
      for (float x : source) sum = sum + x;
      EXPECT_EQ(Bits(out[0]), Bits(sum)) << SetName(s) << " N=" << n;
    }
  }
}

// Against the DCT-II in double. The angle ((j + 0.5) * i) * scale carries up
// to three roundings, about 3u relative on angles up to pi * N, so a cosine
// may be off by 3 * pi * N * u plus its own 3.5 ULP; the sum of N terms adds
// N * u. Each output is therefore within (13 N + 8) * u * sum |x|.
TEST(CosineTransform, AgreesWithDoubleDct) {
  const double u = std::ldexp(1.0, -24);
  for (VariantSet s : Sets()) {
    for (int n : {16, 65, 256}) {
      const std::vector<float> source = Signed(n, 23);
      std::vector<float> out(source.size());
      Lib().set(s).CosineTransform(source.data(), out.data(), n);
      double l1 = 0.0;
      for (float x : source) l1 += std::abs(x);
      for (int i = 0; i < n; ++i) {
        double want = 0.0;
        for (int j = 0; j < n; ++j) want += std::cos(M_PI / n * (j + 0.5) * i) * source[j];
        EXPECT_NEAR(out[i], want, (13.0 * n + 8.0) * u * l1) << SetName(s) << " N=" << n << " i=" << i;
      }
    }
  }
}

}  // namespace
}  // namespace Orovox::Test
