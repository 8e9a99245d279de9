// orovox analyze | calibrate | stream
#include "tools/cli.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "api/internal.h"
#include "orovox/host.h"
#include "orovox/orovox.h"
#include "tools/png.h"

namespace Orovox {
namespace {

// A mistake in how the tool was called, as opposed to a failure doing it.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Longest picture side that PNG readers accept without special settings.
constexpr int64_t kMaxPictureSide = 1000000;
constexpr int64_t kMaxFrames = 10000000;

std::string Fixed(double x, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, x);
  return buf;
}

// Six significant digits are enough to read a value; NaN and infinities
// cannot occur in JSON, so they are written as null there.
std::string Number(double x, bool json) {
  if (!std::isfinite(x)) return json ? "null" : (std::isnan(x) ? "nan" : (x > 0 ? "inf" : "-inf"));
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g", x);
  return buf;
}

Profile LoadProfile(const std::string& path) { return path.empty() ? Profile::Default() : Profile::Load(path); }

// --- Analysis of a whole recording --------------------------------------------------------
struct Timeline {
  std::vector<double> times;
  std::vector<Frame> frames;
};

class Progress {
 public:
  Progress(std::ostream& err, bool enabled, int64_t total) : err_(err), enabled_(enabled && total > 0), total_(total) {}
  ~Progress() { Finish(); }
  // Clears the bar, so that the next message starts on a clean line.
  void Finish() {
    if (enabled_ && drawn_) err_ << "\r\033[K" << std::flush;
    drawn_ = false;
  }
  void Show(int64_t done) {
    if (!enabled_) return;
    const int percent = static_cast<int>(100 * done / total_);
    if (percent == last_) return;
    last_ = percent;
    drawn_ = true;
    const int filled = percent * 30 / 100;
    err_ << "\ranalysing [" << std::string(static_cast<size_t>(filled), '#')
         << std::string(static_cast<size_t>(30 - filled), ' ') << "] " << percent << "%" << std::flush;
  }

 private:
  std::ostream& err_;
  bool enabled_;
  int64_t total_;
  int last_ = -1;
  bool drawn_ = false;
};

// Frame i is centred on time i / fps; the block around it is padded with
// silence where it reaches past either end of the recording. Frames are
// independent, so any number of workers gives the same timeline.
Timeline AnalyzeRecording(const Analyzer& analyzer, const Audio& audio, double fps, int jobs, Progress& progress) {
  const int64_t n = static_cast<int64_t>(audio.samples.size());
  const int64_t count = static_cast<int64_t>(std::floor(static_cast<double>(n - 1) * fps / audio.rate)) + 1;
  if (count > kMaxFrames) throw UsageError("the recording is too long for " + Fixed(fps, 3) + " frames per second");
  const int64_t block = static_cast<int64_t>(analyzer.blockLength());
  Timeline t;
  t.times.resize(static_cast<size_t>(count));
  t.frames.resize(static_cast<size_t>(count));

  auto analyzeFrame = [&](int64_t i, std::vector<float>& buffer) {
    const double time = static_cast<double>(i) / fps;
    const int64_t start = std::llround(time * audio.rate) - block / 2;
    for (int64_t j = 0; j < block; ++j) {
      const int64_t s = start + j;
      buffer[static_cast<size_t>(j)] = (s >= 0 && s < n) ? audio.samples[static_cast<size_t>(s)] : 0.0f;
    }
    t.times[static_cast<size_t>(i)] = time;
    t.frames[static_cast<size_t>(i)] = analyzer.analyzeBlock(buffer.data());
  };

  if (jobs <= 1) {
    std::vector<float> buffer(static_cast<size_t>(block));
    for (int64_t i = 0; i < count; ++i) {
      analyzeFrame(i, buffer);
      if ((i & 15) == 15) progress.Show(i + 1);
    }
    progress.Show(count);
    return t;
  }

  // Workers take chunks of frames from a shared counter; an error stops them
  // all and is reported once.
  constexpr int64_t kChunk = 32;
  std::atomic<int64_t> next{0}, done{0};
  std::atomic<bool> failed{false};
  std::mutex errorMutex;
  std::exception_ptr error;
  Host::ThreadPool pool(jobs);
  pool.RunOnAll([&](int32_t worker) {
    try {
      std::vector<float> buffer(static_cast<size_t>(block));
      for (;;) {
        const int64_t first = next.fetch_add(kChunk);
        if (first >= count || failed.load()) break;
        const int64_t last = std::min(count, first + kChunk);
        for (int64_t i = first; i < last; ++i) analyzeFrame(i, buffer);
        const int64_t finished = done.fetch_add(last - first) + (last - first);
        if (worker == 0) progress.Show(finished);
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(errorMutex);
      if (!error) error = std::current_exception();
      failed.store(true);
    }
  });
  if (error) std::rethrow_exception(error);
  progress.Show(count);
  return t;
}

std::vector<std::string> Labels(const Timeline& t, const Profile& profile, const std::string& silence) {
  std::vector<std::string> labels;
  labels.reserve(t.frames.size());
  for (const Frame& f : t.frames)
    labels.push_back(f.mainPhoneme >= 0 ? profile.names[static_cast<size_t>(f.mainPhoneme)] : silence);
  return labels;
}

struct Cue {
  double start, end;
  std::string label;
};

// Runs of one label become one cue, from its first frame's time to the next
// run's first frame (the recording's end for the last).
std::vector<Cue> Cues(const Timeline& t, const std::vector<std::string>& labels, double duration) {
  std::vector<Cue> cues;
  for (size_t i = 0; i < labels.size(); ++i) {
    if (!cues.empty() && cues.back().label == labels[i]) continue;
    if (!cues.empty()) cues.back().end = t.times[i];
    cues.push_back({t.times[i], duration, labels[i]});
  }
  if (!cues.empty() && cues.back().end < cues.back().start) cues.back().end = cues.back().start;
  return cues;
}

std::string FramesCsv(const Timeline& t, const std::vector<std::string>& labels, const Profile& profile) {
  std::string s = "time,volume,phoneme";
  for (const std::string& n : profile.names) s += "," + n;
  s += "\n";
  for (size_t i = 0; i < t.frames.size(); ++i) {
    const Frame& f = t.frames[i];
    s += Fixed(t.times[i], 4) + "," + Number(f.volume, false) + "," + labels[i];
    for (float w : f.weights) s += "," + Fixed(w, 4);
    s += "\n";
  }
  return s;
}

std::string CuesCsv(const std::vector<Cue>& cues) {
  std::string s = "start,end,phoneme\n";
  for (const Cue& c : cues) s += Fixed(c.start, 4) + "," + Fixed(c.end, 4) + "," + c.label + "\n";
  return s;
}

std::string JsonHead(const std::string& file, const Audio& audio, double fps, const Profile& profile,
                     const std::string& silence) {
  std::string s = "{\n  \"file\": " + nlohmann::json(file).dump() + ",\n  \"rate\": " + std::to_string(audio.rate) +
                  ",\n  \"duration\": " + Fixed(audio.seconds(), 4) + ",\n  \"fps\": " + Number(fps, true) +
                  ",\n  \"phonemes\": [";
  for (size_t p = 0; p < profile.names.size(); ++p) s += (p ? ", \"" : "\"") + profile.names[p] + "\"";
  return s + "],\n  \"silence\": \"" + silence + "\",\n";
}

std::string FramesJson(const std::string& head, const Timeline& t, const std::vector<std::string>& labels) {
  std::string s = head + "  \"frames\": [\n";
  for (size_t i = 0; i < t.frames.size(); ++i) {
    const Frame& f = t.frames[i];
    s += "    {\"time\": " + Fixed(t.times[i], 4) + ", \"volume\": " + Number(f.volume, true) + ", \"phoneme\": \"" +
         labels[i] + "\", \"weights\": [";
    for (size_t p = 0; p < f.weights.size(); ++p) s += (p ? ", " : "") + Fixed(f.weights[p], 4);
    s += i + 1 < t.frames.size() ? "]},\n" : "]}\n";
  }
  return s + "  ]\n}\n";
}

std::string CuesJson(const std::string& head, const std::vector<Cue>& cues) {
  std::string s = head + "  \"cues\": [\n";
  for (size_t i = 0; i < cues.size(); ++i)
    s += "    {\"start\": " + Fixed(cues[i].start, 4) + ", \"end\": " + Fixed(cues[i].end, 4) + ", \"phoneme\": \"" +
         cues[i].label + (i + 1 < cues.size() ? "\"},\n" : "\"}\n");
  return s + "  ]\n}\n";
}

void CheckPictureSize(int64_t width, int64_t height) {
  if (width > kMaxPictureSide || width * height > (int64_t{1} << 28))
    throw UsageError("the picture would be " + std::to_string(width) + " x " + std::to_string(height) +
                     " pixels; use a lower --fps");
}

// One column per frame, one band of `rowHeight` rows per coefficient, the
// first coefficient at the bottom; the colour ramp spans the finite values.
std::string Heatmap(const Timeline& t, const Profile& profile, int32_t rowHeight) {
  const int64_t width = static_cast<int64_t>(t.frames.size());
  const int64_t m = profile.mfccCount;
  const int64_t height = m * rowHeight;
  CheckPictureSize(width, height);
  float lo = INFINITY, hi = -INFINITY;
  for (const Frame& f : t.frames)
    for (float c : f.mfcc)
      if (std::isfinite(c)) lo = std::min(lo, c), hi = std::max(hi, c);
  if (!(lo <= hi)) lo = 0.0f, hi = 1.0f;
  if (lo == hi) hi = lo + 1.0f;
  std::vector<float> values(static_cast<size_t>(width * height));
  for (int64_t y = 0; y < height; ++y) {
    const int64_t coefficient = m - 1 - y / rowHeight;
    for (int64_t x = 0; x < width; ++x)
      values[static_cast<size_t>(y * width + x)] = t.frames[static_cast<size_t>(x)].mfcc[static_cast<size_t>(coefficient)];
  }
  std::vector<Rgba32Pixel> pixels(values.size());
  PaintHeatmapJob job{};
  job.pixels = {pixels.data(), static_cast<int32_t>(pixels.size()), kAllocatorNone};
  job.values = {values.data(), static_cast<int32_t>(values.size()), kAllocatorNone};
  job.width = static_cast<int32_t>(width);
  job.height = static_cast<int32_t>(height);
  job.minValue = lo;
  job.maxValue = hi;
  Host::Library::Shared().entries().PaintHeatmapJob(job);
  return EncodePng(pixels, job.width, job.height);
}

// One column per frame, coloured by the phoneme weights; the bar's height
// is proportional to the volume, the loudest frame filling the picture.
std::string Bars(const Timeline& t, const Profile& profile, int32_t height, float smoothing) {
  const int64_t width = static_cast<int64_t>(t.frames.size());
  CheckPictureSize(width, height);
  const size_t k = profile.phonemeCount();
  float loudest = 0.0f;
  for (const Frame& f : t.frames)
    if (std::isfinite(f.volume)) loudest = std::max(loudest, f.volume);
  std::vector<float> weights, levels;
  weights.reserve(static_cast<size_t>(width) * k);
  for (const Frame& f : t.frames) {
    weights.insert(weights.end(), f.weights.begin(), f.weights.end());
    // The job's bar reaches half * sqrt(level) from the centre.
    const float share = loudest > 0.0f && std::isfinite(f.volume) ? f.volume / loudest : 0.0f;
    levels.push_back(share * share);
  }
  std::vector<ColorEntry> colors = profile.colors;
  std::vector<Rgba32Pixel> pixels(static_cast<size_t>(width * height));
  PaintPhonemeBarsJob job{};
  job.pixels = {pixels.data(), static_cast<int32_t>(pixels.size()), kAllocatorNone};
  job.colors = {colors.data(), static_cast<int32_t>(colors.size()), kAllocatorNone};
  job.weights = {weights.data(), static_cast<int32_t>(weights.size()), kAllocatorNone};
  job.levels = {levels.data(), static_cast<int32_t>(levels.size()), kAllocatorNone};
  job.width = static_cast<int32_t>(width);
  job.height = height;
  job.phonemeCount = static_cast<int32_t>(k);
  job.smoothing = smoothing;
  Host::Library::Shared().entries().PaintPhonemeBarsJob(job);
  return EncodePng(pixels, job.width, job.height);
}

// Everything is produced before anything is written, and every file goes
// to a temporary first, so a failure leaves no output behind.
void WriteOutputs(const std::vector<std::pair<std::string, std::string>>& files) {
  std::vector<std::unique_ptr<Files::AtomicFile>> open;
  for (const auto& [path, contents] : files) {
    open.push_back(std::make_unique<Files::AtomicFile>(path));
    open.back()->Write(contents.data(), contents.size());
  }
  for (auto& f : open) f->Commit();
}

struct AnalyzeArgs {
  std::string file, profile, output, heatmap, bars, format = "csv", silenceLabel = "rest";
  double fps = 60.0;
  int jobs = 1;
  bool cues = false, noProgress = false;
  float silence = 0.01f, smoothing = 0.5f;
  int32_t barHeight = 64, rowHeight = 8;
};

int Analyze(const AnalyzeArgs& a, std::ostream& out, std::ostream& err) {
  const Profile profile = LoadProfile(a.profile);
  for (const std::string& n : profile.names)
    if (n == a.silenceLabel) throw UsageError("the silence label '" + n + "' is also a phoneme of the profile");
  const Audio audio = ReadAudioFile(a.file);
  std::unique_ptr<Analyzer> analyzer;
  try {
    analyzer = std::make_unique<Analyzer>(profile, audio.rate, AnalyzerOptions{0, a.silence});
  } catch (const Error& e) {
    throw Error(a.file + ": " + e.what());
  }
  const bool terminal = &err == &std::cerr && ::isatty(STDERR_FILENO);
  // Only long recordings get a progress bar; short ones finish at once.
  Progress progress(err, terminal && !a.noProgress && audio.seconds() > 30.0,
                    static_cast<int64_t>(std::floor((audio.samples.size() - 1) * a.fps / audio.rate)) + 1);
  const Timeline t = AnalyzeRecording(*analyzer, audio, a.fps, a.jobs, progress);
  progress.Finish();
  const std::vector<std::string> labels = Labels(t, profile, a.silenceLabel);

  std::string text;
  const bool json = a.format == "json";
  if (a.cues) {
    const std::vector<Cue> cues = Cues(t, labels, audio.seconds());
    text = json ? CuesJson(JsonHead(a.file, audio, a.fps, profile, a.silenceLabel), cues) : CuesCsv(cues);
  } else {
    text = json ? FramesJson(JsonHead(a.file, audio, a.fps, profile, a.silenceLabel), t, labels)
                : FramesCsv(t, labels, profile);
  }
  std::vector<std::pair<std::string, std::string>> files;
  std::string written;
  const std::string columns = std::to_string(t.frames.size());
  if (!a.output.empty()) {
    files.emplace_back(a.output, text);
    written += ", " + a.output + " (" + columns + (a.cues ? " frames as cues)" : " frames)");
  }
  if (!a.heatmap.empty()) {
    files.emplace_back(a.heatmap, Heatmap(t, profile, a.rowHeight));
    written += ", " + a.heatmap + " (" + columns + " x " + std::to_string(profile.mfccCount * a.rowHeight) + ")";
  }
  if (!a.bars.empty()) {
    files.emplace_back(a.bars, Bars(t, profile, a.barHeight, a.smoothing));
    written += ", " + a.bars + " (" + columns + " x " + std::to_string(a.barHeight) + ")";
  }
  WriteOutputs(files);
  if (a.output.empty()) out << text << std::flush;
  if (!written.empty()) err << "orovox: wrote " << written.substr(2) << "\n";
  return 0;
}

// --- Calibration -----------------------------------------------------------------------------
struct CalibrateArgs {
  std::vector<std::string> recordings;
  std::string output, method = "manhattan";
  CalibratorOptions options;
};

int Calibrate(const CalibrateArgs& a, std::ostream& out, std::ostream& err) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const std::string& r : a.recordings) {
    const size_t eq = r.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == r.size())
      throw UsageError("calibrate: '" + r + "' is not PHONEME=FILE");
    pairs.emplace_back(r.substr(0, eq), r.substr(eq + 1));
  }
  CalibratorOptions options = a.options;
  options.method = MethodFromName(a.method);
  Calibrator calibrator(options);
  for (const auto& [phoneme, file] : pairs) {
    const Audio audio = ReadAudioFile(file);
    try {
      calibrator.add(phoneme, audio.samples, audio.rate);
    } catch (const Error& e) {
      throw Error(file + ": " + e.what());
    }
  }
  const Profile profile = calibrator.build();
  if (a.output.empty()) {
    out << profile.ToJson() << std::flush;
  } else {
    profile.Save(a.output);
    size_t frames = 0;
    for (const std::string& n : profile.names) frames += calibrator.frameCount(n);
    err << "orovox: " << profile.phonemeCount() << " phonemes from " << frames << " voiced frames written to "
        << a.output << "\n";
  }
  return 0;
}

// --- Live stream -----------------------------------------------------------------------------
struct StreamArgs {
  int32_t rate = 0, channels = 1;
  std::string format = "s16le", profile, silenceLabel = "rest";
  double fps = 60.0;
  float silence = 0.01f;
};

int Stream(const StreamArgs& a, std::istream& in, std::ostream& out, std::ostream& err) {
  const Profile profile = LoadProfile(a.profile);
  std::unique_ptr<Analyzer> made;
  try {
    made = std::make_unique<Analyzer>(profile, a.rate, AnalyzerOptions{0, a.silence});
  } catch (const Error& e) {
    throw UsageError(std::string("--rate: ") + e.what());
  }
  Analyzer& analyzer = *made;
  PcmDecoder decoder(PcmFormatFromName(a.format), a.channels);
  const size_t hop = std::max<size_t>(1, static_cast<size_t>(std::llround(a.rate / a.fps)));
  const double hopMs = 1000.0 * static_cast<double>(hop) / a.rate;
  const double blockMs = 1000.0 * static_cast<double>(analyzer.blockLength()) / a.rate;
  // A line is written once its hop is complete; it describes the block that
  // ends there, whose centre lies half a block back.
  err << "orovox stream: " << a.rate << " Hz " << a.format << ", " << a.channels << " channel(s); a line every "
      << Fixed(hopMs, 1) << " ms, each over the last " << Fixed(blockMs, 1) << " ms; latency "
      << Fixed(blockMs / 2, 1) << " to " << Fixed(blockMs / 2 + hopMs, 1) << " ms" << std::endl;

  out << "time,volume,phoneme";
  for (const std::string& n : profile.names) out << "," << n;
  out << std::endl;

  // Reading exactly one hop of bytes returns as soon as that hop has arrived.
  std::vector<char> bytes(hop * decoder.frameBytes());
  std::vector<float> samples;
  size_t sinceLine = 0;
  uint64_t total = 0;
  while (in) {
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size() - decoder.pendingBytes()));
    const size_t got = static_cast<size_t>(in.gcount());
    if (got == 0) break;
    samples.clear();
    decoder.decode(bytes.data(), got, samples);
    size_t at = 0;
    while (at < samples.size()) {
      const size_t take = std::min(samples.size() - at, hop - sinceLine);
      try {
        analyzer.push(samples.data() + at, take);
      } catch (const Error& e) {
        throw Error(std::string("stream: ") + e.what());
      }
      at += take;
      sinceLine += take;
      total += take;
      if (sinceLine < hop) continue;
      sinceLine = 0;
      const Frame f = analyzer.analyze();
      out << Fixed(static_cast<double>(total) / a.rate, 4) << "," << Number(f.volume, false) << ","
          << (f.mainPhoneme >= 0 ? profile.names[static_cast<size_t>(f.mainPhoneme)] : a.silenceLabel);
      for (float w : f.weights) out << "," << Fixed(w, 4);
      out << std::endl;
    }
  }
  return 0;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
  CLI::App app{"Orovox: lip sync from recordings and live audio.", "orovox"};
  app.require_subcommand(1, 1);
  app.fallthrough(false);

  AnalyzeArgs an;
  CLI::App* analyze = app.add_subcommand("analyze", "Analyse a recording: a phoneme timeline, cues and pictures");
  analyze->add_option("file", an.file, "WAV, FLAC or OGG recording (mixed down to mono)")->required();
  analyze->add_option("--profile", an.profile, "Phoneme profile (JSON); the built-in five vowels by default");
  analyze->add_option("--fps", an.fps, "Frames per second")->capture_default_str()->check(CLI::Range(0.1, 1000.0));
  analyze->add_option("--format", an.format, "Output format")->capture_default_str()->check(CLI::IsMember({"csv", "json"}));
  analyze->add_option("-o,--output", an.output, "Write the timeline to this file instead of standard output");
  analyze->add_flag("--cues", an.cues, "Merge runs of one phoneme into timed cues");
  analyze->add_option("--jobs", an.jobs, "Worker threads")->capture_default_str()->check(CLI::Range(1, 64));
  analyze->add_option("--heatmap", an.heatmap, "Paint the MFCC over time into this PNG");
  analyze->add_option("--bars", an.bars, "Paint the phoneme bars into this PNG");
  analyze->add_option("--silence", an.silence, "Volume (RMS) below which a frame is silent")
      ->capture_default_str()->check(CLI::Range(0.0f, 1.0f));
  analyze->add_option("--silence-label", an.silenceLabel, "Label of silent frames")->capture_default_str();
  analyze->add_option("--bar-height", an.barHeight, "Height of the bars picture")
      ->capture_default_str()->check(CLI::Range(2, 4096));
  analyze->add_option("--row-height", an.rowHeight, "Rows per coefficient in the heat map")
      ->capture_default_str()->check(CLI::Range(1, 256));
  analyze->add_option("--smoothing", an.smoothing, "How fast the bars' colour follows the weights (0 to 1)")
      ->capture_default_str()->check(CLI::Range(0.0f, 1.0f));
  analyze->add_flag("--no-progress", an.noProgress, "No progress bar, even on a terminal");

  CalibrateArgs ca;
  CLI::App* calibrate = app.add_subcommand("calibrate", "Build a phoneme profile from labelled recordings");
  calibrate->add_option("recordings", ca.recordings, "PHONEME=FILE, one or more per phoneme")->required();
  calibrate->add_option("-o,--output", ca.output, "Write the profile here instead of standard output");
  calibrate->add_option("--method", ca.method, "Comparison method")
      ->capture_default_str()->check(CLI::IsMember({"manhattan", "euclidean", "cosine"}));
  calibrate->add_option("--analysis-rate", ca.options.analysisRate, "Analysis sample rate (Hz)")
      ->capture_default_str()->check(CLI::Range(1000, 384000));
  calibrate->add_option("--mel-channels", ca.options.melChannels, "Mel filter-bank channels")
      ->capture_default_str()->check(CLI::Range(2, 256));
  calibrate->add_option("--mfcc", ca.options.mfccCount, "Cepstral coefficients compared")
      ->capture_default_str()->check(CLI::Range(1, 255));
  calibrate->add_option("--silence", ca.options.silenceVolume, "Volume (RMS) below which a frame is not used")
      ->capture_default_str()->check(CLI::Range(0.0f, 1.0f));

  StreamArgs st;
  CLI::App* stream = app.add_subcommand("stream", "Analyse raw PCM from standard input, one flushed line per hop.\n"
      "Each line covers the last 64 ms; a sound shows in a line 32 ms plus up to one hop later.");
  stream->add_option("--rate", st.rate, "Sample rate of the input (Hz)")->required()->check(CLI::Range(1000, 768000));
  stream->add_option("--format", st.format, "Sample format")->capture_default_str()->check(CLI::IsMember({"s16le", "f32le"}));
  stream->add_option("--channels", st.channels, "Interleaved channels (mixed down)")
      ->capture_default_str()->check(CLI::Range(1, 64));
  stream->add_option("--fps", st.fps, "Lines per second")->capture_default_str()->check(CLI::Range(1.0, 1000.0));
  stream->add_option("--profile", st.profile, "Phoneme profile (JSON); the built-in five vowels by default");
  stream->add_option("--silence", st.silence, "Volume (RMS) below which a frame is silent")
      ->capture_default_str()->check(CLI::Range(0.0f, 1.0f));
  stream->add_option("--silence-label", st.silenceLabel, "Label of silent frames")->capture_default_str();

  if (!args.empty() && !args[0].empty() && args[0][0] != '-' && args[0] != "analyze" && args[0] != "calibrate" &&
      args[0] != "stream") {
    err << "orovox: unknown command '" << args[0] << "': analyze, calibrate or stream (see orovox --help)\n";
    return 2;
  }
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    CLI::App* shown = &app;
    for (CLI::App* sub : app.get_subcommands()) shown = sub;
    out << shown->help();
    return 0;
  } catch (const CLI::ParseError& e) {
    std::string what = e.what();
    if (what.empty() || (app.get_subcommands().empty() && args.empty()))
      what = "a command is required: analyze, calibrate or stream";
    err << "orovox: " << what << " (see orovox --help)\n";
    return 2;
  }
  // CLI11's range checks let NaN through (every comparison with it is false).
  const std::pair<const char*, double> ranged[] = {{"--fps", an.fps},           {"--fps", st.fps},
                                                   {"--silence", an.silence},   {"--silence", st.silence},
                                                   {"--smoothing", an.smoothing}, {"--silence", ca.options.silenceVolume}};
  for (const auto& [name, value] : ranged) {
    if (std::isnan(value)) {
      err << "orovox: " << name << ": NaN is not a number (see orovox --help)\n";
      return 2;
    }
  }

  try {
    if (analyze->parsed()) return Analyze(an, out, err);
    if (calibrate->parsed()) return Calibrate(ca, out, err);
    return Stream(st, in, out, err);
  } catch (const UsageError& e) {
    err << "orovox: " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    err << "orovox: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace Orovox
