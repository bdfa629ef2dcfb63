#include "ozf2.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <stdexcept>
#include <string>

#include "parallel.h"

namespace rastrel {

namespace {

constexpr std::uint32_t kTileSide = 64;
constexpr std::size_t kTileBytes = kTileSide * kTileSide;
constexpr std::uint32_t kMostTilesASide = 0xFFFF;
constexpr std::uint64_t kMostBytes = 0xFFFFFFFF;
constexpr std::uint32_t kOverviewSide = 300;
constexpr std::uint32_t kSeparator = 0x77777777;
// The tiles' zlib level and memory, chosen by measurement on realistic,
// noisy and flat maps: LZ77 over a window of a tile's size at level 2 takes
// 17 % off realistic tiles and 71 % off flat ones against Huffman coding
// alone, at twice its time; level 1 takes 1.5 % less off at 0.95 times
// level 2's time, levels 4 to 9 up to 3 % more at 1.2 to 1.9 times. The table
// of matches is small, as it is cleared for each tile.
constexpr int kTileLevel = 2;
constexpr int kTileWindowBits = 12;
constexpr int kTileMemLevel = 6;
// The smaller levels after 25 %, in thousandths of a percent.
constexpr std::uint64_t kZooms[] = {25000, 10000, 5000, 2500, 1000, 500, 250, 100, 50, 25, 10};

void Put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>(value >> 8 & 0xFF);
}

void Put32(std::string& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

std::uint32_t Tiles(std::uint32_t pixels) { return (pixels + kTileSide - 1) / kTileSide; }

std::uint32_t Scaled(std::uint64_t pixels, std::uint64_t numerator, std::uint64_t denominator) {
  return static_cast<std::uint32_t>(std::max<std::uint64_t>(1, (pixels * numerator + denominator / 2) / denominator));
}

}  // namespace

std::vector<ZoomLevel> Ozf2Levels(std::uint32_t width, std::uint32_t height) {
  std::vector<ZoomLevel> levels = {{width, height, 100.0f}};
  const std::uint64_t longer = std::max(width, height);
  for (std::uint64_t zoom : kZooms) {
    if (longer * zoom > std::uint64_t{kOverviewSide} * 100000) {
      levels.push_back({Scaled(width, zoom, 100000), Scaled(height, zoom, 100000), static_cast<float>(zoom) / 1000});
    }
  }
  if (longer <= kOverviewSide) {
    levels.push_back(levels.front());
  } else {
    levels.push_back({Scaled(width, kOverviewSide, longer), Scaled(height, kOverviewSide, longer),
                      static_cast<float>(kOverviewSide) * 100 / static_cast<float>(longer)});
  }
  return levels;
}

std::string_view Ozf2Limit(std::uint32_t width, std::uint32_t height) {
  if (Tiles(width) > kMostTilesASide || Tiles(height) > kMostTilesASide) {
    return "an OZF2 image holds at most 65,535 tiles of 64 pixels a side";
  }
  const std::vector<ZoomLevel> levels = Ozf2Levels(width, height);
  std::uint64_t bytes = 14 + 40 + 4 + 2 + 4 + 8 * std::uint64_t{levels.size()} + 4;
  for (const ZoomLevel& level : levels) {
    const std::uint64_t tiles = std::uint64_t{Tiles(level.width)} * Tiles(level.height);
    bytes += tiles * (compressBound(kTileBytes) + 4) + 12 + 1024 + 4;
  }
  return bytes > kMostBytes ? "an OZF2 image holds at most 4 GiB, which a map this large could exceed" : "";
}

// One level's rows in, its tiles out: a row of tiles at a time, the pixels
// given their palette indices and the tiles deflated on several threads.
class Ozf2Writer::LevelWriter : public RowSink {
 public:
  LevelWriter(Ozf2Writer& file, const ZoomLevel& level, const std::vector<std::uint32_t>& palette, unsigned jobs)
      : file_(file),
        level_(level),
        palette_(palette.empty() ? std::vector<std::uint32_t>{0} : palette),
        jobs_(jobs),
        across_(Tiles(level.width)),
        strip_(std::size_t{kTileSide} * level.width * 3),
        tiles_(across_) {
    // Colours remembered: no more than the level's pixels, and 2^21 among
    // all threads (10 MiB); a map of fine grain has millions.
    const auto pixel_bits = static_cast<int>(std::bit_width(std::uint64_t{level.width} * level.height - 1));
    const auto job_bits = static_cast<int>(std::bit_width(jobs - 1u));
    const int bits = std::max(10, std::min({20, pixel_bits, 21 - job_bits}));
    for (unsigned job = 0; job < jobs; ++job) nearest_.emplace_back(palette_, bits);
  }

  void AddRows(const unsigned char* rgb, std::size_t rows) override {
    const std::size_t row_bytes = std::size_t{level_.width} * 3;
    for (std::size_t row = 0; row < rows;) {
      if (strip_rows_ == 0 && rows - row >= kTileSide) {
        WriteTileRow(rgb + row * row_bytes);  // whole rows of tiles need no copy
        row += kTileSide;
        continue;
      }
      std::copy_n(rgb + row * row_bytes, row_bytes, strip_.data() + strip_rows_ * row_bytes);
      ++row;
      if (++strip_rows_ == kTileSide) WriteTileRow(strip_.data());
    }
  }

  void Finish() override {
    if (strip_rows_ != 0) {
      // The last row of tiles reaches below the image: its last row repeated.
      const std::size_t row_bytes = std::size_t{level_.width} * 3;
      for (std::size_t row = strip_rows_; row < kTileSide; ++row) {
        std::copy_n(strip_.data() + (strip_rows_ - 1) * row_bytes, row_bytes, strip_.data() + row * row_bytes);
      }
      WriteTileRow(strip_.data());
    }
    offsets_.push_back(static_cast<std::uint32_t>(file_.written_));
    file_.level_offsets_.push_back(static_cast<std::uint32_t>(file_.written_));
    std::string header;
    Put32(header, level_.width);
    Put32(header, level_.height);
    Put16(header, across_);
    Put16(header, Tiles(level_.height));
    // 0x00RRGGBB little-endian: blue, green, red, 0.
    for (std::size_t i = 0; i < 256; ++i) Put32(header, i < palette_.size() ? palette_[i] : 0);
    for (std::uint32_t offset : offsets_) Put32(header, offset);
    file_.Write(header);
  }

 private:
  // A tile's palette indices, its rows from the bottom, a row that reaches
  // past the image repeating its last pixel.
  void IndexTile(const unsigned char* strip, std::size_t tile, NearestColour& nearest, unsigned char* out) const {
    const std::size_t first = tile * kTileSide, inside = std::min<std::size_t>(kTileSide, level_.width - first);
    for (std::size_t row = 0; row < kTileSide; ++row, out += kTileSide) {
      const unsigned char* rgb = strip + ((kTileSide - 1 - row) * level_.width + first) * 3;
      for (std::size_t x = 0; x < inside; ++x, rgb += 3) {
        out[x] = nearest.Index(ColourAt(rgb));
      }
      std::fill(out + inside, out + kTileSide, out[inside - 1]);
    }
  }

  // A zlib stream of the tile that starts 78 DA, as readers insist.
  static void Deflate(z_stream& stream, const unsigned char* tile, std::string& out) {
    out.resize(compressBound(kTileBytes));
    deflateReset(&stream);
    stream.next_in = const_cast<unsigned char*>(tile);
    stream.avail_in = kTileBytes;
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    // A 32 KiB window (the stream needs no more) and the best compression:
    // as valid a header as zlib's own.
    out[0] = static_cast<char>(0x78);
    out[1] = static_cast<char>(0xDA);
  }

  // A row of tiles, indexed and deflated on several threads (each with its
  // own nearest colours and stream), then written in order.
  void WriteTileRow(const unsigned char* strip) {
    ParallelFor(jobs_, jobs_, [&](std::size_t job) {
      z_stream stream = {};
      if (deflateInit2(&stream, kTileLevel, Z_DEFLATED, kTileWindowBits, kTileMemLevel, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::bad_alloc();
      }
      unsigned char tile[kTileBytes];
      for (std::size_t t = job; t < across_; t += jobs_) {
        IndexTile(strip, t, nearest_[job], tile);
        Deflate(stream, tile, tiles_[t]);
      }
      deflateEnd(&stream);
    });
    for (const std::string& tile : tiles_) {
      offsets_.push_back(static_cast<std::uint32_t>(file_.written_));
      file_.Write(tile);
    }
    strip_rows_ = 0;
  }

  Ozf2Writer& file_;
  ZoomLevel level_;
  std::vector<std::uint32_t> palette_;
  unsigned jobs_;
  std::uint32_t across_;
  std::vector<NearestColour> nearest_;
  std::vector<unsigned char> strip_;
  std::size_t strip_rows_ = 0;
  std::vector<std::string> tiles_;
  std::vector<std::uint32_t> offsets_;
};

Ozf2Writer::Ozf2Writer(std::vector<ZoomLevel> levels, unsigned jobs, Sink sink)
    : levels_(std::move(levels)), jobs_(std::max(jobs, 1u)), sink_(std::move(sink)) {
  const ZoomLevel& full = levels_.front();
  std::string header;
  Put16(header, 0x7778);
  Put32(header, 0);  // not locked
  Put16(header, kTileSide);
  Put16(header, 1);
  Put32(header, 0x436);
  // As a bitmap's info header: its size, width, height, planes, bits, no
  // compression, the pixels (wrapping at 32 bits, which readers ignore), no
  // resolution, 256 colours used and important.
  for (std::uint32_t value : {40u, full.width, full.height}) Put32(header, value);
  Put16(header, 1);
  Put16(header, 8);
  for (std::uint32_t value : {0u, full.width * full.height, 0u, 0u, 256u, 256u}) Put32(header, value);
  Put32(header, kSeparator);
  Put16(header, static_cast<std::uint32_t>(levels_.size()));
  for (const ZoomLevel& level : levels_) Put32(header, std::bit_cast<std::uint32_t>(level.percent));
  Put32(header, kSeparator);
  Write(header);
}

Ozf2Writer::~Ozf2Writer() = default;

RowSink& Ozf2Writer::Level(std::size_t n, const std::vector<std::uint32_t>& palette) {
  level_ = std::make_unique<LevelWriter>(*this, levels_.at(n), palette, jobs_);
  return *level_;
}

void Ozf2Writer::Finish() {
  level_.reset();
  const auto table = static_cast<std::uint32_t>(written_);
  std::string end;
  for (std::uint32_t offset : level_offsets_) Put32(end, offset);
  Put32(end, table);
  Write(end);
}

void Ozf2Writer::Write(std::string_view bytes) {
  written_ += bytes.size();
  if (written_ > kMostBytes) throw std::length_error("an OZF2 image holds at most 4 GiB");
  sink_(bytes);
}

}  // namespace rastrel
