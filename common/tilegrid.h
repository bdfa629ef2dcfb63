// Tile keys and the grid two key ranges span. A key is a tile server
// coordinate divided by 1000 hex; neighbouring tiles lie 8 keys apart.
#pragma once

#include <cstdint>
#include <string_view>

namespace rastrel {

using TileKey = std::int32_t;

inline constexpr TileKey kTileSpacing = 8;
inline constexpr int kTilePixels = 256;

// A start and a stop key along one axis.
struct TileRange {
  TileKey start;
  TileKey stop;
};

// Parses the hexadecimal text a user typed for a key (no sign, no blanks, at
// most 8 significant digits); raises EConvertError quoting "$" + text.
TileKey ParseTileKey(std::string_view text);

// (stop - start) div 8, truncating toward zero, in wrapping 32-bit arithmetic.
// The range visits start + 8*i for i = 0 .. StepCount, none when negative.
std::int32_t StepCount(TileRange range);
// StepCount + 1; 0 or negative for a reversed range.
std::int32_t TileCount(TileRange range);
// The key visited at `index`: start + 8*index, wrapping at 32 bits.
TileKey KeyAt(TileRange range, std::int32_t index);

// How a key is written in every generated text: lower-case hexadecimal, at
// least four digits filled with zeros, then "000" (key 7eb1 is 7eb1000, key
// 123 is 0123000). Held in place, so writing one allocates nothing.
class KeyLabel {
 public:
  explicit KeyLabel(TileKey key);
  std::string_view View() const { return std::string_view(begin_, end_ - begin_); }
  operator std::string_view() const { return View(); }

 private:
  char text_[12];
  const char* begin_;
  const char* end_;
};

}  // namespace rastrel
