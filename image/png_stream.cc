#include "png_stream.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "parallel.h"

namespace rastrel {

namespace {

constexpr std::size_t kWindow = 32768;
constexpr std::size_t kPixelBytes = 3;

void AppendBigEndian(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

unsigned Magnitude(unsigned char filtered) { return filtered < 128 ? filtered : 256u - filtered; }

// Filters a row into `out`, or with `out` null only sums the filtered bytes
// read as signed, by magnitude: the usual guess at which filter compresses a
// row best. The first pixel has nothing to its left.
template <int type>
std::uint64_t FilterRowAs(const unsigned char* row, const unsigned char* above, std::size_t size, unsigned char* out) {
  std::uint64_t cost = 0;
  unsigned char first[kPixelBytes];
  for (std::size_t i = 0; i < kPixelBytes; ++i) {
    first[i] = static_cast<unsigned char>(row[i] - PngPrediction(type, 0, above[i], 0));
    cost += Magnitude(first[i]);
  }
  const unsigned char* left = row;
  const unsigned char* up_left = above;
  if (out == nullptr) {
    std::uint64_t sum = 0;
    for (std::size_t i = kPixelBytes; i < size; ++i) {
      sum += Magnitude(static_cast<unsigned char>(
          row[i] - PngPrediction(type, left[i - kPixelBytes], above[i], up_left[i - kPixelBytes])));
    }
    return cost + sum;
  }
  std::copy_n(first, kPixelBytes, out);
  for (std::size_t i = kPixelBytes; i < size; ++i) {
    out[i] = static_cast<unsigned char>(row[i] - PngPrediction(type, left[i - kPixelBytes], above[i], up_left[i - kPixelBytes]));
  }
  return cost;
}

constexpr std::uint64_t (*kFilters[])(const unsigned char*, const unsigned char*, std::size_t, unsigned char*) = {
    FilterRowAs<0>, FilterRowAs<1>, FilterRowAs<2>, FilterRowAs<3>, FilterRowAs<4>};

}  // namespace

PngStream::PngStream(std::uint32_t width, std::uint32_t height, int level, unsigned jobs, Sink sink)
    : row_bytes_(std::size_t{width} * kPixelBytes),
      height_(height),
      level_(level),
      jobs_(std::max(jobs, 1u)),
      sink_(std::move(sink)),
      previous_row_(row_bytes_, 0) {
  WriteHeader(width, 8, 2);
}

PngStream::PngStream(std::uint32_t width, std::uint32_t height, int bit_depth, std::string_view palette, int level,
                     unsigned jobs, Sink sink)
    : row_bytes_((std::size_t{width} * static_cast<std::size_t>(bit_depth) + 7) / 8),
      palette_(true),
      height_(height),
      level_(level),
      jobs_(std::max(jobs, 1u)),
      sink_(std::move(sink)),
      previous_row_(row_bytes_, 0) {
  WriteHeader(width, bit_depth, 3);
  WriteChunk("PLTE", palette);
}

void PngStream::WriteHeader(std::uint32_t width, int bit_depth, int colour_type) {
  sink_(std::string_view("\x89PNG\r\n\x1a\n", 8));
  std::string header;
  AppendBigEndian(header, width);
  AppendBigEndian(header, height_);
  header += static_cast<char>(bit_depth);
  header += static_cast<char>(colour_type);
  header += std::string_view("\x00\x00\x00", 3);  // deflate, filters, not interlaced
  WriteChunk("IHDR", header);
}

void PngStream::WriteChunk(std::string_view type, std::string_view data) {
  std::string head;
  AppendBigEndian(head, static_cast<std::uint32_t>(data.size()));
  head.append(type);
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), static_cast<uInt>(type.size()));
  // An empty buffer would give the initial value instead.
  if (!data.empty()) crc = crc32_z(crc, reinterpret_cast<const Bytef*>(data.data()), data.size());
  std::string tail;
  AppendBigEndian(tail, static_cast<std::uint32_t>(crc));
  sink_(head);
  sink_(data);
  sink_(tail);
}

void PngStream::Filter(const unsigned char* rgb, std::size_t rows, std::string& filtered) const {
  const std::size_t line = row_bytes_ + 1;
  filtered.resize(rows * line);
  ParallelFor(jobs_, rows, [&](std::size_t r) {
    const unsigned char* row = rgb + r * row_bytes_;
    const unsigned char* above = r == 0 ? previous_row_.data() : row - row_bytes_;
    auto* out = reinterpret_cast<unsigned char*>(filtered.data() + r * line);
    // Palette indices are no quantities to predict: they go unfiltered.
    if (palette_) {
      out[0] = 0;
      std::copy_n(row, row_bytes_, out + 1);
      return;
    }
    int best = fixed_filter_ < 0 ? 0 : fixed_filter_;
    std::uint64_t lowest = UINT64_MAX;
    for (int type = 0; type <= 4 && fixed_filter_ < 0; ++type) {
      const std::uint64_t cost = kFilters[type](row, above, row_bytes_, nullptr);
      if (cost < lowest) lowest = cost, best = type;
    }
    out[0] = static_cast<unsigned char>(best);
    kFilters[best](row, above, row_bytes_, out + 1);
  });
}

std::string PngStream::Deflate(std::string_view piece, std::string_view dictionary, bool last) const {
  z_stream stream = {};
  // Filtered rows are small numbers that favour literals; palette indices are not.
  const int strategy = palette_ ? Z_DEFAULT_STRATEGY : Z_FILTERED;
  if (deflateInit2(&stream, level_, Z_DEFLATED, -15, 8, strategy) != Z_OK) throw std::bad_alloc();
  if (!dictionary.empty()) {
    deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(dictionary.data()),
                         static_cast<uInt>(dictionary.size()));
  }
  std::string out(deflateBound(&stream, piece.size()) + 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
  stream.avail_in = static_cast<uInt>(piece.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  // A sync flush ends the piece on a byte boundary, so the next piece's
  // stream follows it directly.
  deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

void PngStream::AddRows(const unsigned char* rgb, std::size_t rows) {
  std::string filtered;
  Filter(rgb, rows, filtered);
  std::copy(rgb + (rows - 1) * row_bytes_, rgb + rows * row_bytes_, previous_row_.begin());
  rows_added_ += static_cast<std::uint32_t>(rows);
  const bool last = rows_added_ == height_;

  // Pieces of whole rows, at least a window long where the rows allow.
  const std::size_t line = row_bytes_ + 1;
  const std::size_t rows_a_piece = std::max((rows + jobs_ - 1) / jobs_, (kWindow + line - 1) / line);
  const std::size_t pieces = (rows + rows_a_piece - 1) / rows_a_piece;
  std::vector<std::string> deflated(pieces);
  std::vector<unsigned long> adlers(pieces);
  ParallelFor(jobs_, pieces, [&](std::size_t p) {
    const std::size_t begin = p * rows_a_piece * line;
    const std::size_t end = std::min(filtered.size(), begin + rows_a_piece * line);
    const std::string_view piece(filtered.data() + begin, end - begin);
    // Each piece but the first is at least a window long, so the window
    // before a piece is the end of the last call's rows or of the piece before.
    const std::string_view dictionary =
        p == 0 ? std::string_view(window_) : std::string_view(filtered.data() + begin - kWindow, kWindow);
    deflated[p] = Deflate(piece, dictionary, last && p + 1 == pieces);
    adlers[p] = adler32_z(1, reinterpret_cast<const Bytef*>(piece.data()), piece.size());
  });

  std::string data;
  if (!header_sent_) {
    data = std::string_view("\x78\x01", 2);  // deflate, 32 KiB window, no dictionary
    header_sent_ = true;
  }
  for (std::size_t p = 0; p < pieces; ++p) {
    const std::size_t piece_size = std::min(filtered.size() - p * rows_a_piece * line, rows_a_piece * line);
    adler_ = adler32_combine(adler_, adlers[p], static_cast<z_off_t>(piece_size));
    data += deflated[p];
  }
  if (last) AppendBigEndian(data, static_cast<std::uint32_t>(adler_));
  WriteChunk("IDAT", data);

  window_ += filtered.substr(filtered.size() - std::min(filtered.size(), kWindow));
  if (window_.size() > kWindow) window_.erase(0, window_.size() - kWindow);
}

void PngStream::Finish() { WriteChunk("IEND", {}); }

}  // namespace rastrel
