#include "palette.h"

#include <algorithm>
#include <iterator>
#include <memory>

#include "png_read.h"
#include "png_stream.h"

namespace rastrel {

namespace {

int BitDepthFor(std::size_t colours) { return colours <= 2 ? 1 : colours <= 4 ? 2 : colours <= 16 ? 4 : 8; }

// Palette indices for RGB rows, written as a palette PNG.
class PaletteWriter : public RowSink {
 public:
  PaletteWriter(const std::vector<std::uint32_t>& colours, std::uint32_t width, std::uint32_t height, int level,
                unsigned jobs, PngStream::Sink sink)
      : colours_(colours),
        width_(width),
        depth_(BitDepthFor(colours.size())),
        out_(width, height, depth_, Table(colours), level, jobs, std::move(sink)) {}

  void AddRows(const unsigned char* rgb, std::size_t rows) override {
    indices_.assign(rows * out_.RowBytes(), 0);
    for (std::size_t row = 0; row < rows; ++row) Index(rgb + row * width_ * 3, indices_.data() + row * out_.RowBytes());
    out_.AddRows(indices_.data(), rows);
  }
  void Finish() override { out_.Finish(); }

 private:
  static std::string Table(const std::vector<std::uint32_t>& colours) {
    std::string table;
    for (std::uint32_t colour : colours) {
      table += {static_cast<char>(colour >> 16), static_cast<char>(colour >> 8 & 0xFF), static_cast<char>(colour & 0xFF)};
    }
    return table;
  }

  void Index(const unsigned char* rgb, unsigned char* packed) const {
    std::uint32_t last_colour = 0xFFFFFFFF;
    unsigned index = 0;
    for (std::uint32_t x = 0; x < width_; ++x) {
      const std::uint32_t colour = ColourAt(rgb + 3 * std::size_t{x});
      if (colour != last_colour) {
        last_colour = colour;
        index = static_cast<unsigned>(std::lower_bound(colours_.begin(), colours_.end(), colour) - colours_.begin());
      }
      const std::size_t bit = std::size_t{x} * static_cast<std::size_t>(depth_);
      packed[bit / 8] |= static_cast<unsigned char>(index << (8 - depth_ - bit % 8));
    }
  }

  const std::vector<std::uint32_t>& colours_;
  std::uint32_t width_;
  int depth_;
  std::vector<unsigned char> indices_;
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

platform::IoStatus RewriteWithPalette(const std::string& from, const std::string& to,
                                      const std::vector<std::uint32_t>& colours, int level, unsigned jobs) {
  platform::FileHandle out = 0;
  platform::IoStatus status = platform::OpenFile(to, platform::OpenMode::kCreate, out);
  if (status.Failed()) return status;
  std::unique_ptr<PaletteWriter> writer;
  status = ReadPngRows(from, [&](std::uint32_t width, std::uint32_t height) -> RowSink& {
    writer = std::make_unique<PaletteWriter>(colours, width, height, level, jobs, [out](std::string_view bytes) {
      const platform::IoStatus written = platform::WriteFile(out, bytes.data(), bytes.size());
      if (written.Failed()) throw written;
    });
    return *writer;
  });
  const platform::IoStatus closed = platform::CloseFile(out);
  return status.Failed() ? status : closed;
}

}  // namespace rastrel
