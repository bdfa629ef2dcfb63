// An image made smaller row by row as the larger one's rows arrive: each of
// its pixels the average of the larger image's pixels it covers, each counted
// by the share of it covered (an area filter), so that thin lines fade
// instead of vanishing. Counted in whole numbers, so the result is the same
// on every machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "row_sink.h"

namespace rastrel {

class AreaShrink : public RowSink {
 public:
  // From RGB rows `from_width` wide, `from_height` high to `width` x `height`
  // (no larger), given to `out` in batches of rows; the sums across rows
  // on up to `jobs` threads.
  AreaShrink(std::uint32_t from_width, std::uint32_t from_height, std::uint32_t width, std::uint32_t height,
             unsigned jobs, RowSink& out);
  void AddRows(const unsigned char* rgb, std::size_t rows) override;
  void Finish() override;

 private:
  void SumAcross(const unsigned char* rgb, std::uint32_t* line) const;
  void SumDown(const std::uint32_t* line);
  void EmitRow();

  // A source pixel is `width_` units wide, a pixel made `from_width_`; each
  // source column gives `first_share_` of itself to `first_` and the rest to
  // the pixel after it. Rows alike, in units of `height_` and `from_height_`.
  std::uint64_t from_width_, from_height_, width_, height_;
  std::vector<std::uint32_t> first_, first_share_;
  unsigned jobs_;
  std::uint64_t rows_in_ = 0, rows_out_ = 0;
  std::vector<std::uint32_t> lines_;               // source rows' sums across, one more pixel each
  std::vector<std::uint64_t> current_, next_;      // the row being made and the one after
  std::vector<unsigned char> made_;                // rows made, not yet given on
  RowSink& out_;
};

}  // namespace rastrel
