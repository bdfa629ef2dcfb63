#include "tile_merge.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "platform.h"

// The decoder reads PNG from memory only, and refuses a header larger than
// any tile before it allocates a pixel.
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_MAX_DIMENSIONS 4096
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace rastrel {

bool DecodeTilePng(std::string_view png, int channels, Pixels& pixels) {
  const auto* bytes = reinterpret_cast<const stbi_uc*>(png.data());
  const int length = static_cast<int>(png.size());
  int width = 0, height = 0, stored = 0;
  if (!stbi_info_from_memory(bytes, length, &width, &height, &stored)) return false;
  if (width != kTileSide || height != kTileSide) return false;
  std::unique_ptr<stbi_uc, void (*)(void*)> decoded(
      stbi_load_from_memory(bytes, length, &width, &height, &stored, channels), stbi_image_free);
  if (!decoded || width != kTileSide || height != kTileSide) return false;
  pixels.assign(decoded.get(), decoded.get() + kTileArea * static_cast<std::size_t>(channels));
  return true;
}

void LayOver(Pixels& rgb, const Pixels& rgba) {
  unsigned char* under = rgb.data();
  for (const unsigned char* over = rgba.data(); over != rgba.data() + rgba.size(); over += 4, under += 3) {
    const unsigned alpha = over[3];
    // The formula gives the pixel under at alpha 0 and the overlay's at 255:
    // most of an overlay is one or the other.
    if (alpha == 0) continue;
    if (alpha == 255) {
      std::copy_n(over, 3, under);
      continue;
    }
    for (int channel = 0; channel < 3; ++channel) {
      // 255 is odd, so the exact quotient is never halfway: adding 127 rounds.
      under[channel] = static_cast<unsigned char>((over[channel] * alpha + under[channel] * (255 - alpha) + 127) / 255);
    }
  }
}

Layer LoadLayer(const std::string& name, int channels, Pixels& pixels) {
  // A tile is a few hundred KiB at most; anything much larger is refused
  // unread, so memory stays bounded whatever a server sends.
  constexpr std::size_t kMaxTileFileSize = 16 << 20;
  std::string png;
  const platform::IoStatus status = platform::ReadWholeFile(name, kMaxTileFileSize, png);
  if ((status.named && status.code == 2) || (!status.Failed() && png.empty())) return Layer::kAbsent;
  return !status.Failed() && DecodeTilePng(png, channels, pixels) ? Layer::kLoaded : Layer::kBad;
}

std::string LayerFileName(std::size_t layer, std::string_view tile) {
  return std::string(kLayerFolders[layer]).append("/13_").append(tile);
}

platform::IoStatus WriteWholeFile(const std::string& name, std::string_view bytes, const std::string& temporary) {
  platform::FileHandle file = 0;
  platform::IoStatus status = platform::OpenFile(temporary, platform::OpenMode::kCreate, file);
  if (status.Failed()) return status;
  status = platform::WriteFile(file, bytes.data(), bytes.size());
  const platform::IoStatus closed = platform::CloseFile(file);
  if (!status.Failed()) status = closed;
  if (!status.Failed()) status = platform::RenameFile(temporary, name);
  if (status.Failed()) platform::RemoveFile(temporary);
  return status;
}

Pixels MergeTile(const std::string& folder, const std::string& tile, const MergeNote& note, const LayerSource& load) {
  Pixels image;
  const std::string base = LayerFileName(0, tile);
  if (load(folder + base, 3, image) != Layer::kLoaded) {
    note(base + " is missing or not a 256 x 256 PNG, a white tile stands in");
    image.assign(kTileArea * 3, 255);
  }
  Pixels overlay;
  for (std::size_t layer = 1; layer < std::size(kLayerFolders); ++layer) {
    const std::string name = LayerFileName(layer, tile);
    const Layer loaded = load(folder + name, 4, overlay);
    if (loaded == Layer::kLoaded) LayOver(image, overlay);
    if (loaded == Layer::kBad) note(name + " is not a 256 x 256 PNG, left out");
  }
  return image;
}

std::string TilePpm(const Pixels& rgb) {
  std::string ppm = "P6\n256 256\n255\n";
  ppm.append(reinterpret_cast<const char*>(rgb.data()), rgb.size());
  return ppm;
}

}  // namespace rastrel
