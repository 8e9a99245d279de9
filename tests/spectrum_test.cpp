// The transform and the magnitude spectrum: both sets' bodies against a
// plain transcription of the algorithm (bit for bit), against a
// double-precision DFT, and the host's view of their allocations.
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "support.h"

namespace Orovox::Test {
namespace {

using Host::AllocationEvent;
using Host::TrackedAllocator;

constexpr float kMinusTwoPi = -6.2831855f;

// The transform as the algorithm reads, element by element, with the set's
// scalar sine and cosine.
void ReferenceFft(const ScalarMath& m, float* re, float* im, int n) {
  if (n < 2) return;
  const int c = n / 2;
  std::vector<float> eRe(c), eIm(c), oRe(c), oIm(c);
  for (int k = 0; k < c; ++k) {
    eRe[k] = re[2 * k];
    eIm[k] = im[2 * k];
    oRe[k] = re[2 * k + 1];
    oIm[k] = im[2 * k + 1];
  }
  ReferenceFft(m, eRe.data(), eIm.data(), c);
  ReferenceFft(m, oRe.data(), oIm.data(), c);
  for (int k = 0; k < c; ++k) {
    const float angle = (static_cast<float>(k) * kMinusTwoPi) / static_cast<float>(n);
    const float cs = m.cos(angle);
    const float sn = m.sin(angle);
    const float tRe = oRe[k] * cs - oIm[k] * sn;
    const float tIm = oRe[k] * sn + oIm[k] * cs;
    re[k] = eRe[k] + tRe;
    im[k] = eIm[k] + tIm;
    re[k + c] = eRe[k] - tRe;
    im[k + c] = eIm[k] - tIm;
  }
}

std::vector<float> ReferenceMagnitude(const ScalarMath& m, const std::vector<float>& data) {
  const int n = static_cast<int>(data.size());
  std::vector<float> re(data), im(data.size(), 0.0f), out(data.size());
  ReferenceFft(m, re.data(), im.data(), n);
  for (int i = 0; i < n; ++i) out[i] = std::sqrt(re[i] * re[i] + im[i] * im[i]);
  return out;
}

// Values in [-1, 1], `zeros` in 8 of them exact zeros of either sign: with
// many zeros, the signs of zero products and sums reach the output.
std::vector<float> Signal(int n, uint32_t seed, int zeros = 2) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> v(static_cast<size_t>(n));
  for (float& x : v) {
    const int pick = static_cast<int>(rng() % 8);
    x = pick < zeros ? (pick % 2 == 0 ? 0.0f : -0.0f) : u(rng);
  }
  return v;
}

std::vector<int> Lengths() {
  std::vector<int> n;
  for (int i = 0; i <= 40; ++i) n.push_back(i);
  for (int i : {63, 64, 65, 1000, 1024}) n.push_back(i);
  return n;
}

void Fill(Buffer& b, const std::vector<float>& v) {
  for (size_t i = 0; i < v.size(); ++i) b[i] = v[i];
}

// Fills new host blocks with 0xA5 for the life of the guard.
struct Poisoned {
  Poisoned() { TrackedAllocator::SetPoison(true); }
  ~Poisoned() { TrackedAllocator::SetPoison(false); }
};

TEST(FastFourierTransform, MatchesReferenceBitForBit) {
  NoLeaks noLeaks;
  for (VariantSet s : Sets()) {
    for (int n : Lengths()) {
      for (auto [misalign, zeros] : {std::pair{size_t{0}, 2}, std::pair{size_t{3}, 2}, std::pair{size_t{1}, 7}}) {
        SCOPED_TRACE(testing::Message() << SetName(s) << " N=" << n << " misalign=" << misalign << " zeros=" << zeros);
        std::vector<float> re = Signal(n, 1u + n, zeros), im = Signal(n, 1000u + n, zeros);
        Buffer bRe(re.size(), misalign), bIm(im.size(), misalign + 1);
        Fill(bRe, re);
        Fill(bIm, im);
        ReferenceFft(MathOf(s), re.data(), im.data(), n);
        Lib().set(s).FastFourierTransform(bRe.data(), bIm.data(), n);
        EXPECT_TRUE(SameBits(re, bRe.vec()));
        EXPECT_TRUE(SameBits(im, bIm.vec()));
        EXPECT_TRUE(bRe.GuardsIntact() && bIm.GuardsIntact());
      }
    }
  }
}

// Exact outputs for the short and degenerate lengths.
TEST(FastFourierTransform, EdgeCases) {
  struct Case {
    const char* what;
    std::vector<float> re, im, wantRe, wantIm;
  };
  const std::vector<float> z8(8, 0.0f), ones8(8, 1.0f);
  const std::vector<Case> cases = {
      {"empty", {}, {}, {}, {}},
      {"single element untouched", {2.5f}, {-1.5f}, {2.5f}, {-1.5f}},
      {"two points", {0.75f, 0.5f}, {0.0f, 0.0f}, {1.25f, 0.25f}, {0.0f, 0.0f}},
      {"odd length keeps its last element", {1, 2, 3}, {0, 0, 0}, {3, -1, 3}, {0, 0, 0}},
      {"impulse", {1, 0, 0, 0, 0, 0, 0, 0}, z8, ones8, z8},
      {"constant", ones8, z8, {8, 0, 0, 0, 0, 0, 0, 0}, z8},
  };
  for (VariantSet s : Sets()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << SetName(s) << ": " << c.what);
      std::vector<float> re = c.re, im = c.im;
      Lib().set(s).FastFourierTransform(re.data(), im.data(), static_cast<int32_t>(re.size()));
      for (size_t k = 0; k < re.size(); ++k) {
        EXPECT_EQ(re[k], c.wantRe[k]) << "re[" << k << "]";
        EXPECT_EQ(im[k], c.wantIm[k]) << "im[" << k << "]";
      }
    }
  }
}

TEST(FastFourierTransform, ShortAndNegativeLengthsTouchNothing) {
  for (VariantSet s : Sets()) {
    for (int32_t n : {1, 0, -1, -1024}) {
      TrackedAllocator::StartRecording();
      // A null pointer shows any access.
      Lib().set(s).FastFourierTransform(nullptr, nullptr, n);
      EXPECT_TRUE(TrackedAllocator::StopRecording().empty()) << SetName(s) << " N=" << n;
    }
  }
}

// NaN and infinity run through; NaN payloads may differ, so any NaN matches any NaN.
TEST(FastFourierTransform, NonFiniteInputsPropagateAsInTheReference) {
  for (VariantSet s : Sets()) {
    for (int n : {16, 37}) {
      std::vector<float> re = Signal(n, 7), im = Signal(n, 8);
      re[3] = INFINITY;
      im[5] = NAN;
      re[n - 2] = -INFINITY;
      std::vector<float> gotRe = re, gotIm = im;
      ReferenceFft(MathOf(s), re.data(), im.data(), n);
      Lib().set(s).FastFourierTransform(gotRe.data(), gotIm.data(), n);
      for (int k = 0; k < n; ++k) {
        for (auto [want, got] : {std::pair{re[k], gotRe[k]}, std::pair{im[k], gotIm[k]}}) {
          if (std::isnan(want))
            EXPECT_TRUE(std::isnan(got)) << SetName(s) << " N=" << n << " k=" << k;
          else
            EXPECT_EQ(Bits(want), Bits(got)) << SetName(s) << " N=" << n << " k=" << k;
        }
      }
    }
  }
}

// Against the DFT in double precision. A radix-2 transform loses at most a
// few units of rounding per level on the norm; with twiddles within 3.5 ULP
// each level adds below 10u (u = 2^-24) relative to the output norm, so the
// bound is ||error|| <= 10 * log2(N) * u * ||X||. The same bound covers the
// two sets' difference, which comes from their sine and cosine alone.
TEST(FastFourierTransform, AgreesWithDoubleDftAndAcrossSets) {
  const double u = std::ldexp(1.0, -24);
  for (int m = 1; m <= 10; ++m) {
    const int n = 1 << m;
    const std::vector<float> xRe = Signal(n, 40u + m), xIm = Signal(n, 80u + m);
    std::vector<double> dRe(n), dIm(n);
    double norm = 0.0;
    for (int k = 0; k < n; ++k) {
      for (int t = 0; t < n; ++t) {
        const double a = -2.0 * M_PI * static_cast<double>((int64_t{k} * t) % n) / n;
        dRe[k] += xRe[t] * std::cos(a) - xIm[t] * std::sin(a);
        dIm[k] += xRe[t] * std::sin(a) + xIm[t] * std::cos(a);
      }
      norm += dRe[k] * dRe[k] + dIm[k] * dIm[k];
    }
    const double bound = 10.0 * m * u * std::sqrt(norm);
    std::map<VariantSet, std::pair<std::vector<float>, std::vector<float>>> results;
    for (VariantSet s : Sets()) {
      std::vector<float> re = xRe, im = xIm;
      Lib().set(s).FastFourierTransform(re.data(), im.data(), n);
      double err = 0.0;
      for (int k = 0; k < n; ++k) err += (re[k] - dRe[k]) * (re[k] - dRe[k]) + (im[k] - dIm[k]) * (im[k] - dIm[k]);
      EXPECT_LE(std::sqrt(err), bound) << SetName(s) << " N=" << n;
      results[s] = {re, im};
    }
    if (results.size() == 2) {
      const auto& a = results[VariantSet::Sse2];
      const auto& b = results[VariantSet::Avx2];
      double diff = 0.0;
      for (int k = 0; k < n; ++k) {
        diff += (double{a.first[k]} - b.first[k]) * (double{a.first[k]} - b.first[k]);
        diff += (double{a.second[k]} - b.second[k]) * (double{a.second[k]} - b.second[k]);
      }
      EXPECT_LE(std::sqrt(diff), bound) << "sets differ, N=" << n;
    }
  }
}

TEST(MagnitudeSpectrum, MatchesReferenceOverAllBins) {
  NoLeaks noLeaks;
  for (VariantSet s : Sets()) {
    for (int n : Lengths()) {
      for (size_t misalign : {size_t{0}, size_t{1}}) {
        SCOPED_TRACE(testing::Message() << SetName(s) << " N=" << n << " misalign=" << misalign);
        const std::vector<float> data = Signal(n, 500u + n);
        Buffer in(data.size(), misalign), out(data.size(), misalign + 2, -1.0f);
        Fill(in, data);
        Lib().set(s).MagnitudeSpectrum(in.data(), out.data(), n);
        // All N bins, not only the lower half.
        EXPECT_TRUE(SameBits(ReferenceMagnitude(MathOf(s), data), out.vec()));
        EXPECT_TRUE(SameBits(data, in.vec())) << "input changed";
        EXPECT_TRUE(in.GuardsIntact() && out.GuardsIntact());
      }
    }
  }
}

TEST(MagnitudeSpectrum, InPlaceAndSingleValue) {
  for (VariantSet s : Sets()) {
    std::vector<float> one{-2.5f};
    Lib().set(s).MagnitudeSpectrum(one.data(), one.data(), 1);
    EXPECT_EQ(one[0], 2.5f);

    const std::vector<float> data = Signal(65, 9);
    std::vector<float> inPlace = data;
    Lib().set(s).MagnitudeSpectrum(inPlace.data(), inPlace.data(), 65);
    EXPECT_TRUE(SameBits(ReferenceMagnitude(MathOf(s), data), inPlace)) << SetName(s);
  }
}

// A negative count is treated as empty: nothing is read or written (null
// pointers would show it), and the two scratch buffers have no bytes.
TEST(MagnitudeSpectrum, ZeroAndNegativeCountsAreEmpty) {
  NoLeaks noLeaks;
  for (VariantSet s : Sets()) {
    for (int32_t n : {0, -1, -64, INT32_MIN}) {
      TrackedAllocator::StartRecording();
      Lib().set(s).MagnitudeSpectrum(nullptr, nullptr, n);
      const std::vector<AllocationEvent> events = TrackedAllocator::StopRecording();
      ASSERT_EQ(events.size(), 4u) << SetName(s) << " N=" << n;
      for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(events[i].kind, AllocationEvent::Allocate);
        EXPECT_EQ(events[i].size, 0);
        EXPECT_EQ(events[2 + i].kind, AllocationEvent::Free);
        EXPECT_EQ(events[2 + i].pointer, events[i].pointer) << "freed out of order";
      }
    }
  }
}

// The allocation sequence the algorithm makes: per level of length n >= 2,
// four blocks of n/2 floats (even-re, even-im, odd-re, odd-im), the two
// sub-transforms, then the four frees in allocation order.
struct Expected {
  AllocationEvent::Kind kind;
  int id;
  int64_t size;
};

void ExpectFft(int n, std::vector<Expected>& out, int& nextId) {
  if (n < 2) return;
  const int c = n / 2;
  const int first = nextId;
  nextId += 4;
  for (int i = 0; i < 4; ++i) out.push_back({AllocationEvent::Allocate, first + i, int64_t{c} * 4});
  ExpectFft(c, out, nextId);
  ExpectFft(c, out, nextId);
  for (int i = 0; i < 4; ++i) out.push_back({AllocationEvent::Free, first + i, int64_t{c} * 4});
}

void ExpectSequence(const std::vector<Expected>& want, const std::vector<AllocationEvent>& got) {
  ASSERT_EQ(got.size(), want.size());
  std::map<int, void*> pointerOf;
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "event " << i);
    ASSERT_EQ(got[i].kind, want[i].kind);
    EXPECT_EQ(got[i].size, want[i].size);
    EXPECT_EQ(got[i].label, 2);
    if (want[i].kind == AllocationEvent::Allocate) {
      EXPECT_EQ(got[i].alignment, 4);
      EXPECT_EQ(got[i].framesToSkip, 0);
      pointerOf[want[i].id] = got[i].pointer;
    } else {
      ASSERT_EQ(got[i].pointer, pointerOf[want[i].id]) << "a different block is freed here";
    }
  }
}

TEST(FastFourierTransform, AllocatesFourBuffersPerLevelInOrder) {
  NoLeaks noLeaks;
  for (VariantSet s : Sets()) {
    for (int n : {2, 3, 4, 7, 8, 12, 64, 1000, 1024}) {
      SCOPED_TRACE(testing::Message() << SetName(s) << " N=" << n);
      std::vector<float> re = Signal(n, 3), im = Signal(n, 4);
      std::vector<Expected> want;
      int nextId = 0;
      ExpectFft(n, want, nextId);
      if ((n & (n - 1)) == 0) {
        EXPECT_EQ(want.size(), 8u * (n - 1)) << "4(N-1) allocations and as many frees";
      }
      TrackedAllocator::StartRecording();
      Lib().set(s).FastFourierTransform(re.data(), im.data(), n);
      ExpectSequence(want, TrackedAllocator::StopRecording());
    }
  }
}

TEST(MagnitudeSpectrum, AllocatesReThenImAroundTheTransform) {
  NoLeaks noLeaks;
  for (VariantSet s : Sets()) {
    for (int n : {1, 5, 256}) {
      SCOPED_TRACE(testing::Message() << SetName(s) << " N=" << n);
      const std::vector<float> data = Signal(n, 5);
      std::vector<float> out(data.size());
      std::vector<Expected> want{{AllocationEvent::Allocate, 0, int64_t{n} * 4},
                                 {AllocationEvent::Allocate, 1, int64_t{n} * 4}};
      int nextId = 2;
      ExpectFft(n, want, nextId);
      want.push_back({AllocationEvent::Free, 0, int64_t{n} * 4});
      want.push_back({AllocationEvent::Free, 1, int64_t{n} * 4});
      TrackedAllocator::StartRecording();
      Lib().set(s).MagnitudeSpectrum(data.data(), out.data(), n);
      ExpectSequence(want, TrackedAllocator::StopRecording());
    }
  }
}

// With poisoned blocks, a scratch buffer read before it is written shows: the
// imaginary input of the magnitude spectrum is all from the zero fill, and
// odd lengths leave trailing elements of each level alone.
TEST(Spectrum, ResultsDoNotDependOnFreshMemory) {
  NoLeaks noLeaks;
  Poisoned poison;
  for (VariantSet s : Sets()) {
    for (int n : {1, 2, 3, 7, 12, 45, 1000}) {
      SCOPED_TRACE(testing::Message() << SetName(s) << " N=" << n);
      const std::vector<float> data = Signal(n, 11u + n);
      std::vector<float> out(data.size());
      Lib().set(s).MagnitudeSpectrum(data.data(), out.data(), n);
      EXPECT_TRUE(SameBits(ReferenceMagnitude(MathOf(s), data), out));

      std::vector<float> re = data, im = Signal(n, 99), wantRe = re, wantIm = im;
      ReferenceFft(MathOf(s), wantRe.data(), wantIm.data(), n);
      Lib().set(s).FastFourierTransform(re.data(), im.data(), n);
      EXPECT_TRUE(SameBits(wantRe, re));
      EXPECT_TRUE(SameBits(wantIm, im));
    }
  }
}

}  // namespace
}  // namespace Orovox::Test
