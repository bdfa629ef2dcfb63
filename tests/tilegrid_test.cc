#include "tilegrid.h"

#include <gtest/gtest.h>

#include "textout.h"

namespace rastrel {
namespace {

TEST(TileCount, TruncatingDivisionAndWrapping) {
  const struct {
    TileKey start, stop;
    std::int32_t steps;
  } cases[] = {
      {0x7eb1, 0x7eb1, 0},     {0x7eb1, 0x7eb5, 0},   {0x7eb1, 0x7eb9, 1},   {0x7eb1, 0x7eba, 1},
      {0x7eb1, 0x7ec1, 2},     {0x7eb1, 0x7eaa, 0},   {0x7eb1, 0x7ea9, -1},  {0x7eb1, 0x7ea2, -1},
      {0x7eb1, 0x7ea1, -2},    {0x7ffffff8, INT32_MIN, 1},  {INT32_MIN, 0x7fffffff, 0},  {INT32_MIN, 0x7ffffff0, -2},
      {0, INT32_MIN, -268435456},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StepCount({c.start, c.stop}), c.steps) << std::hex << c.start << ".." << c.stop;
    EXPECT_EQ(TileCount({c.start, c.stop}), c.steps + 1);
  }
}

TEST(KeyAt, WrapsAt32Bits) {
  EXPECT_EQ(KeyAt({0x7eb1, 0x7ec1}, 2), 0x7ec1);
  EXPECT_EQ(KeyAt({0x7ffffff8, INT32_MIN}, 1), INT32_MIN);
  EXPECT_EQ(KeyAt({-16, 0}, 1), -8);
}

TEST(KeyLabel, ZeroPaddedLowerCaseWithThreeZeros) {
  const struct {
    TileKey key;
    const char* label;
  } cases[] = {
      {0x7eb1, "7eb1000"},       {0x7EB1, "7eb1000"}, {0x123, "0123000"},         {0, "0000000"},
      {0x12345, "12345000"},     {-16, "fffffff0000"}, {INT32_MIN, "80000000000"},
  };
  for (const auto& c : cases) EXPECT_EQ(KeyLabel(c.key).View(), c.label);
}

TEST(ParseTileKey, PutsTheDollarInFront) {
  EXPECT_EQ(ParseTileKey("7eb1"), 0x7eb1);
  EXPECT_EQ(ParseTileKey("7EB1"), 0x7eb1);
  try {
    ParseTileKey("7eg1");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'$7eg1' is not a valid integer value");
  }
}

}  // namespace
}  // namespace rastrel
