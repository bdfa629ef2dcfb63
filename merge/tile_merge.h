// One tile's image from its layers: PNG tiles decoded to 256 x 256 pixels,
// overlays laid over the base on the encoded values (as web maps stack the
// same layers), and the binary PPM that conv.cmd joins.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"

namespace rastrel {

inline constexpr int kTileSide = 256;
inline constexpr std::size_t kTileArea = std::size_t{kTileSide} * kTileSide;

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

// What a tile folder holds for one layer of one tile.
enum class Layer { kLoaded, kAbsent, kBad };

// Reads and decodes the layer file `name`. A missing or empty file is absent:
// servers have no tile where there is nothing to draw.
Layer LoadLayer(const std::string& name, int channels, Pixels& pixels);

// The layer folders under a tile folder, base first.
inline constexpr std::string_view kLayerFolders[] = {"tiles_map", "tiles_cyk", "tiles_tur"};

// A layer's file of the tile X_Y, below its tile folder.
std::string LayerFileName(std::size_t layer, std::string_view tile);

// Writes `bytes` under the name `temporary` and renames it to `name`, so the
// file is whole or absent; the temporary file is removed after a failure.
platform::IoStatus WriteWholeFile(const std::string& name, std::string_view bytes, const std::string& temporary);

// Gets a line about a layer left out or replaced, naming it from its layer folder.
using MergeNote = std::function<void(const std::string& line)>;

// Reads a layer file as LoadLayer does; a caller may have some decoded already.
using LayerSource = std::function<Layer(const std::string& name, int channels, Pixels& pixels)>;

// The tile X_Y from the layer files under `folder` ("" or a path ending in a
// separator): the base, or a white tile where it is missing or unusable, with
// each overlay that decodes laid over it.
Pixels MergeTile(const std::string& folder, const std::string& tile, const MergeNote& note,
                 const LayerSource& load = LoadLayer);

// The whole binary PPM file of a 256 x 256 RGB tile.
std::string TilePpm(const Pixels& rgb);

}  // namespace rastrel
