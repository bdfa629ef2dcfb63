#include "area_shrink.h"

#include <algorithm>

#include "parallel.h"

namespace rastrel {

namespace {

constexpr std::size_t kBatchRows = 64;
// Source rows summed across at once, on several threads.
constexpr std::size_t kRowsAtOnce = 64;

}  // namespace

AreaShrink::AreaShrink(std::uint32_t from_width, std::uint32_t from_height, std::uint32_t width,
                       std::uint32_t height, unsigned jobs, RowSink& out)
    : from_width_(from_width),
      from_height_(from_height),
      width_(width),
      height_(height),
      first_(from_width),
      first_share_(from_width),
      jobs_(jobs),
      lines_(kRowsAtOnce * (std::size_t{width} * 3 + 3)),
      current_(std::size_t{width} * 3),
      next_(std::size_t{width} * 3),
      out_(out) {
  for (std::uint64_t x = 0; x < from_width_; ++x) {
    // The source column spans [x, x + 1) * width_; made pixel X spans [X, X + 1) * from_width_.
    const std::uint64_t start = x * width_, target = start / from_width_;
    first_[x] = static_cast<std::uint32_t>(target);
    first_share_[x] = static_cast<std::uint32_t>(std::min(width_, (target + 1) * from_width_ - start));
  }
}

void AreaShrink::AddRows(const unsigned char* rgb, std::size_t rows) {
  const std::size_t line = width_ * 3 + 3;
  for (std::size_t done = 0; done < rows; done += kRowsAtOnce) {
    const std::size_t now = std::min(kRowsAtOnce, rows - done);
    ParallelFor(jobs_, now, [&](std::size_t row) {
      SumAcross(rgb + (done + row) * from_width_ * 3, lines_.data() + row * line);
    });
    for (std::size_t row = 0; row < now; ++row) SumDown(lines_.data() + row * line);
  }
}

void AreaShrink::SumAcross(const unsigned char* rgb, std::uint32_t* line) const {
  std::fill(line, line + width_ * 3 + 3, 0);
  for (std::uint64_t x = 0; x < from_width_; ++x, rgb += 3) {
    std::uint32_t* first = line + std::size_t{first_[x]} * 3;
    const std::uint32_t share = first_share_[x], rest = static_cast<std::uint32_t>(width_) - share;
    for (int c = 0; c < 3; ++c) {
      first[c] += share * rgb[c];
      first[c + 3] += rest * rgb[c];  // the row's last pixel has no rest: a line holds one pixel more
    }
  }
}

void AreaShrink::SumDown(const std::uint32_t* line) {
  // The source row spans [y, y + 1) * height_; the row being made ends at (Y + 1) * from_height_.
  const std::uint64_t start = rows_in_ * height_, end = (rows_out_ + 1) * from_height_;
  const std::uint64_t share = std::min(height_, end - start), rest = height_ - share;
  for (std::size_t i = 0; i < current_.size(); ++i) {
    current_[i] += share * line[i];
    next_[i] += rest * line[i];
  }
  ++rows_in_;
  if (rows_in_ * height_ >= end) EmitRow();
}

void AreaShrink::EmitRow() {
  const std::uint64_t area = from_width_ * from_height_;
  for (std::uint64_t sum : current_) made_.push_back(static_cast<unsigned char>((sum + area / 2) / area));
  std::swap(current_, next_);
  std::fill(next_.begin(), next_.end(), 0);
  if (++rows_out_ % kBatchRows == 0 || rows_out_ == height_) {
    out_.AddRows(made_.data(), made_.size() / (width_ * 3));
    made_.clear();
  }
}

void AreaShrink::Finish() { out_.Finish(); }

}  // namespace rastrel
