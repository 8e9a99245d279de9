// The two texture jobs, called in each variant set directly: worked pictures,
// degenerate inputs, and a per-pixel scalar reference of the heat map that
// every vector group must match bit for bit.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "support.h"

namespace Orovox::Test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr uint32_t kUntouched = 0xDEADBEEFu;

uint32_t Px(uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return r | g << 8 | b << 16 | a << 24; }

uint32_t Packed(const Rgba32Pixel& p) {
  uint32_t u;
  std::memcpy(&u, &p, 4);
  return u;
}

// Pixel storage with sentinel pixels after the picture, so writes past the
// end show.
struct Picture {
  static constexpr int kTail = 16;
  explicit Picture(int n) : storage(static_cast<size_t>(n + kTail)), n(n) {
    for (Rgba32Pixel& p : storage) std::memcpy(&p, &kUntouched, 4);
  }
  uint32_t operator[](int i) const { return Packed(storage[static_cast<size_t>(i)]); }
  bool TailIntact() const {
    for (int i = n; i < n + kTail; ++i)
      if ((*this)[i] != kUntouched) return false;
    return true;
  }
  std::vector<Rgba32Pixel> storage;
  int n;
};

// --- Heat map ---------------------------------------------------------------------

std::vector<uint32_t> PaintHeatmap(VariantSet s, const float* values, int width, int height, float minValue,
                                   float maxValue) {
  const int n = width > 0 && height > 0 ? width * height : 0;
  Picture picture(n);
  PaintHeatmapJob job{};
  job.pixels.elements = picture.storage.data();
  job.values.elements = const_cast<float*>(values);
  job.width = width;
  job.height = height;
  job.minValue = minValue;
  job.maxValue = maxValue;
  Lib().set(s).PaintHeatmapJob(job);
  EXPECT_TRUE(picture.TailIntact()) << "wrote past the last pixel";
  std::vector<uint32_t> out(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out[static_cast<size_t>(i)] = picture[i];
  return out;
}

// The colour of one value, transcribed step by step.
uint32_t ReferenceByte(float x) {
  float y;
  if (x < 0.0f)
    y = 0.0f;
  else
    y = (x > 1.0f ? 1.0f : x) * 255.0f;
  y = rintf(y);
  int32_t i = INT32_MIN;  // what the processor's conversion gives for NaN
  if (y == y) i = static_cast<int32_t>(y);
  return static_cast<uint32_t>(i) & 0xFFu;
}

uint32_t ReferenceHeat(const ScalarMath& math, float v, float minValue, float maxValue) {
  const float range = maxValue - minValue;
  const float t = (v - minValue) / range;
  const float c = math.cos(t * 3.1415927f);
  const float a = 1.0f - c;
  const float b = a * 0.5f;
  const float e = 1.0f - b;
  const float s = e * 5.0f;
  float m;
  if (std::fabs(s) < 2.0f)
    m = s;
  else
    m = static_cast<float>(static_cast<double>(s) - 2.0 * std::trunc(static_cast<double>(s) * 0.5));
  const float h = 1.0f - std::fabs(m - 1.0f);
  float red, green, blue;
  if (s < 1.0f) {
    red = 1.0f, green = h, blue = 0.0f;
  } else if (s < 2.0f) {
    red = h, green = 1.0f, blue = 0.0f;
  } else if (s < 3.0f) {
    red = 0.0f, green = 1.0f, blue = h;
  } else if (s < 4.0f) {
    red = 0.0f, green = h, blue = 1.0f;
  } else {
    red = 0.5f * h, green = 0.0f, blue = 0.5f;
  }
  return Px(ReferenceByte(red), ReferenceByte(green), ReferenceByte(blue), 255);
}

struct HeatCase {
  float value;
  uint32_t pixel;
};

// The worked ramp with minValue 0 and maxValue 1, plus fold-back: values
// outside the range mirror into it.
const HeatCase kRamp[] = {
    {0.0f, Px(128, 0, 128, 255)},  {0.25f, Px(34, 0, 128, 255)}, {0.5f, Px(0, 255, 128, 255)},
    {0.75f, Px(255, 187, 0, 255)}, {1.0f, Px(255, 0, 0, 255)},   {kNaN, Px(0, 0, 128, 255)},
    {-0.5f, Px(0, 255, 128, 255)}, {1.5f, Px(0, 255, 128, 255)}, {-1.0f, Px(255, 0, 0, 255)},
    {-kNaN, Px(0, 0, 128, 255)},
};
constexpr int kRampSize = sizeof(kRamp) / sizeof(kRamp[0]);

TEST(HeatmapTest, WorkedRampInEveryLanePositionAndAsAColumn) {
  // As a long row every value passes through each lane of the vector groups;
  // as a single column every value takes the one-pixel path.
  const int rowLength = kRampSize * 9;
  std::vector<float> row(static_cast<size_t>(rowLength));
  for (int i = 0; i < rowLength; ++i) row[static_cast<size_t>(i)] = kRamp[i % kRampSize].value;
  for (VariantSet s : Sets()) {
    SCOPED_TRACE(SetName(s));
    const std::vector<uint32_t> wide = PaintHeatmap(s, row.data(), rowLength, 1, 0.0f, 1.0f);
    const std::vector<uint32_t> tall = PaintHeatmap(s, row.data(), 1, kRampSize, 0.0f, 1.0f);
    for (int i = 0; i < rowLength; ++i)
      EXPECT_EQ(wide[static_cast<size_t>(i)], kRamp[i % kRampSize].pixel) << "value " << kRamp[i % kRampSize].value
                                                                           << " at column " << i;
    for (int i = 0; i < kRampSize; ++i)
      EXPECT_EQ(tall[static_cast<size_t>(i)], kRamp[i].pixel) << "value " << kRamp[i].value;
  }
}

TEST(HeatmapTest, EmptyGridWritesNothingAndReadsNothing) {
  const struct {
    int width, height;
  } kShapes[] = {{0, 3}, {3, 0}, {-1, 3}, {3, -2}, {INT32_MIN, INT32_MIN}};
  for (VariantSet s : Sets())
    for (const auto& shape : kShapes) {
      Picture picture(0);
      PaintHeatmapJob job{};
      job.pixels.elements = picture.storage.data();
      job.values.elements = nullptr;  // would fault if read
      job.width = shape.width;
      job.height = shape.height;
      job.maxValue = 1.0f;
      Lib().set(s).PaintHeatmapJob(job);
      EXPECT_TRUE(picture.TailIntact()) << SetName(s) << " " << shape.width << "x" << shape.height;
    }
}

TEST(HeatmapTest, EqualBoundsPaintEveryPixelAsNaN) {
  // range 0: t is NaN at the bound and infinite elsewhere; the cosine gives NaN.
  const float values[] = {2.0f, -3.0f, 2.0f, 0.0f, kInf, -kInf, kNaN, 1e30f, 2.0f, 7.0f, -0.0f};
  const int n = sizeof(values) / sizeof(values[0]);
  for (VariantSet s : Sets()) {
    const std::vector<uint32_t> out = PaintHeatmap(s, values, n, 1, 2.0f, 2.0f);
    for (int i = 0; i < n; ++i) EXPECT_EQ(out[static_cast<size_t>(i)], Px(0, 0, 128, 255)) << SetName(s) << " " << i;
  }
}

// Every pixel of every row shape equals the per-pixel reference bit for bit,
// whatever mix of vector groups and single pixels a row is painted with.
TEST(HeatmapTest, MatchesPerPixelReferenceForEveryRowWidth) {
  std::vector<int> widths;
  for (int w = 1; w <= 40; ++w) widths.push_back(w);
  widths.insert(widths.end(), {63, 64, 65});
  const float specials[] = {kNaN, kInf, -kInf, -0.5f, 1.7f, 0.0f, -0.0f, 1e-40f, 3.0e38f, 0.6f};

  std::mt19937 rng(20240611);
  std::uniform_real_distribution<float> spread(-2.0f, 3.5f);
  const struct {
    float minValue, maxValue;
  } kRanges[] = {{-0.5f, 1.7f}, {3.0f, -1.0f}, {0.0f, 1e-3f}};
  for (VariantSet s : Sets()) {
    SCOPED_TRACE(SetName(s));
    const ScalarMath math = MathOf(s);
    for (const auto& range : kRanges)
      for (int width : widths) {
        const int height = 3;
        Buffer values(static_cast<size_t>(width * height), static_cast<size_t>(width % 4));
        for (int i = 0; i < width * height; ++i)
          values[static_cast<size_t>(i)] = rng() % 7 == 0 ? specials[rng() % 10] : spread(rng);
        const std::vector<uint32_t> out = PaintHeatmap(s, values.data(), width, height, range.minValue, range.maxValue);
        for (int i = 0; i < width * height; ++i) {
          const float v = values[static_cast<size_t>(i)];
          ASSERT_EQ(out[static_cast<size_t>(i)], ReferenceHeat(math, v, range.minValue, range.maxValue))
              << "width " << width << " pixel " << i << " value " << v << " range " << range.minValue << ".."
              << range.maxValue;
          ASSERT_EQ(out[static_cast<size_t>(i)] >> 24, 255u);
        }
      }
  }
}

// --- Phoneme bars ------------------------------------------------------------------------

struct Bars {
  int width = 0, height = 0, phonemeCount = 0;
  float smoothing = 1.0f;
  std::vector<ColorEntry> colors;
  std::vector<float> weights, levels;
  bool nullColors = false, nullWeights = false;  // pass null pointers (must not be read)
  int32_t colorCountOverride = -1;               // colour count to report, when >= 0
};

std::vector<uint32_t> PaintBars(VariantSet s, Bars& bars) {
  const int n = bars.width > 0 && bars.height > 0 ? bars.width * bars.height : 0;
  Picture picture(n);
  PaintPhonemeBarsJob job{};
  job.pixels.elements = picture.storage.data();
  job.colors.elements = bars.nullColors ? nullptr : bars.colors.data();
  job.colors.length = bars.colorCountOverride >= 0 ? bars.colorCountOverride : static_cast<int32_t>(bars.colors.size());
  job.weights.elements = bars.nullWeights ? nullptr : bars.weights.data();
  job.levels.elements = bars.levels.data();
  job.width = bars.width;
  job.height = bars.height;
  job.phonemeCount = bars.phonemeCount;
  job.smoothing = bars.smoothing;
  Lib().set(s).PaintPhonemeBarsJob(job);
  EXPECT_TRUE(picture.TailIntact()) << "wrote past the last pixel";
  std::vector<uint32_t> out(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out[static_cast<size_t>(i)] = picture[i];
  return out;
}

// Colour bytes of column c (the same in every row), alpha cleared.
uint32_t ColumnColor(const std::vector<uint32_t>& out, const Bars& bars, int c, int row = 0) {
  return out[static_cast<size_t>(row * bars.width + c)] & 0x00FFFFFFu;
}

TEST(PhonemeBarsTest, WorkedPicture) {
  Bars bars;
  bars.width = 2, bars.height = 4, bars.phonemeCount = 2, bars.smoothing = 0.5f;
  bars.colors = {{1, 0, 0, 0.3f}, {0, 0, 1, -7.0f}};
  bars.weights = {1, 0, 0, 1};
  bars.levels = {1, 0};
  const uint32_t expected[4][2] = {
      {Px(128, 0, 0, 255), Px(64, 0, 128, 0)},
      {Px(128, 0, 0, 255), Px(64, 0, 128, 0)},
      {Px(128, 0, 0, 255), Px(64, 0, 128, 255)},
      {Px(128, 0, 0, 255), Px(64, 0, 128, 0)},
  };
  for (VariantSet s : Sets()) {
    const std::vector<uint32_t> out = PaintBars(s, bars);
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 2; ++c)
        EXPECT_EQ(out[static_cast<size_t>(r * 2 + c)], expected[r][c]) << SetName(s) << " row " << r << " col " << c;
  }
}

TEST(PhonemeBarsTest, EmptyStripWritesNothing) {
  const struct {
    int width, height;
  } kShapes[] = {{0, 4}, {4, 0}, {-3, 4}, {4, -1}};
  for (VariantSet s : Sets())
    for (const auto& shape : kShapes) {
      Bars bars;
      bars.width = shape.width, bars.height = shape.height, bars.phonemeCount = 1;
      bars.nullColors = bars.nullWeights = true;
      PaintBars(s, bars);  // only the sentinel check inside
    }
}

// Targets that cannot be blended are black; then nothing but the levels is read.
TEST(PhonemeBarsTest, BlackTargetsWhenNothingCanBeBlended) {
  const struct {
    const char* what;
    int phonemeCount;
    int32_t colorCount;
  } kCases[] = {{"no phonemes", 0, 3}, {"negative phoneme count", -2, 3}, {"no colours", 3, 0}};
  for (VariantSet s : Sets())
    for (const auto& k : kCases) {
      Bars bars;
      bars.width = 3, bars.height = 2, bars.phonemeCount = k.phonemeCount, bars.smoothing = 1.0f;
      bars.nullColors = bars.nullWeights = true;  // a read faults
      bars.colorCountOverride = k.colorCount;
      bars.levels = {1, 1, -1};
      const std::vector<uint32_t> out = PaintBars(s, bars);
      for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(out[static_cast<size_t>(r * 3 + 0)], Px(0, 0, 0, 255)) << SetName(s) << " " << k.what;
        EXPECT_EQ(out[static_cast<size_t>(r * 3 + 1)], Px(0, 0, 0, 255)) << SetName(s) << " " << k.what;
        EXPECT_EQ(out[static_cast<size_t>(r * 3 + 2)], Px(0, 0, 0, 0)) << SetName(s) << " " << k.what;
      }
    }
}

TEST(PhonemeBarsTest, TargetBlendAndClamping) {
  // smoothing 1: each column shows its own target.
  const ColorEntry red{1, 0, 0, kNaN}, green{0, 1, 0, kNaN}, grey{0.5f, 0.5f, 0.5f, 100.0f};
  const struct {
    const char* what;
    std::vector<ColorEntry> colors;
    std::vector<float> weights;  // one column
    uint32_t rgb;
  } kCases[] = {
      {"pure colour", {grey}, {1}, Px(128, 128, 128, 0)},
      {"weights add", {red, green}, {1, 0.5f}, Px(255, 128, 0, 0)},
      {"above 1 clamps to 255", {red}, {2}, Px(255, 0, 0, 0)},
      {"below 0 clamps to 0", {red, green}, {-1, 1}, Px(0, 255, 0, 0)},
      {"more phonemes than colours", {red, green, grey}, {0, 0, 0, 0, 1}, Px(0, 255, 0, 0)},
      {"colours repeat", {red, green}, {0, 0, 0.25f, 0, 0.25f}, Px(128, 0, 0, 0)},
  };
  for (VariantSet s : Sets())
    for (const auto& k : kCases) {
      Bars bars;
      bars.width = 1, bars.height = 1, bars.phonemeCount = static_cast<int>(k.weights.size());
      bars.colors = k.colors, bars.weights = k.weights, bars.levels = {-1};
      EXPECT_EQ(PaintBars(s, bars)[0], k.rgb) << SetName(s) << " " << k.what;
    }
}

TEST(PhonemeBarsTest, SmoothingCarriesTheRunningColour) {
  Bars bars;
  bars.width = 3, bars.height = 1, bars.phonemeCount = 1;
  bars.colors = {{1, 0.5f, 0, 0}};
  bars.weights = {1, 1, 0};
  bars.levels = {1, 1, 1};
  const struct {
    float smoothing;
    uint32_t columns[3];
  } kCases[] = {
      {1.0f, {Px(255, 128, 0, 0), Px(255, 128, 0, 0), Px(0, 0, 0, 0)}},
      {0.0f, {0, 0, 0}},
      // 0.5, 0.75, then back to 0.375: the colour is carried, not restarted.
      {0.5f, {Px(128, 64, 0, 0), Px(191, 96, 0, 0), Px(96, 48, 0, 0)}},
  };
  for (VariantSet s : Sets())
    for (const auto& k : kCases) {
      bars.smoothing = k.smoothing;
      const std::vector<uint32_t> out = PaintBars(s, bars);
      for (int c = 0; c < 3; ++c)
        EXPECT_EQ(ColumnColor(out, bars, c), k.columns[c]) << SetName(s) << " smoothing " << k.smoothing << " col " << c;
    }
}

TEST(PhonemeBarsTest, BarExtentFollowsTheLevel) {
  const struct {
    float level;
    int height;
    const char* opaqueRows;  // '1' where alpha is 255
  } kCases[] = {
      {1.0f, 5, "11111"},  {7.0f, 4, "1111"},   {kNaN, 3, "111"},        {-0.01f, 4, "0000"},
      {0.0f, 4, "0010"},  {0.0f, 5, "00000"},  {0.25f, 8, "00111110"}, {0.0f, 1, "0"},
      {1.0f, 1, "1"},
  };
  for (VariantSet s : Sets())
    for (const auto& k : kCases) {
      Bars bars;
      bars.width = 2, bars.height = static_cast<int>(std::strlen(k.opaqueRows)), bars.phonemeCount = 0;
      bars.levels = {k.level, -1.0f};  // the second column checks that rows stay in their column
      const std::vector<uint32_t> out = PaintBars(s, bars);
      for (int r = 0; r < bars.height; ++r) {
        const uint32_t alpha = k.opaqueRows[r] == '1' ? 255u : 0u;
        EXPECT_EQ(out[static_cast<size_t>(r * 2)], alpha << 24) << SetName(s) << " level " << k.level << " row " << r;
        EXPECT_EQ(out[static_cast<size_t>(r * 2 + 1)], 0u) << SetName(s) << " level " << k.level << " row " << r;
      }
    }
}

TEST(PhonemeBarsTest, NaNPoisonsAChannelFromItsColumnOn) {
  // The second colour's blue is NaN and sits under weight 0 in every column;
  // column 1 also has a NaN weight.
  Bars bars;
  bars.width = 4, bars.height = 2, bars.phonemeCount = 2, bars.smoothing = 0.5f;
  bars.colors = {{1, 1, 0, 0}, {0, 0, kNaN, 0}};
  bars.weights = {1, 0, kNaN, 0, 1, 0, 1, 0};
  bars.levels = {1, 1, 1, 1};
  for (VariantSet s : Sets()) {
    SCOPED_TRACE(SetName(s));
    const std::vector<uint32_t> out = PaintBars(s, bars);
    // 0 x NaN is NaN, so blue is poisoned from column 0; the NaN weight
    // poisons red and green (and blue again) from column 1.
    EXPECT_EQ(ColumnColor(out, bars, 0), Px(128, 128, 0, 0));
    for (int c = 1; c < 4; ++c)
      for (int r = 0; r < 2; ++r) EXPECT_EQ(out[static_cast<size_t>(r * 4 + c)], Px(0, 0, 0, 255)) << c;
  }
  // Without the NaN weight only blue is poisoned, and it stays 0 while the
  // other channels keep following their targets.
  bars.weights = {1, 0, 1, 0, 0, 0, 1, 0};
  for (VariantSet s : Sets()) {
    const std::vector<uint32_t> out = PaintBars(s, bars);
    const uint32_t expected[4] = {Px(128, 128, 0, 0), Px(191, 191, 0, 0), Px(96, 96, 0, 0), Px(175, 175, 0, 0)};
    for (int c = 0; c < 4; ++c) EXPECT_EQ(ColumnColor(out, bars, c), expected[c]) << SetName(s) << " col " << c;
  }
}

}  // namespace
}  // namespace Orovox::Test
