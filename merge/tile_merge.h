// One tile's image from its layers: PNG tiles decoded to 256 x 256 pixels,
// overlays laid over the base on the encoded values (as web maps stack the
// same layers), and the binary PPM that conv.cmd joins.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace rastrel {

inline constexpr int kTileSide = 256;
inline constexpr std::size_t kTilePixels = std::size_t{kTileSide} * kTileSide;

// Pixels row by row from the top, `channels` bytes each (3: RGB, 4: RGBA).
using Pixels = std::vector<unsigned char>;

// Decodes a PNG of any colour type and depth (16-bit samples keep their high
// byte) into `channels` bytes a pixel. False, with nothing allocated for the
// pixels, for anything but a whole PNG of 256 x 256 pixels: a tile is
// untrusted input, and a header may claim any size.
bool DecodeTilePng(std::string_view png, int channels, Pixels& pixels);

// Lays an RGBA overlay over an RGB image of the same size: each channel
// becomes round((overlay * alpha + under * (255 - alpha)) / 255).
void LayOver(Pixels& rgb, const Pixels& rgba);

// The whole binary PPM file of a 256 x 256 RGB tile.
std::string TilePpm(const Pixels& rgb);

}  // namespace rastrel
