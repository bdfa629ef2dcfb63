#include "calibration.h"

#include <gtest/gtest.h>

namespace rastrel {
namespace {

TEST(GridMetres, EastingAndNorthingOfKeys) {
  const struct {
    std::int64_t key, easting, northing;
  } cases[] = {
      {0x7eb1, 451424, 5451424},       {0x8051, 504672, 5504672},   {0x8059, 505696, 5505696},   {0, -3700000, 1300000},
      {0x80000, 63408864, 68408864},   {-8, -3701024, 1298976},
      {INT32_MAX + std::int64_t{1}, 274874206944, 274879206944},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Easting(c.key), c.easting) << c.key;
    EXPECT_EQ(Northing(c.key), c.northing) << c.key;
  }
}

TEST(CalibrationFileName, MapNameAsEnteredWithMap) {
  GridRequest request;
  request.map_name = "My %s Map";
  EXPECT_EQ(CalibrationFileName(request), "My %s Map.map");
  request.map_name = "";
  EXPECT_EQ(CalibrationFileName(request), ".map");
}

}  // namespace
}  // namespace rastrel
