// Raw PCM from a pipe, in whatever chunks the pipe delivers. The first byte
// picks the format and channel count (out-of-range counts must be refused
// with Orovox::Error), the second how the rest is cut into chunks. Decoding
// in chunks must give exactly the samples of decoding all at once, and keep
// exactly the bytes of an unfinished frame.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "orovox/orovox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const Orovox::PcmFormat format = (data[0] & 1) ? Orovox::PcmFormat::F32LE : Orovox::PcmFormat::S16LE;
  const int32_t channels = static_cast<int32_t>(data[0] >> 1) - 8;  // -8 .. 119
  const uint8_t cut = data[1];
  data += 2;
  size -= 2;

  auto make = [&](Orovox::PcmDecoder*& out) {
    try {
      out = new Orovox::PcmDecoder(format, channels);
    } catch (const Orovox::Error&) {
      out = nullptr;
    }
  };
  Orovox::PcmDecoder* whole = nullptr;
  make(whole);
  FUZZ_CHECK((whole != nullptr) == (channels >= 1 && channels <= 64), "channels %d accepted: %d", channels,
             whole != nullptr);
  if (whole == nullptr) return 0;
  Orovox::PcmDecoder* pieces = new Orovox::PcmDecoder(format, channels);

  std::vector<float> all, chunked;
  whole->decode(data, size, all);
  // Chunks of 1 to two frames and a bit, in a pattern picked by `cut`.
  size_t at = 0, k = 0;
  while (at < size) {
    size_t n = 1 + (static_cast<size_t>(cut) * (k + 1) * 7919u) % (2u * whole->frameBytes() + 3u);
    if (n > size - at) n = size - at;
    pieces->decode(data + at, n, chunked);
    at += n;
    ++k;
  }
  const size_t frame = whole->frameBytes();
  FUZZ_CHECK(all.size() == size / frame, "%zu samples from %zu bytes", all.size(), size);
  FUZZ_CHECK(whole->pendingBytes() == size % frame && pieces->pendingBytes() == size % frame, "pending %zu/%zu",
             whole->pendingBytes(), pieces->pendingBytes());
  FUZZ_CHECK(chunked.size() == all.size() &&
                 (all.empty() || std::memcmp(all.data(), chunked.data(), all.size() * sizeof(float)) == 0),
             "chunked decoding differs");
  if (format == Orovox::PcmFormat::S16LE)
    for (float s : all) FUZZ_CHECK(s >= -1.0f && s < 1.0f, "s16 sample %g", static_cast<double>(s));
  delete whole;
  delete pieces;
  return 0;
}
