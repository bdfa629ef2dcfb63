#include "tilegrid.h"

#include <gtest/gtest.h>

namespace rastrel {
namespace {

TEST(TileCount, TruncatingDivisionAndWrapping) {
  const struct {
    TileKey start, stop;
    std::int32_t steps;
  } cases[] = {
      {0x7eb1, 0x7eb1, 0},        {0x7eb1, 0x7eb5, 0},          {0x7eb1, 0x7eb9, 1},
      {0x7eb1, 0x7eaa, 0},        {0x7eb1, 0x7ea9, -1},         {0x7eb1, 0x7ea1, -2},
      {0x7ffffff8, INT32_MIN, 1}, {INT32_MIN, 0x7ffffff0, -2},  {0, INT32_MIN, -268435456},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StepCount({c.start, c.stop}), c.steps) << std::hex << c.start << ".." << c.stop;
    EXPECT_EQ(TileCount({c.start, c.stop}), c.steps + 1);
  }
}

}  // namespace
}  // namespace rastrel
