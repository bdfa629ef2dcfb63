#include "map_image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

namespace rastrel {
namespace {

// The second pass's status counts the rows written as they go, so that a
// terminal shows the OZF2 image's progress, not its first frame throughout.
TEST(MapImage, Ozf2StatusCountsTheRowsWrittenOfEveryLevel) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "rastrel-map-image-test";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder / "m_tiles");
  // The image goes into the current folder, its work files into m_tiles.
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  const std::string name = "m";
  GridRequest block;
  block.xstart = 0x7eb1;
  block.xstop = 0x7eb9;
  block.ystart = 0x8041;
  block.ystop = 0x8049;
  block.map_name = name;
  std::vector<unsigned char> rows(512 * 3 * 256, 200);
  std::vector<std::string> seen;
  try {
    MapImage image(name, "m_tiles", 512, 512, true, 1);
    for (int half = 0; half < 2; ++half) image.AddRows(rows.data(), 256);
    image.Finish();
    image.Place(block, [&](RowSink& sink) {
      for (int half = 0; half < 2; ++half) {
        seen.push_back(image.Status());
        sink.AddRows(rows.data(), 256);
      }
      seen.push_back(image.Status());
    });
    seen.push_back(image.Status());
  } catch (const ImageFailure& failure) {
    FAIL() << failure.message;
  }
  // Level 0 (512 rows), then the 300-pixel overview.
  const std::vector<std::string> want = {"0", "256", "512", "812"};
  ASSERT_EQ(seen.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(seen[i], "write " + name + ".ozf2, " + want[i] + " of 812 rows of its 2 zoom levels");
  }
  EXPECT_TRUE(std::filesystem::exists("m.ozf2"));
  std::filesystem::current_path(before);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace rastrel
