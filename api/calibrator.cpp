// Calibration: phoneme profiles from labelled recordings.
#include <algorithm>
#include <cmath>
#include <string>

#include "api/internal.h"
#include "orovox/orovox.h"

namespace Orovox {
namespace {

std::string Calibration(const Error& e) {
  std::string what = e.what();
  if (what.rfind("profile: ", 0) == 0) what = what.substr(9);
  return "calibration: " + what;
}

// A one-phoneme profile with neutral statistics: only the coefficients of
// the analysis are wanted, not its scores.
Profile Probe(const CalibratorOptions& o) {
  const size_t m = o.mfccCount > 0 ? static_cast<size_t>(o.mfccCount) : 0;
  Profile p;
  p.names = {"probe"};
  p.colors = {DefaultPhonemeColor(0)};
  p.means.assign(m, 0.0f);
  p.deviations.assign(m, 1.0f);
  p.profiles.assign(m, 0.0f);
  p.analysisRate = o.analysisRate;
  p.melChannels = o.melChannels;
  p.mfccCount = o.mfccCount;
  p.method = o.method;
  return p;
}

}  // namespace

Calibrator::Calibrator(CalibratorOptions options) : options_(options) {
  try {
    Probe(options_).Validate();
  } catch (const Error& e) {
    throw Error(Calibration(e));
  }
  if (!(options_.hopSeconds > 0.0 && options_.hopSeconds <= 10.0))
    throw Error("calibration: hop must be between 0 and 10 seconds");
  if (!(std::isfinite(options_.silenceVolume) && options_.silenceVolume >= 0.0f))
    throw Error("calibration: silence volume must be a finite number of at least 0");
}

void Calibrator::add(const std::string& phoneme, const std::vector<float>& samples, int32_t rate) {
  {
    // The name must be one a profile can hold.
    Profile check = Probe(options_);
    check.names = {phoneme};
    try {
      check.Validate();
    } catch (const Error& e) {
      std::string what = Calibration(e);
      if (auto at = what.find("names[0]"); at != std::string::npos) what.replace(at, 8, "phoneme name");
      throw Error(what);
    }
  }
  Analyzer analyzer(Probe(options_), rate, {options_.frameLength, options_.silenceVolume});
  const size_t block = analyzer.blockLength();
  const size_t hop = std::max<size_t>(1, static_cast<size_t>(std::lround(options_.hopSeconds * rate)));

  // A recording shorter than one block is analysed once, padded with silence.
  std::vector<float> padded;
  const std::vector<float>* source = &samples;
  if (samples.size() < block) {
    padded = samples;
    padded.resize(block, 0.0f);
    source = &padded;
  }
  std::vector<float> voiced;
  for (size_t start = 0; start + block <= source->size(); start += hop) {
    const Frame f = analyzer.analyzeBlock(source->data() + start);
    if (!(f.volume >= options_.silenceVolume)) continue;
    bool finite = true;
    for (float c : f.mfcc) finite = finite && std::isfinite(c);
    if (finite) voiced.insert(voiced.end(), f.mfcc.begin(), f.mfcc.end());
  }
  if (voiced.empty())
    throw Error("calibration: the recording for '" + phoneme + "' has no voiced frame (volume " +
                std::to_string(options_.silenceVolume) + " or more)");

  size_t p = 0;
  while (p < names_.size() && names_[p] != phoneme) ++p;
  if (p == names_.size()) {
    names_.push_back(phoneme);
    frames_.emplace_back();
  }
  frames_[p].insert(frames_[p].end(), voiced.begin(), voiced.end());
}

size_t Calibrator::frameCount(const std::string& phoneme) const {
  for (size_t p = 0; p < names_.size(); ++p)
    if (names_[p] == phoneme) return frames_[p].size() / static_cast<size_t>(options_.mfccCount);
  return 0;
}

Profile Calibrator::build() const {
  if (names_.empty()) throw Error("calibration: no recordings were added");
  const size_t m = static_cast<size_t>(options_.mfccCount);
  Profile out = Probe(options_);
  out.names = names_;
  out.colors.clear();
  for (size_t p = 0; p < names_.size(); ++p) out.colors.push_back(DefaultPhonemeColor(p));

  // Two passes in double precision: there may be many thousands of frames.
  std::vector<double> mean(m, 0.0), squares(m, 0.0);
  size_t total = 0;
  for (const std::vector<float>& frames : frames_) {
    for (size_t f = 0; f < frames.size(); f += m, ++total)
      for (size_t i = 0; i < m; ++i) mean[i] += frames[f + i];
  }
  for (double& x : mean) x /= static_cast<double>(total);
  for (const std::vector<float>& frames : frames_) {
    for (size_t f = 0; f < frames.size(); f += m)
      for (size_t i = 0; i < m; ++i) squares[i] += (frames[f + i] - mean[i]) * (frames[f + i] - mean[i]);
  }
  out.means.assign(m, 0.0f);
  out.deviations.assign(m, 0.0f);
  for (size_t i = 0; i < m; ++i) {
    out.means[i] = static_cast<float>(mean[i]);
    out.deviations[i] = static_cast<float>(std::sqrt(squares[i] / static_cast<double>(total)));
    if (!(out.deviations[i] > 0.0f))
      throw Error("calibration: coefficient " + std::to_string(i + 1) +
                  " does not vary over the recordings; record more, or more varied, audio");
  }
  out.profiles.assign(names_.size() * m, 0.0f);
  for (size_t p = 0; p < names_.size(); ++p) {
    const std::vector<float>& frames = frames_[p];
    const size_t count = frames.size() / m;
    for (size_t i = 0; i < m; ++i) {
      double s = 0.0;
      for (size_t f = 0; f < count; ++f) s += frames[f * m + i];
      out.profiles[p * m + i] = static_cast<float>(s / static_cast<double>(count));
    }
  }
  out.Validate();
  return out;
}

}  // namespace Orovox
