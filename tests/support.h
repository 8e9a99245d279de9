// Shared test helpers: the loaded library, the variant sets to test, each
// set's scalar SLEEF family for references, and bit-exact comparisons.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "orovox/host.h"
#include "scalar_math.h"

namespace Orovox::Test {

using Host::VariantSet;

inline Host::Library& Lib() { return Host::Library::Shared(); }

// The sets this processor can run: SSE2 always, AVX2 where available.
inline std::vector<VariantSet> Sets() {
  std::vector<VariantSet> sets{VariantSet::Sse2};
  if (Host::Library::CanRunAvx2()) sets.push_back(VariantSet::Avx2);
  return sets;
}

inline const char* SetName(VariantSet s) { return s == VariantSet::Avx2 ? "avx2" : "sse2"; }

// The scalar transcendental functions whose bits a set's vector lanes match.
struct ScalarMath {
  float (*sin)(float);
  float (*cos)(float);
  float (*log)(float);
  float (*exp)(float);
  float (*log10)(float);
  float (*pow)(float, float);
};

template <typename M>
ScalarMath MathFrom() {
  return {&M::Sin, &M::Cos, &M::Log, &M::Exp, &M::Log10, &M::Pow};
}

inline ScalarMath MathOf(VariantSet s) {
  return s == VariantSet::Avx2 ? MathFrom<MathAvx2>() : MathFrom<MathSse2>();
}

inline uint32_t Bits(float x) {
  uint32_t u;
  std::memcpy(&u, &x, 4);
  return u;
}

inline float FromBits(uint32_t u) {
  float x;
  std::memcpy(&x, &u, 4);
  return x;
}

// Bit-for-bit equality of two float arrays, reporting the first difference.
inline ::testing::AssertionResult SameBits(const float* expected, const float* actual, int n) {
  for (int i = 0; i < n; ++i) {
    if (Bits(expected[i]) != Bits(actual[i]))
      return ::testing::AssertionFailure() << "element " << i << ": expected " << expected[i] << " (0x" << std::hex
                                           << Bits(expected[i]) << "), got " << actual[i] << " (0x" << Bits(actual[i])
                                           << std::dec << ")";
  }
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult SameBits(const std::vector<float>& expected, const std::vector<float>& actual) {
  if (expected.size() != actual.size())
    return ::testing::AssertionFailure() << "sizes differ: " << expected.size() << " vs " << actual.size();
  return SameBits(expected.data(), actual.data(), static_cast<int>(expected.size()));
}

// Distance in units in the last place between two finite floats.
inline int64_t UlpDistance(float a, float b) {
  auto key = [](float x) -> int64_t {
    const int32_t i = static_cast<int32_t>(Bits(x));
    return i < 0 ? int64_t{INT32_MIN} - i : i;
  };
  const int64_t d = key(a) - key(b);
  return d < 0 ? -d : d;
}

// A buffer whose data starts `misalign` floats past a 64-byte boundary, with
// guard floats around it so that stray writes show.
class Buffer {
 public:
  static constexpr float kGuard = -12345.678f;
  explicit Buffer(size_t n, size_t misalign = 0, float fill = 0.0f)
      : storage_(n + misalign + 2 * kPad + 16, kGuard), n_(n) {
    uintptr_t p = reinterpret_cast<uintptr_t>(storage_.data() + kPad);
    p = (p + 63) & ~uintptr_t{63};
    data_ = reinterpret_cast<float*>(p) + misalign;
    for (size_t i = 0; i < n; ++i) data_[i] = fill;
  }
  float* data() { return data_; }
  float& operator[](size_t i) { return data_[i]; }
  size_t size() const { return n_; }
  std::vector<float> vec() const { return std::vector<float>(data_, data_ + n_); }
  // True when the guard floats just before and after the data are intact.
  bool GuardsIntact() const {
    for (size_t i = 1; i <= 8; ++i)
      if (Bits(data_[-static_cast<ptrdiff_t>(i)]) != Bits(kGuard) || Bits(data_[n_ + i - 1]) != Bits(kGuard)) return false;
    return true;
  }

 private:
  static constexpr size_t kPad = 32;
  std::vector<float> storage_;
  float* data_;
  size_t n_;
};

// Checks that the code run inside leaves no tracked allocation live.
class NoLeaks {
 public:
  NoLeaks() : before_(Host::TrackedAllocator::LiveBlocks()), errors_(Host::TrackedAllocator::FreeErrors()) {}
  ~NoLeaks() {
    EXPECT_EQ(Host::TrackedAllocator::LiveBlocks(), before_) << "tracked allocations left live";
    EXPECT_EQ(Host::TrackedAllocator::FreeErrors(), errors_) << "bad frees reported by the host";
  }

 private:
  int64_t before_;
  int64_t errors_;
};

}  // namespace Orovox::Test
