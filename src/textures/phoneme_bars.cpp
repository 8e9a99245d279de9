#include <cstdint>

#include "textures/rgba32.h"
#include "textures/texture_jobs.h"

namespace Orovox::OROVOX_SET {

void PaintPhonemeBarsJob::Execute() const {
  if (width <= 0 || height <= 0) return;
  const float half = static_cast<float>(height) * 0.5f;
  // A colour count of 0 leaves no valid colour for any phoneme (the index
  // would be taken modulo 0), so such a call blends nothing: every target is
  // black and neither colours nor weights are read.
  const uint32_t colorCount = static_cast<uint32_t>(colors.length);
  const bool blends = phonemeCount > 0 && colorCount != 0;

  float runningR = 0.0f, runningG = 0.0f, runningB = 0.0f;
  for (int32_t c = 0; c < width; ++c) {
    float targetR = 0.0f, targetG = 0.0f, targetB = 0.0f;
    if (blends) {
      const float* columnWeights = weights.elements + c * phonemeCount;
      for (int32_t j = 0; j < phonemeCount; ++j) {
        const float w = columnWeights[j];
        const ColorEntry& color = colors.elements[static_cast<uint32_t>(j) % colorCount];
        targetR = targetR + w * color.r;
        targetG = targetG + w * color.g;
        targetB = targetB + w * color.b;
      }
    }
    runningR = runningR + (targetR - runningR) * smoothing;
    runningG = runningG + (targetG - runningG) * smoothing;
    runningB = runningB + (targetB - runningB) * smoothing;

    const uint32_t rgb = Rgba32::Pack(Rgba32::ChannelToByte(runningR), Rgba32::ChannelToByte(runningG),
                                      Rgba32::ChannelToByte(runningB), 0u);
    const uint32_t opaque = rgb | 0xFF000000u;
    const float level = levels.elements[c];
    Rgba32Pixel* pixel = pixels.elements + c;
    for (int32_t r = 0; r < height; ++r, pixel += width) {
      const float d = (static_cast<float>(r) - half) / half;
      // A NaN level fails the test and stays opaque.
      Rgba32::Store(pixel, level < d * d ? rgb : opaque);
    }
  }
}

}  // namespace Orovox::OROVOX_SET
