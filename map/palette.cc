#include "palette.h"

#include <zlib.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "png_stream.h"

namespace rastrel {

namespace {

std::uint32_t ColourAt(const unsigned char* rgb) {
  return std::uint32_t{rgb[0]} << 16 | std::uint32_t{rgb[1]} << 8 | rgb[2];
}

std::uint32_t BigEndian(const unsigned char* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 | bytes[3];
}

int BitDepthFor(std::size_t colours) { return colours <= 2 ? 1 : colours <= 4 ? 2 : colours <= 16 ? 4 : 8; }

// Reverses a PNG filter on one row of 8-bit RGB.
void Unfilter(int type, unsigned char* row, const unsigned char* above, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    const int left = i >= 3 ? row[i - 3] : 0, up_left = i >= 3 ? above[i - 3] : 0;
    row[i] = static_cast<unsigned char>(row[i] + PngPrediction(type, left, above[i], up_left));
  }
}

// Reads the RGB PNG back, a row at a time, into the palette PNG.
class Rewriter {
 public:
  Rewriter(const std::vector<std::uint32_t>& colours, std::uint32_t width, std::uint32_t height, int level,
           unsigned jobs, PngStream::Sink sink)
      : colours_(colours),
        width_(width),
        depth_(BitDepthFor(colours.size())),
        line_(std::size_t{width} * 3 + 1),
        row_(line_, 0),
        previous_(line_, 0),
        out_(width, height, depth_, Table(colours), level, jobs, std::move(sink)) {
    if (inflateInit(&stream_) != Z_OK) throw std::bad_alloc();
  }
  ~Rewriter() { inflateEnd(&stream_); }

  // Takes the next bytes of the image's zlib stream.
  void Take(const unsigned char* data, std::size_t size) {
    stream_.next_in = const_cast<unsigned char*>(data);
    stream_.avail_in = static_cast<uInt>(size);
    while (stream_.avail_in != 0) {
      stream_.next_out = row_.data() + filled_;
      stream_.avail_out = static_cast<uInt>(line_ - filled_);
      const int result = inflate(&stream_, Z_NO_FLUSH);
      if (result != Z_OK && result != Z_STREAM_END) throw std::runtime_error("the PNG's image data is broken");
      filled_ = line_ - stream_.avail_out;
      if (filled_ == line_) RowDone();
      if (result == Z_STREAM_END) break;
    }
  }

  void Finish() {
    if (!indices_.empty()) out_.AddRows(indices_.data(), indices_.size() / out_.RowBytes());
    out_.Finish();
  }

 private:
  static std::string Table(const std::vector<std::uint32_t>& colours) {
    std::string table;
    for (std::uint32_t colour : colours) {
      table += {static_cast<char>(colour >> 16), static_cast<char>(colour >> 8 & 0xFF), static_cast<char>(colour & 0xFF)};
    }
    return table;
  }

  void RowDone() {
    Unfilter(row_[0], row_.data() + 1, previous_.data() + 1, line_ - 1);
    std::swap(row_, previous_);
    filled_ = 0;
    const std::size_t start = indices_.size();
    indices_.resize(start + out_.RowBytes(), 0);
    std::uint32_t last_colour = 0xFFFFFFFF;
    unsigned index = 0;
    for (std::uint32_t x = 0; x < width_; ++x) {
      const std::uint32_t colour = ColourAt(previous_.data() + 1 + 3 * std::size_t{x});
      if (colour != last_colour) {
        last_colour = colour;
        index = static_cast<unsigned>(std::lower_bound(colours_.begin(), colours_.end(), colour) - colours_.begin());
      }
      const std::size_t bit = std::size_t{x} * static_cast<std::size_t>(depth_);
      indices_[start + bit / 8] |= static_cast<unsigned char>(index << (8 - depth_ - bit % 8));
    }
    // Rows go to the compression a batch at a time, so its threads have work.
    if (indices_.size() >= std::size_t{256} * out_.RowBytes()) {
      out_.AddRows(indices_.data(), indices_.size() / out_.RowBytes());
      indices_.clear();
    }
  }

  const std::vector<std::uint32_t>& colours_;
  std::uint32_t width_;
  int depth_;
  std::size_t line_, filled_ = 0;
  std::vector<unsigned char> row_, previous_, indices_;
  z_stream stream_ = {};
  PngStream out_;
};

}  // namespace

void ColourCount::Take(const unsigned char* rgb, std::size_t pixels) {
  if (overflowed_) return;
  // The colours seen, in an open-addressed table twice the palette's size.
  constexpr std::uint32_t kEmpty = 0xFFFFFFFF;
  std::vector<std::uint32_t> table(2 * kMostColours, kEmpty);
  std::size_t seen = 0;
  std::uint32_t last = kEmpty;
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint32_t colour = ColourAt(rgb + 3 * i);
    if (colour == last) continue;
    last = colour;
    std::size_t slot = (colour * 2654435761u) >> 23;
    while (table[slot] != kEmpty && table[slot] != colour) slot = (slot + 1) % table.size();
    if (table[slot] == colour) continue;
    if (++seen > kMostColours) {
      overflowed_ = true;
      return;
    }
    table[slot] = colour;
  }
  std::erase(table, kEmpty);
  std::sort(table.begin(), table.end());
  std::lock_guard lock(mutex_);
  std::vector<std::uint32_t> all;
  std::set_union(colours_.begin(), colours_.end(), table.begin(), table.end(), std::back_inserter(all));
  if (all.size() > kMostColours) overflowed_ = true;
  colours_ = std::move(all);
}

namespace {

// A file read in pieces; a failure or a file that ends early stops the rewrite.
class PieceReader {
 public:
  explicit PieceReader(platform::FileHandle file) : file_(file) {}

  const unsigned char* Read(std::size_t size) {
    buffer_.resize(size);
    for (std::size_t got = 0; got < size;) {
      std::size_t count = 0;
      const platform::IoStatus status =
          platform::ReadFile(file_, reinterpret_cast<char*>(buffer_.data()) + got, size - got, count);
      if (status.Failed()) throw status;
      if (count == 0) throw platform::IoStatus::System(-1);
      got += count;
    }
    return buffer_.data();
  }

 private:
  platform::FileHandle file_;
  std::vector<unsigned char> buffer_;
};

void Rewrite(platform::FileHandle in, const std::vector<std::uint32_t>& colours, int level, unsigned jobs,
             const PngStream::Sink& sink) {
  PieceReader reader(in);
  reader.Read(8);
  std::unique_ptr<Rewriter> rewriter;
  for (;;) {
    const unsigned char* head = reader.Read(8);
    const std::uint32_t length = BigEndian(head);
    const std::string type(reinterpret_cast<const char*>(head) + 4, 4);
    if (type == "IHDR") {
      const unsigned char* header = reader.Read(length);
      rewriter = std::make_unique<Rewriter>(colours, BigEndian(header), BigEndian(header + 4), level, jobs, sink);
    }
    for (std::uint32_t left = type == "IHDR" ? 0 : length; left != 0;) {
      const std::uint32_t piece = std::min<std::uint32_t>(left, 1 << 16);
      const unsigned char* data = reader.Read(piece);
      if (type == "IDAT" && rewriter) rewriter->Take(data, piece);
      left -= piece;
    }
    reader.Read(4);
    if (type == "IEND") break;
  }
  if (!rewriter) throw platform::IoStatus::System(-1);
  rewriter->Finish();
}

}  // namespace

platform::IoStatus RewriteWithPalette(const std::string& from, const std::string& to,
                                      const std::vector<std::uint32_t>& colours, int level, unsigned jobs) {
  platform::FileHandle in = 0, out = 0;
  platform::IoStatus status = platform::OpenFileForReading(from, in);
  if (status.Failed()) return status;
  status = platform::OpenFile(to, platform::OpenMode::kCreate, out);
  if (!status.Failed()) {
    try {
      Rewrite(in, colours, level, jobs, [out](std::string_view bytes) {
        const platform::IoStatus written = platform::WriteFile(out, bytes.data(), bytes.size());
        if (written.Failed()) throw written;
      });
    } catch (const platform::IoStatus& failed) {
      status = failed;
    } catch (const std::runtime_error&) {
      status = platform::IoStatus::System(-1);
    }
    const platform::IoStatus closed = platform::CloseFile(out);
    if (!status.Failed()) status = closed;
  }
  platform::CloseFile(in);
  return status;
}

}  // namespace rastrel
