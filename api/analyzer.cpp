// The analyzer: a ring of input samples and the job record around it.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "orovox/host.h"
#include "orovox/orovox.h"

namespace Orovox {
namespace {

constexpr int32_t kMinFrame = 64, kMaxFrame = 16384;
constexpr int32_t kMaxInputRate = 768000;

bool IsPowerOfTwo(int32_t n) { return n > 0 && (n & (n - 1)) == 0; }

void CheckFinite(const float* samples, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (!std::isfinite(samples[i]))
      throw Error("sample " + std::to_string(i) + " is not a finite number (" + std::to_string(samples[i]) + ")");
}

const Host::EntryPoints& Entries() {
  try {
    return Host::Library::Shared().entries();
  } catch (const std::exception& e) {
    throw Error(e.what());
  }
}

}  // namespace

int32_t Analyzer::DefaultFrameLength(int32_t analysisRate) {
  // The power of two nearest (on a log scale) to 64 ms of audio: long enough
  // to hold a few pitch periods, short enough to follow the mouth.
  const double target = analysisRate * 0.064;
  int32_t n = kMinFrame;
  while (n < kMaxFrame && std::fabs(std::log2(2.0 * n / target)) < std::fabs(std::log2(n / target))) n *= 2;
  return n;
}

size_t Analyzer::BlockLengthFor(int32_t inputRate, int32_t analysisRate, int32_t frameLength) {
  if (analysisRate < 1) throw Error("analysis rate must be positive (got " + std::to_string(analysisRate) + ")");
  if (inputRate < analysisRate)
    throw Error("input rate " + std::to_string(inputRate) + " Hz is below the profile's analysis rate " +
                std::to_string(analysisRate) + " Hz");
  if (inputRate > kMaxInputRate)
    throw Error("input rate " + std::to_string(inputRate) + " Hz is above " + std::to_string(kMaxInputRate) + " Hz");
  if (!IsPowerOfTwo(frameLength) || frameLength < kMinFrame || frameLength > kMaxFrame)
    throw Error("frame length must be a power of two from " + std::to_string(kMinFrame) + " to " +
                std::to_string(kMaxFrame) + " (got " + std::to_string(frameLength) + ")");
  const size_t n = static_cast<size_t>(frameLength);
  // The library keeps the block as it is, decimates it, or interpolates it,
  // depending on the two rates; the block length is chosen so that each way
  // ends with exactly frameLength samples.
  if (inputRate == analysisRate) return n;
  if (inputRate % analysisRate == 0) return n * static_cast<size_t>(inputRate / analysisRate);
  // Interpolation keeps rint(L / r) samples, evaluated in single precision as
  // the library does; L / r grows by less than 1 per sample, so one of the
  // lengths around n * r gives exactly n.
  const float r = static_cast<float>(inputRate) / static_cast<float>(analysisRate);
  const long centre = std::lround(static_cast<double>(n) * r);
  const long reach = static_cast<long>(std::ceil(r)) + 2;
  for (long d = 0; d <= reach; ++d) {
    for (long l : {centre - d, centre + d}) {
      if (l < 1) continue;
      if (std::rintf(static_cast<float>(l) / r) == static_cast<float>(n)) return static_cast<size_t>(l);
    }
  }
  throw Error("no block length gives " + std::to_string(n) + " samples at " + std::to_string(inputRate) + " Hz");
}

Analyzer::Analyzer(Profile profile, int32_t inputRate, AnalyzerOptions options)
    : profile_(std::move(profile)), options_(options), inputRate_(inputRate) {
  profile_.Validate();
  if (!(std::isfinite(options_.silenceVolume) && options_.silenceVolume >= 0.0f))
    throw Error("silence volume must be a finite number of at least 0");
  frameLength_ = options_.frameLength == 0 ? DefaultFrameLength(profile_.analysisRate) : options_.frameLength;
  ring_.assign(BlockLengthFor(inputRate, profile_.analysisRate, frameLength_), 0.0f);
  Entries();  // load the library now, so that a missing one shows here
}

void Analyzer::push(const float* samples, size_t count) {
  if (count == 0) return;
  if (samples == nullptr) throw Error("push: null samples");
  CheckFinite(samples, count);
  const size_t n = ring_.size();
  if (count >= n) {
    std::memcpy(ring_.data(), samples + (count - n), n * sizeof(float));
    write_ = 0;
    return;
  }
  const size_t first = count < n - write_ ? count : n - write_;
  std::memcpy(ring_.data() + write_, samples, first * sizeof(float));
  std::memcpy(ring_.data(), samples + first, (count - first) * sizeof(float));
  write_ = (write_ + count) % n;
}

void Analyzer::reset() {
  std::fill(ring_.begin(), ring_.end(), 0.0f);
  write_ = 0;
}

Frame Analyzer::analyze() const {
  // The job could read the ring from write_ on, but it sums the energy in
  // storage order, so the volume's last bits would depend on where the ring
  // happens to wrap. Handing it the block in time order makes a frame depend
  // only on the samples, however they were pushed.
  std::vector<float> block(ring_.size());
  std::copy(ring_.begin() + static_cast<std::ptrdiff_t>(write_), ring_.end(), block.begin());
  std::copy(ring_.begin(), ring_.begin() + static_cast<std::ptrdiff_t>(write_),
            block.begin() + static_cast<std::ptrdiff_t>(ring_.size() - write_));
  return run(block.data(), 0);
}

Frame Analyzer::analyzeBlock(const float* block) const {
  if (block == nullptr) throw Error("analyzeBlock: null block");
  CheckFinite(block, ring_.size());
  // The job only reads the samples; the record's pointer is not const.
  return run(const_cast<float*>(block), 0);
}

Frame Analyzer::run(float* samples, int32_t writePosition) const {
  const int32_t m = profile_.mfccCount;
  const int32_t k = static_cast<int32_t>(profile_.phonemeCount());
  Frame f;
  f.mfcc.assign(static_cast<size_t>(m), 0.0f);
  f.weights.assign(static_cast<size_t>(k), 0.0f);
  AnalysisSummary summary{0.0f, -1};
  auto view = [](const std::vector<float>& v) {
    return NativeArray<float>{const_cast<float*>(v.data()), static_cast<int32_t>(v.size()), kAllocatorNone};
  };

  LipSyncJob job{};
  job.samples = {samples, static_cast<int32_t>(ring_.size()), kAllocatorNone};
  job.writePosition = writePosition;
  job.inputRate = inputRate_;
  job.analysisRate = profile_.analysisRate;
  job.melChannelCount = profile_.melChannels;
  job.comparisonMethod = profile_.method;
  job.coefficientMeans = view(profile_.means);
  job.coefficientDeviations = view(profile_.deviations);
  job.phonemeProfiles = view(profile_.profiles);
  job.mfccOut = {f.mfcc.data(), m, kAllocatorNone};
  job.phonemeScores = {f.weights.data(), k, kAllocatorNone};
  job.summary = {&summary, 1, kAllocatorNone};
  Entries().LipSyncJob(job);

  f.volume = summary.volume;
  // The job names phoneme 0 when every score is 0 (a silent or degenerate
  // block); that is no decision, not the first phoneme.
  bool scored = false;
  for (float w : f.weights) scored = scored || w > 0.0f;
  const bool loud = f.volume >= options_.silenceVolume;
  f.mainPhoneme = (scored && loud && summary.mainPhonemeIndex >= 0 && summary.mainPhonemeIndex < k)
                      ? summary.mainPhonemeIndex
                      : -1;
  return f;
}

}  // namespace Orovox
