// Orovox for applications: phoneme profiles, real-time analysis, calibration
// and audio input, over the stand-alone host.
//
//   Orovox::Analyzer analyzer(Orovox::Profile::Default(), 48000);
//   analyzer.push(samples, count);           // as audio arrives
//   Orovox::Frame f = analyzer.analyze();    // once per video frame
//   if (f.mainPhoneme >= 0) ... analyzer.profile().names[f.mainPhoneme] ...
//
// Every failure is an Orovox::Error whose message names the bad field, value
// or file. A call that throws leaves its object as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "orovox/records.h"

namespace Orovox {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// --- Profiles ------------------------------------------------------------------------
// K phonemes compared on m cepstral coefficients. The means and deviations
// standardise both the live coefficients and the stored profiles, so they
// belong to the profile: they were measured over the same recordings.
struct Profile {
  std::vector<std::string> names;    // K phoneme labels
  std::vector<ColorEntry> colors;    // K display colours, channels in [0, 1]
  std::vector<float> means;          // m
  std::vector<float> deviations;     // m, all > 0
  std::vector<float> profiles;       // K x m, phoneme p at [p*m, p*m + m)

  // The analysis settings the profile was made with; an Analyzer uses them.
  int32_t analysisRate = 16000;
  int32_t melChannels = 24;
  int32_t mfccCount = 12;
  ComparisonMethod method = Manhattan;

  size_t phonemeCount() const { return names.size(); }

  // Throws Error naming the first field that is wrong.
  void Validate() const;

  static Profile FromJson(const std::string& text);  // parsed and validated
  static Profile Load(const std::string& path);
  std::string ToJson() const;                        // validates first
  void Save(const std::string& path) const;          // temporary file, then rename

  // Five vowels (A, I, U, E, O) calibrated from the bundled recordings.
  static Profile Default();
};

const char* MethodName(ComparisonMethod method);                   // "manhattan", ...
ComparisonMethod MethodFromName(const std::string& name);          // throws Error

// --- Analysis --------------------------------------------------------------------------
struct Frame {
  std::vector<float> mfcc;     // m coefficients
  std::vector<float> weights;  // K shares in [0, 1], summing to 1 unless all 0
  float volume = 0.0f;         // root mean square of the block
  // Index of the best phoneme, or -1 when the block is quieter than the
  // analyzer's silence volume or no phoneme scored at all.
  int32_t mainPhoneme = -1;
};

struct AnalyzerOptions {
  // Samples per analysis frame after down-sampling: a power of two from 64 to
  // 16384; 0 picks the one nearest to 64 ms at the analysis rate.
  int32_t frameLength = 0;
  // Blocks whose volume is below this report no main phoneme.
  float silenceVolume = 0.01f;
};

// The ring of the last blockLength() input samples and the profile to score
// them against. One Analyzer per thread; different Analyzers may run at once.
//
// Rates: the profile's analysis rate A must not exceed the input rate R.
// When R = A the block is analysed as it is; when R is a multiple of A it is
// decimated by R / A; otherwise it is resampled by linear interpolation, and
// the block length is the one whose interpolated length is exactly the frame
// length. In all three cases the frame is a power of two long, so the
// spectrum is a true DFT, and a block lasts frameLength / A seconds.
class Analyzer {
 public:
  Analyzer(Profile profile, int32_t inputRate, AnalyzerOptions options = {});

  // Appends samples (the oldest drop out). All must be finite.
  void push(const float* samples, size_t count);
  void push(const std::vector<float>& samples) { push(samples.data(), samples.size()); }
  // Zeroes the ring.
  void reset();

  // Analyses the ring's current block: the same frame, bit for bit, as
  // analyzeBlock() on those samples, however they were pushed.
  Frame analyze() const;
  // Analyses `block` (blockLength() samples, oldest first) without touching
  // the ring; safe to call from several threads on one Analyzer.
  Frame analyzeBlock(const float* block) const;

  size_t blockLength() const { return ring_.size(); }  // input samples per block
  int32_t frameLength() const { return frameLength_; }
  int32_t inputRate() const { return inputRate_; }
  const Profile& profile() const { return profile_; }
  const AnalyzerOptions& options() const { return options_; }

  // The block length for a rate pair and frame length (throws Error when R < A).
  static size_t BlockLengthFor(int32_t inputRate, int32_t analysisRate, int32_t frameLength);
  static int32_t DefaultFrameLength(int32_t analysisRate);

 private:
  Frame run(float* samples, int32_t writePosition) const;

  Profile profile_;
  AnalyzerOptions options_;
  int32_t inputRate_;
  int32_t frameLength_;
  std::vector<float> ring_;
  size_t write_ = 0;
};

// --- Calibration -----------------------------------------------------------------------
struct CalibratorOptions {
  int32_t analysisRate = 16000;
  int32_t melChannels = 24;
  int32_t mfccCount = 12;
  ComparisonMethod method = Manhattan;
  int32_t frameLength = 0;      // as AnalyzerOptions::frameLength
  float silenceVolume = 0.01f;  // frames below it are not used
  double hopSeconds = 0.01;     // spacing of the frames taken from a recording
};

// Builds a profile from labelled recordings: the MFCC of every voiced frame,
// the mean and deviation of each coefficient over all of them, and each
// phoneme's mean. Phonemes keep the order of their first recording.
class Calibrator {
 public:
  explicit Calibrator(CalibratorOptions options = {});

  // Throws Error (and adds nothing) when the recording has no voiced frame.
  void add(const std::string& phoneme, const std::vector<float>& samples, int32_t rate);
  size_t frameCount(const std::string& phoneme) const;
  Profile build() const;

 private:
  CalibratorOptions options_;
  std::vector<std::string> names_;
  std::vector<std::vector<float>> frames_;  // per phoneme, m floats per frame
};

// --- Audio input -----------------------------------------------------------------------
struct Audio {
  std::vector<float> samples;  // mono
  int32_t rate = 0;
  double seconds() const { return rate > 0 ? static_cast<double>(samples.size()) / rate : 0.0; }
};

// WAV, FLAC, OGG and the other formats libsndfile reads, mixed down to mono.
// Throws Error for a missing or unreadable file, data that is not audio, an
// empty recording, an absurd rate or channel count, or non-finite samples.
Audio ReadAudioFile(const std::string& path);
Audio DecodeAudio(const void* data, size_t size);

enum class PcmFormat { S16LE, F32LE };
PcmFormat PcmFormatFromName(const std::string& name);  // "s16le", "f32le"

// Raw interleaved PCM in arbitrary byte chunks: bytes of an unfinished
// sample frame are kept for the next chunk. Frames are mixed down to mono.
class PcmDecoder {
 public:
  explicit PcmDecoder(PcmFormat format, int32_t channels = 1);
  // Appends the decoded mono samples of every complete frame to `out`.
  void decode(const void* data, size_t size, std::vector<float>& out);
  size_t pendingBytes() const { return pendingSize_; }
  size_t frameBytes() const { return frameBytes_; }

 private:
  PcmFormat format_;
  int32_t channels_;
  size_t frameBytes_;
  unsigned char pending_[256];
  size_t pendingSize_ = 0;
};

}  // namespace Orovox
