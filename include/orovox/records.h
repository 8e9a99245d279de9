// Records that cross the boundary between the library and its host.
//
// The host lays these out and passes them by pointer, so their sizes and
// every field offset are part of the binary interface and are checked below.
// They hold data only; the behaviour lives inside the library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Orovox {

// Allocator labels of a NativeArray.
enum AllocatorLabel : int32_t {
  kAllocatorInvalid = 0,  // never allocated through a valid allocator
  kAllocatorNone = 1,     // memory not owned by the array
  kAllocatorTemp = 2,     // the library's temporary allocations
};

// The host's array view: {element pointer, length, allocator label}.
template <typename T>
struct NativeArray {
  T* elements;
  int32_t length;
  int32_t label;
};

// A view of equally spaced elements; stride is in bytes and may be negative.
struct StridedSlice {
  void* elements;
  int32_t stride;
  int32_t length;
};

// Four bytes in memory order red, green, blue, alpha.
struct Rgba32Pixel {
  uint8_t r, g, b, a;
};

// One phoneme colour: red, green, blue and a fourth component that no job reads.
struct ColorEntry {
  float r, g, b, a;
};

enum ComparisonMethod : int32_t {
  Manhattan = 0,
  Euclidean = 1,
  Cosine = 2,
};

struct AnalysisSummary {
  float volume;
  int32_t mainPhonemeIndex;
};

struct LipSyncJob {
  NativeArray<float> samples;
  int32_t writePosition;
  int32_t inputRate;
  int32_t analysisRate;
  int32_t melChannelCount;
  int32_t comparisonMethod;
  int32_t unused;  // never read or written by the job
  NativeArray<float> coefficientMeans;
  NativeArray<float> coefficientDeviations;
  NativeArray<float> phonemeProfiles;
  NativeArray<float> mfccOut;
  NativeArray<float> phonemeScores;
  NativeArray<AnalysisSummary> summary;
};

struct PaintHeatmapJob {
  NativeArray<Rgba32Pixel> pixels;
  NativeArray<float> values;
  int32_t width;
  int32_t height;
  float minValue;
  float maxValue;
};

struct PaintPhonemeBarsJob {
  NativeArray<Rgba32Pixel> pixels;
  NativeArray<ColorEntry> colors;
  NativeArray<float> weights;
  NativeArray<float> levels;
  int32_t width;
  int32_t height;
  int32_t phonemeCount;
  float smoothing;
};

// The three index jobs share one layout; only the width of `offset` differs.
// Bytes after the offset up to byte 8 are padding that no job reads.
struct OffsetIndices16Job {
  int16_t offset;
  StridedSlice source;
  StridedSlice destination;
};

struct WidenIndices16Job {
  int32_t offset;
  StridedSlice source;
  StridedSlice destination;
};

struct OffsetIndices32Job {
  int32_t offset;
  StridedSlice source;
  StridedSlice destination;
};

struct InterleaveVerticesJob {
  StridedSlice stream0, stream1, stream2;
  StridedSlice input0, input1, input2, input3, input4, input5;
};

// --- Layout checks -----------------------------------------------------------
static_assert(sizeof(NativeArray<float>) == 16);
static_assert(offsetof(NativeArray<float>, elements) == 0);
static_assert(offsetof(NativeArray<float>, length) == 8);
static_assert(offsetof(NativeArray<float>, label) == 12);

static_assert(sizeof(StridedSlice) == 16);
static_assert(offsetof(StridedSlice, elements) == 0);
static_assert(offsetof(StridedSlice, stride) == 8);
static_assert(offsetof(StridedSlice, length) == 12);

static_assert(sizeof(Rgba32Pixel) == 4);
static_assert(sizeof(ColorEntry) == 16);

static_assert(sizeof(AnalysisSummary) == 8);
static_assert(offsetof(AnalysisSummary, volume) == 0);
static_assert(offsetof(AnalysisSummary, mainPhonemeIndex) == 4);

static_assert(sizeof(LipSyncJob) == 136);
static_assert(offsetof(LipSyncJob, samples) == 0);
static_assert(offsetof(LipSyncJob, writePosition) == 16);
static_assert(offsetof(LipSyncJob, inputRate) == 20);
static_assert(offsetof(LipSyncJob, analysisRate) == 24);
static_assert(offsetof(LipSyncJob, melChannelCount) == 28);
static_assert(offsetof(LipSyncJob, comparisonMethod) == 32);
static_assert(offsetof(LipSyncJob, coefficientMeans) == 40);
static_assert(offsetof(LipSyncJob, coefficientDeviations) == 56);
static_assert(offsetof(LipSyncJob, phonemeProfiles) == 72);
static_assert(offsetof(LipSyncJob, mfccOut) == 88);
static_assert(offsetof(LipSyncJob, phonemeScores) == 104);
static_assert(offsetof(LipSyncJob, summary) == 120);

static_assert(sizeof(PaintHeatmapJob) == 48);
static_assert(offsetof(PaintHeatmapJob, values) == 16);
static_assert(offsetof(PaintHeatmapJob, width) == 32);
static_assert(offsetof(PaintHeatmapJob, height) == 36);
static_assert(offsetof(PaintHeatmapJob, minValue) == 40);
static_assert(offsetof(PaintHeatmapJob, maxValue) == 44);

static_assert(sizeof(PaintPhonemeBarsJob) == 80);
static_assert(offsetof(PaintPhonemeBarsJob, colors) == 16);
static_assert(offsetof(PaintPhonemeBarsJob, weights) == 32);
static_assert(offsetof(PaintPhonemeBarsJob, levels) == 48);
static_assert(offsetof(PaintPhonemeBarsJob, width) == 64);
static_assert(offsetof(PaintPhonemeBarsJob, height) == 68);
static_assert(offsetof(PaintPhonemeBarsJob, phonemeCount) == 72);
static_assert(offsetof(PaintPhonemeBarsJob, smoothing) == 76);

static_assert(sizeof(OffsetIndices16Job) == 40);
static_assert(offsetof(OffsetIndices16Job, source) == 8);
static_assert(offsetof(OffsetIndices16Job, destination) == 24);
static_assert(sizeof(WidenIndices16Job) == 40);
static_assert(offsetof(WidenIndices16Job, source) == 8);
static_assert(offsetof(WidenIndices16Job, destination) == 24);
static_assert(sizeof(OffsetIndices32Job) == 40);
static_assert(offsetof(OffsetIndices32Job, source) == 8);
static_assert(offsetof(OffsetIndices32Job, destination) == 24);

static_assert(sizeof(InterleaveVerticesJob) == 144);
static_assert(offsetof(InterleaveVerticesJob, input0) == 48);
static_assert(offsetof(InterleaveVerticesJob, input5) == 128);

}  // namespace Orovox
