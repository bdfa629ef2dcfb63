// A PNG written row by row as the rows arrive: 8-bit RGB, each row given the
// filter that suits it, or palette indices left unfiltered; the compression
// spread over several threads. Each
// piece of the image is deflated on its own, primed with the 32 KiB before
// it, and the pieces end byte-aligned so that their streams join into one.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "row_sink.h"

namespace rastrel {

// PNG's Paeth predictor: the neighbour nearest to left + up - up_left,
// preferring left, then up; written without branches so that the loops over
// a row vectorise.
inline int PaethPredictor(int left, int up, int up_left) {
  const int to_left = std::abs(up - up_left), to_up = std::abs(left - up_left);
  const int to_corner = std::abs(left + up - 2 * up_left);
  const int nearer_up = to_up <= to_corner ? up : up_left;
  return to_left <= to_up && to_left <= to_corner ? left : nearer_up;
}

// What PNG filter `type` (0 none, 1 sub, 2 up, 3 average, 4 Paeth) predicts
// a byte to be from the byte to its left, the one above and the one above that.
inline int PngPrediction(int type, int left, int up, int up_left) {
  switch (type) {
    case 1: return left;
    case 2: return up;
    case 3: return (left + up) / 2;
    case 4: return PaethPredictor(left, up, up_left);
    default: return 0;
  }
}

class PngStream : public RowSink {
 public:
  // Takes the file's bytes in order; raises to stop.
  using Sink = std::function<void(std::string_view bytes)>;

  PngStream(std::uint32_t width, std::uint32_t height, int level, unsigned jobs, Sink sink);
  // A palette image: `palette` holds RGB triples; each row's indices are
  // packed `bit_depth` (1, 2, 4 or 8) bits each, the first in the high bits.
  PngStream(std::uint32_t width, std::uint32_t height, int bit_depth, std::string_view palette, int level,
            unsigned jobs, Sink sink);
  // The next `rows` rows from the top, RowBytes() each.
  void AddRows(const unsigned char* rows_bytes, std::size_t rows) override;
  std::size_t RowBytes() const { return row_bytes_; }
  // Gives every RGB row filter `type` instead of the one that suits it best:
  // faster, for a file read back soon.
  void UseFilter(int type) { fixed_filter_ = type; }
  // Writes the end of the file once the last row has been added.
  void Finish() override;

 private:
  void WriteHeader(std::uint32_t width, int bit_depth, int colour_type);
  void WriteChunk(std::string_view type, std::string_view data);
  void Filter(const unsigned char* rgb, std::size_t rows, std::string& filtered) const;
  std::string Deflate(std::string_view piece, std::string_view dictionary, bool last) const;

  std::size_t row_bytes_;
  bool palette_ = false;
  int fixed_filter_ = -1;
  std::uint32_t height_;
  int level_;
  unsigned jobs_;
  Sink sink_;
  std::uint32_t rows_added_ = 0;
  std::vector<unsigned char> previous_row_;  // the last row added, unfiltered
  std::string window_;                       // the last 32 KiB of the filtered stream
  unsigned long adler_ = 1;
  bool header_sent_ = false;
};

}  // namespace rastrel
