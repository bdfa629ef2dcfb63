#include "ozf2.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <random>
#include <set>

#include "area_shrink.h"
#include "quantize.h"

namespace rastrel {
namespace {

TEST(Ozf2Levels, FullSizeThenZoomsOver300PixelsThenA300PixelOverview) {
  const struct {
    std::uint32_t width, height;
    std::vector<std::vector<double>> levels;  // width, height, percent
  } cases[] = {
      {256, 256, {{256, 256, 100}, {256, 256, 100}}},
      {300, 20, {{300, 20, 100}, {300, 20, 100}}},
      {301, 256, {{301, 256, 100}, {300, 255, 300.0 * 100 / 301}}},
      {512, 768, {{512, 768, 100}, {200, 300, 39.0625}}},
      {1204, 10, {{1204, 10, 100}, {301, 3, 25}, {300, 2, 300.0 * 100 / 1204}}},
      {16384, 16384,
       {{16384, 16384, 100}, {4096, 4096, 25}, {1638, 1638, 10}, {819, 819, 5}, {410, 410, 2.5},
        {300, 300, 300.0 * 100 / 16384}}},
      {5632, 256, {{5632, 256, 100}, {1408, 64, 25}, {563, 26, 10}, {300, 14, 300.0 * 100 / 5632}}},
  };
  for (const auto& c : cases) {
    std::vector<std::vector<double>> got;
    for (const ZoomLevel& level : Ozf2Levels(c.width, c.height)) {
      got.push_back({double(level.width), double(level.height), level.percent});
    }
    ASSERT_EQ(got.size(), c.levels.size()) << c.width << " x " << c.height;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i][0], c.levels[i][0]) << c.width << " x " << c.height << " level " << i;
      EXPECT_EQ(got[i][1], c.levels[i][1]) << c.width << " x " << c.height << " level " << i;
      EXPECT_FLOAT_EQ(float(got[i][2]), float(c.levels[i][2])) << c.width << " x " << c.height << " level " << i;
    }
  }
}

TEST(Ozf2Limit, RefusesMoreThan65535TilesASideAndWhatCouldPass4GiB) {
  EXPECT_EQ(Ozf2Limit(65535 * 64, 256), "");
  EXPECT_NE(Ozf2Limit(65535 * 64 + 1, 256).find("65,535"), std::string_view::npos);
  EXPECT_NE(Ozf2Limit(256, 65535 * 64 + 1).find("65,535"), std::string_view::npos);
  EXPECT_EQ(Ozf2Limit(60000, 60000), "");
  EXPECT_NE(Ozf2Limit(65536, 65536).find("4 GiB"), std::string_view::npos);
}

// Collects the rows a sink is given.
struct Rows : RowSink {
  std::vector<unsigned char> bytes;
  bool finished = false;
  void AddRows(const unsigned char* rgb, std::size_t rows) override {
    bytes.insert(bytes.end(), rgb, rgb + rows * row_bytes);
  }
  void Finish() override { finished = true; }
  std::size_t row_bytes = 0;
};

TEST(AreaShrink, AveragesEachPixelByTheShareOfItCovered) {
  const struct {
    std::uint32_t from_width, from_height, width, height;
    std::vector<int> from, to;  // grey: each channel alike
  } cases[] = {
      {4, 1, 1, 1, {0, 10, 20, 31}, {15}},          // 15.25
      {3, 1, 2, 1, {0, 90, 180}, {30, 150}},        // 0 and half of 90; half of 90 and 180
      {1, 3, 1, 2, {0, 90, 181}, {30, 151}},        // rows alike; 150.67 rounds up
      {2, 2, 2, 2, {1, 2, 3, 4}, {1, 2, 3, 4}},     // the same size: the same pixels
      {5, 1, 2, 1, {10, 20, 30, 40, 50}, {18, 42}},  // 2.5 pixels each: (10+20+15)/2.5, (15+40+50)/2.5
      {2, 2, 1, 1, {0, 0, 0, 1}, {0}},              // 0.25 rounds down
      {2, 2, 1, 1, {0, 0, 1, 1}, {1}},              // 0.5 rounds up
  };
  for (const auto& c : cases) {
    Rows out;
    out.row_bytes = std::size_t{c.width} * 3;
    AreaShrink shrink(c.from_width, c.from_height, c.width, c.height, 2, out);
    std::vector<unsigned char> rgb;
    for (int v : c.from) rgb.insert(rgb.end(), 3, static_cast<unsigned char>(v));
    shrink.AddRows(rgb.data(), c.from_height);
    shrink.Finish();
    std::vector<unsigned char> want;
    for (int v : c.to) want.insert(want.end(), 3, static_cast<unsigned char>(v));
    EXPECT_EQ(out.bytes, want) << c.from_width << " x " << c.from_height << " to " << c.width << " x " << c.height;
    EXPECT_TRUE(out.finished);
  }
}

void AddPixel(std::vector<unsigned char>& rgb, std::uint32_t colour) {
  rgb.insert(rgb.end(), {static_cast<unsigned char>(colour >> 16), static_cast<unsigned char>(colour >> 8 & 0xFF),
                         static_cast<unsigned char>(colour & 0xFF)});
}

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
  std::uint32_t value;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;  // the tests run on little-endian machines
}

TEST(ColourSurvey, KeepsTheColourThatFillsMostOfTheMapExactly) {
  // White paper (6 pixels in 10) with 64 shades of it from 248 to 251 (2 in
  // 10), which the mean of its colours would make 254, and 2,000 colours of
  // ink: white stays in the palette as it is.
  std::vector<unsigned char> rgb;
  for (std::uint32_t i = 0; i < 100000; ++i) {
    const std::uint32_t v = i / 10, shade = (248 + v % 4) << 16 | (248 + v / 4 % 4) << 8 | (248 + v / 16 % 4);
    const std::uint32_t ink = (v % 200) << 16 | (v / 10 % 200) << 8 | 7;
    AddPixel(rgb, i % 10 < 6 ? 0xFFFFFF : i % 10 < 8 ? shade : ink);
  }
  ColourSurvey survey(4);
  survey.Take(rgb.data(), 1000, 100, 3);
  const std::vector<std::uint32_t> palette = survey.Palette();
  EXPECT_FALSE(survey.Exact());
  EXPECT_LE(palette.size(), 256u);
  EXPECT_NE(std::find(palette.begin(), palette.end(), 0xFFFFFFu), palette.end());
}

// Random images, palettes and levels: each pixel maps into the palette, maps
// of at most 256 colours exactly, and each level written decodes to its tiles.
TEST(Ozf2Writer, RandomImagesMapIntoTheirPalettesAndTheirTilesDecode) {
  std::mt19937 random(43);
  for (int round = 0; round < 1000; ++round) {
    const std::uint32_t width = 1 + random() % 100, height = 1 + random() % 100;
    const std::size_t colours = 1 + random() % (round % 2 == 0 ? 256 : 1000);
    std::vector<std::uint32_t> drawn(colours);
    for (auto& colour : drawn) colour = random() & 0xFFFFFF;
    std::vector<unsigned char> rgb;
    std::set<std::uint32_t> distinct;
    for (std::size_t i = 0; i < std::size_t{width} * height; ++i) {
      const std::uint32_t colour = drawn[random() % colours];
      AddPixel(rgb, colour);
      distinct.insert(colour);
    }
    ColourSurvey survey(1 + round % 2);
    survey.Take(rgb.data(), width, height, 1 + round % 3);
    const std::vector<std::uint32_t> palette = survey.Palette();
    ASSERT_LE(palette.size(), 256u);
    ASSERT_EQ(survey.Exact(), distinct.size() <= 256) << round;
    NearestColour nearest(palette);
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
      const unsigned char index = nearest.Index(ColourAt(&rgb[i]));
      ASSERT_LT(index, palette.size()) << round;
      if (survey.Exact()) {
        ASSERT_EQ(palette[index], ColourAt(&rgb[i])) << round;
      }
    }
    std::string file;
    const std::vector<ZoomLevel> levels = {{width, height, 100}};
    Ozf2Writer writer(levels, 1 + round % 3, [&](std::string_view bytes) { file += bytes; });
    RowSink& level = writer.Level(0, palette);
    level.AddRows(rgb.data(), height);
    level.Finish();
    writer.Finish();
    const std::uint32_t header = Le32(file, Le32(file, file.size() - 4));
    ASSERT_EQ(Le32(file, header), width);
    ASSERT_EQ(Le32(file, header + 4), height);
    const std::uint32_t tiles = (width + 63) / 64 * ((height + 63) / 64);
    for (std::uint32_t t = 0; t < tiles; ++t) {
      const std::uint32_t begin = Le32(file, header + 1036 + 4 * t), end = Le32(file, header + 1040 + 4 * t);
      ASSERT_EQ(file.substr(begin, 2), "\x78\xDA") << round;
      unsigned char indices[4097];
      uLongf size = sizeof indices;
      ASSERT_EQ(uncompress(indices, &size, reinterpret_cast<const Bytef*>(file.data() + begin), end - begin), Z_OK);
      ASSERT_EQ(size, 4096u) << round;
    }
  }
}

// Each kind of map's tiles deflated within a share of zlib's best (level 9,
// a 32 KiB window) for the same indices, a few bytes a tile for the stream's
// frame aside (Huffman coding alone takes 20 times the best of the
// first two); the edge tiles' padding repeats, and must be matched too.
TEST(Ozf2Writer, TilesComeWithinAShareOfZlibsBest) {
  std::mt19937 random(7);
  const struct {
    const char* kind;
    std::uint32_t width, height;
    std::function<std::uint32_t(std::uint32_t x, std::uint32_t y)> colour;
    double share;
  } cases[] = {
      {"flat", 256, 256, [](std::uint32_t, std::uint32_t) { return 0xE0F0D0u; }, 1.5},
      {"blocks", 256, 256, [](std::uint32_t x, std::uint32_t y) { return 0x101010u * ((x / 8 + y / 8) % 4); }, 1.6},
      {"fields and lines", 256, 256,
       [&](std::uint32_t x, std::uint32_t y) {
         const bool line = (x + 2 * y) % 37 < 3;
         return line ? 0xC02020u : 0x204080u * (x / 40 + 3 * (y / 48)) % 7 + (random() % 8 == 0);
       },
       1.4},
      {"noise", 256, 256, [&](std::uint32_t, std::uint32_t) { return 0x010101u * (random() % 200); }, 1.02},
      {"edge tiles", 70, 70, [](std::uint32_t x, std::uint32_t y) { return 0x204060u * ((x / 5 + y / 7) % 3); }, 1.6},
  };
  for (const auto& c : cases) {
    std::vector<unsigned char> rgb;
    for (std::uint32_t y = 0; y < c.height; ++y) {
      for (std::uint32_t x = 0; x < c.width; ++x) AddPixel(rgb, c.colour(x, y));
    }
    ColourSurvey survey(1);
    survey.Take(rgb.data(), c.width, c.height, 1);
    std::string file;
    Ozf2Writer writer({{c.width, c.height, 100}}, 2, [&](std::string_view bytes) { file += bytes; });
    RowSink& level = writer.Level(0, survey.Palette());
    level.AddRows(rgb.data(), c.height);
    level.Finish();
    writer.Finish();
    const std::uint32_t header = Le32(file, Le32(file, file.size() - 4));
    const std::uint32_t tiles = (c.width + 63) / 64 * ((c.height + 63) / 64);
    std::size_t ours = 0, best = 0;
    for (std::uint32_t t = 0; t < tiles; ++t) {
      const std::uint32_t begin = Le32(file, header + 1036 + 4 * t), end = Le32(file, header + 1040 + 4 * t);
      unsigned char indices[4096], again[5000];
      uLongf size = sizeof indices, packed = sizeof again;
      ASSERT_EQ(uncompress(indices, &size, reinterpret_cast<const Bytef*>(file.data() + begin), end - begin), Z_OK);
      ASSERT_EQ(compress2(again, &packed, indices, size, 9), Z_OK);
      ours += end - begin;
      best += packed;
    }
    EXPECT_LE(static_cast<double>(ours), c.share * static_cast<double>(best) + 4.0 * tiles) << c.kind;
  }
}

}  // namespace
}  // namespace rastrel
