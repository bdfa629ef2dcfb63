// OziExplorer's paged image, OZF2: the image in 64 x 64 tiles of one byte a
// pixel, each deflated on its own, with a palette of 256 colours, stored at
// full size and at smaller zoom levels, so that a reader loads only the tiles
// on its screen. All numbers little-endian:
//   header: 0x7778, 0 (not locked), 64 (tile side), 1 (version), 0x436;
//   40 bytes as in a bitmap's info header (width, height, 1 plane, 8 bits);
//   0x77777777, the number of zoom levels, each level's zoom in percent as
//   a float, 0x77777777;
//   each level: its tiles, then its width, height, tiles across and down,
//   its palette (256 entries of blue, green, red, 0) and the offsets of its
//   tiles (the top row's first, each tile's rows from the bottom) and of the
//   end of the last tile;
//   the offsets of the levels' headers; the offset of that table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "quantize.h"
#include "row_sink.h"

namespace rastrel {

struct ZoomLevel {
  std::uint32_t width, height;
  float percent;
};

// The image at full size; then 25 %, 10 %, 5 %, 2.5 %, 1 % ... as long as
// their longer side is over 300 pixels; then an overview 300 pixels on its
// longer side (the full image again where that is no larger).
std::vector<ZoomLevel> Ozf2Levels(std::uint32_t width, std::uint32_t height);

// Why the image cannot be an OZF2 file: more than 65,535 tiles a side, or
// possibly more than 4 GiB (each tile deflated at its worst); empty if it can.
std::string_view Ozf2Limit(std::uint32_t width, std::uint32_t height);

class Ozf2Writer {
 public:
  // Takes the file's bytes in order; raises to stop.
  using Sink = std::function<void(std::string_view bytes)>;

  // Writes the headers.
  Ozf2Writer(std::vector<ZoomLevel> levels, unsigned jobs, Sink sink);
  ~Ozf2Writer();
  // The sink that takes level `n`'s RGB rows, whose colours become their
  // nearest in `palette` (at most 256 colours); the levels in order, each
  // finished before the next.
  RowSink& Level(std::size_t n, const std::vector<std::uint32_t>& palette);
  // Writes the table of levels once the last is finished.
  void Finish();

 private:
  class LevelWriter;
  void Write(std::string_view bytes);

  std::vector<ZoomLevel> levels_;
  unsigned jobs_;
  Sink sink_;
  std::uint64_t written_ = 0;
  std::vector<std::uint32_t> level_offsets_;
  std::unique_ptr<LevelWriter> level_;
};

}  // namespace rastrel
