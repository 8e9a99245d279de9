// Audio input: files and memory through libsndfile, raw PCM streams.
#include <cmath>
#include <cstring>

#include <sndfile.h>

#include "api/internal.h"
#include "orovox/orovox.h"

namespace Orovox {
namespace {

// Beyond these a file is damaged or not meant for analysis.
constexpr int kMaxChannels = 64;
constexpr int kMinRate = 1000, kMaxRate = 768000;
constexpr sf_count_t kMaxFrames = sf_count_t{1} << 31;  // more than 12 hours at 48 kHz
constexpr sf_count_t kMaxSamples = sf_count_t{1} << 30;  // frames x channels, 4 GiB of floats

struct Memory {
  const unsigned char* data;
  sf_count_t size;
  sf_count_t position;
};

sf_count_t Length(void* user) { return static_cast<Memory*>(user)->size; }

sf_count_t Seek(sf_count_t offset, int whence, void* user) {
  Memory& m = *static_cast<Memory*>(user);
  sf_count_t base = whence == SEEK_CUR ? m.position : whence == SEEK_END ? m.size : 0;
  const sf_count_t to = base + offset;
  if (to < 0 || to > m.size) return -1;
  m.position = to;
  return m.position;
}

sf_count_t Read(void* out, sf_count_t count, void* user) {
  Memory& m = *static_cast<Memory*>(user);
  const sf_count_t left = m.size - m.position;
  if (count > left) count = left;
  if (count <= 0) return 0;
  std::memcpy(out, m.data + m.position, static_cast<size_t>(count));
  m.position += count;
  return count;
}

sf_count_t Write(const void*, sf_count_t, void*) { return 0; }
sf_count_t Tell(void* user) { return static_cast<Memory*>(user)->position; }

Audio Decode(const void* data, size_t size) {
  if (size == 0) throw Error("the file is empty");
  Memory memory{static_cast<const unsigned char*>(data), static_cast<sf_count_t>(size), 0};
  SF_VIRTUAL_IO io{Length, Seek, Read, Write, Tell};
  SF_INFO info;
  std::memset(&info, 0, sizeof info);
  SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &memory);
  if (file == nullptr) throw Error(std::string("not an audio file libsndfile can read (") + sf_strerror(nullptr) + ")");
  struct Closer {
    SNDFILE* f;
    ~Closer() { sf_close(f); }
  } closer{file};

  if (info.channels < 1 || info.channels > kMaxChannels)
    throw Error("unsupported channel count " + std::to_string(info.channels));
  if (info.samplerate < kMinRate || info.samplerate > kMaxRate)
    throw Error("unsupported sample rate " + std::to_string(info.samplerate) + " Hz");
  if (info.frames <= 0) throw Error("the recording is empty (no samples)");
  if (info.frames > kMaxFrames || info.frames * info.channels > kMaxSamples)
    throw Error("the recording is too long (" + std::to_string(info.frames) + " frames)");

  // Integer formats come back scaled to [-1, 1]; float formats as stored.
  // Decoded a block at a time: the header's frame count is only a claim, and
  // a damaged file must not make us allocate for it before a sample arrives.
  const size_t channels = static_cast<size_t>(info.channels);
  constexpr sf_count_t kBlockFrames = 4096;
  std::vector<float> interleaved(static_cast<size_t>(kBlockFrames) * channels);
  Audio audio;
  audio.rate = info.samplerate;
  for (sf_count_t left = info.frames; left > 0;) {
    const sf_count_t got = sf_readf_float(file, interleaved.data(), left < kBlockFrames ? left : kBlockFrames);
    if (got <= 0) break;
    for (size_t f = 0; f < static_cast<size_t>(got); ++f) {
      float sum = 0.0f;
      for (size_t c = 0; c < channels; ++c) sum += interleaved[f * channels + c];
      const float mono = channels == 1 ? sum : sum / static_cast<float>(channels);
      if (!std::isfinite(mono))
        throw Error("sample " + std::to_string(audio.samples.size()) + " is not a finite number; the file is damaged");
      audio.samples.push_back(mono);
    }
    left -= got;
  }
  if (audio.samples.empty()) throw Error("the recording is empty (no samples could be decoded)");
  return audio;
}

}  // namespace

Audio DecodeAudio(const void* data, size_t size) {
  if (data == nullptr && size != 0) throw Error("audio: null data");
  try {
    return Decode(data, size);
  } catch (const Error& e) {
    throw Error(std::string("audio: ") + e.what());
  }
}

Audio ReadAudioFile(const std::string& path) {
  const std::string bytes = Files::ReadAll(path);
  try {
    return Decode(bytes.data(), bytes.size());
  } catch (const Error& e) {
    throw Error(path + ": " + e.what());
  }
}

PcmFormat PcmFormatFromName(const std::string& name) {
  if (name == "s16le") return PcmFormat::S16LE;
  if (name == "f32le") return PcmFormat::F32LE;
  throw Error("unknown PCM format '" + name + "' (s16le or f32le)");
}

PcmDecoder::PcmDecoder(PcmFormat format, int32_t channels) : format_(format), channels_(channels) {
  if (format != PcmFormat::S16LE && format != PcmFormat::F32LE) throw Error("unknown PCM format");
  if (channels < 1 || channels > kMaxChannels)
    throw Error("channel count must be 1 to " + std::to_string(kMaxChannels) + " (got " + std::to_string(channels) +
                ")");
  frameBytes_ = static_cast<size_t>(channels) * (format == PcmFormat::S16LE ? 2 : 4);
}

void PcmDecoder::decode(const void* data, size_t size, std::vector<float>& out) {
  if (size == 0) return;
  if (data == nullptr) throw Error("PCM: null data");
  const unsigned char* p = static_cast<const unsigned char*>(data);
  auto sample = [&](const unsigned char* b) -> float {
    if (format_ == PcmFormat::S16LE) {
      const int16_t v = static_cast<int16_t>(static_cast<uint16_t>(b[0] | (b[1] << 8)));
      return static_cast<float>(v) * (1.0f / 32768.0f);
    }
    const uint32_t u = uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
    float v;
    std::memcpy(&v, &u, 4);
    return v;
  };
  const size_t width = format_ == PcmFormat::S16LE ? 2 : 4;
  auto frame = [&](const unsigned char* f) {
    float sum = 0.0f;
    for (int32_t c = 0; c < channels_; ++c) sum += sample(f + static_cast<size_t>(c) * width);
    out.push_back(channels_ == 1 ? sum : sum / static_cast<float>(channels_));
  };
  // Finish the frame left over from the previous chunk first.
  if (pendingSize_ > 0) {
    const size_t need = frameBytes_ - pendingSize_;
    const size_t take = size < need ? size : need;
    std::memcpy(pending_ + pendingSize_, p, take);
    pendingSize_ += take;
    p += take;
    size -= take;
    if (pendingSize_ < frameBytes_) return;
    frame(pending_);
    pendingSize_ = 0;
  }
  for (; size >= frameBytes_; p += frameBytes_, size -= frameBytes_) frame(p);
  std::memcpy(pending_, p, size);
  pendingSize_ = size;
}

}  // namespace Orovox
