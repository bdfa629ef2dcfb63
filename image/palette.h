// Maps of at most 256 colours as palette PNGs, a third of the bytes to
// compress or less: the colours are counted while the map is merged, and the
// RGB PNG is then read back row by row and written again with a palette.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform.h"

namespace rastrel {

// The RGB pixel at `rgb` as 0xRRGGBB.
inline std::uint32_t ColourAt(const unsigned char* rgb) {
  return std::uint32_t{rgb[0]} << 16 | std::uint32_t{rgb[1]} << 8 | rgb[2];
}

class ColourCount {
 public:
  static constexpr std::size_t kMostColours = 256;

  // Takes the colours of `pixels` RGB pixels; safe from several threads.
  void Take(const unsigned char* rgb, std::size_t pixels);
  // Whether every colour taken fits a palette.
  bool Fits() const { return !overflowed_; }
  // The colours, ascending as 0xRRGGBB.
  const std::vector<std::uint32_t>& Colours() const { return colours_; }

 private:
  std::mutex mutex_;
  std::vector<std::uint32_t> colours_;
  std::atomic<bool> overflowed_{false};
};

// Writes the 8-bit RGB PNG `from` (as PngStream makes it) again as `to`, with
// the palette of `colours` and the fewest bits an index that hold them.
platform::IoStatus RewriteWithPalette(const std::string& from, const std::string& to,
                                      const std::vector<std::uint32_t>& colours, int level, unsigned jobs);

}  // namespace rastrel
