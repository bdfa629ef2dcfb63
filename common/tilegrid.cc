#include "tilegrid.h"

#include "textout.h"

namespace rastrel {

TileKey ParseTileKey(std::string_view text) { return ConvertHexInteger(text); }

std::int32_t StepCount(TileRange range) {
  const auto difference =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(range.stop) - static_cast<std::uint32_t>(range.start));
  return difference / kTileSpacing;
}

std::int32_t TileCount(TileRange range) { return StepCount(range) + 1; }

TileKey KeyAt(TileRange range, std::int32_t index) {
  return static_cast<TileKey>(static_cast<std::uint32_t>(range.start) +
                              static_cast<std::uint32_t>(kTileSpacing) * static_cast<std::uint32_t>(index));
}

KeyLabel::KeyLabel(TileKey key) {
  char* end = text_ + sizeof text_;
  end[-3] = end[-2] = end[-1] = '0';
  begin_ = FormatHexDigits(end - 3, static_cast<std::uint32_t>(key), 4, false);
  end_ = end;
}

}  // namespace rastrel
