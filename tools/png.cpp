#include "tools/png.h"

#include <cstring>

#include <png.h>

#include "orovox/orovox.h"

namespace Orovox {

std::string EncodePng(const std::vector<Rgba32Pixel>& pixels, int32_t width, int32_t height) {
  if (width < 1 || height < 1 || pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height))
    throw Error("picture: bad size " + std::to_string(width) + " x " + std::to_string(height));
  // Rgba32Pixel is four bytes in memory order R, G, B, A: PNG's RGBA layout.
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr))
    throw Error(std::string("picture: ") + image.message);
  std::string bytes(size, '\0');
  if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, pixels.data(), 0, nullptr))
    throw Error(std::string("picture: ") + image.message);
  bytes.resize(size);
  return bytes;
}

}  // namespace Orovox
