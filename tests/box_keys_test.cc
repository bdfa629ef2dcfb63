#include "box_keys.h"

#include <gtest/gtest.h>

namespace rastrel {
namespace {

// PROJ's figures (gdaltransform EPSG:4326 to EPSG:32633), to a millimetre,
// across the zone and far beyond its edges.
TEST(ToUtmZone33, AgreesWithProj) {
  const struct {
    double longitude, latitude, easting, northing;
  } cases[] = {
      {15, 0, 500000.000, 0.000},
      {14.3, 49.7, 449521.773, 5505511.376},
      {9, 60, 165640.332, 6666593.572},
      {21.5, 30, 1127586.965, 3336633.113},
      {6, 84, 395391.163, 9336281.991},
      {24, 0.5, 1505608.221, 55958.617},
      {6, 0, -505646.900, 0.000},
  };
  for (const auto& c : cases) {
    const GridPoint point = ToUtmZone33(c.longitude, c.latitude);
    EXPECT_NEAR(point.easting, c.easting, 0.001) << c.longitude << " " << c.latitude;
    EXPECT_NEAR(point.northing, c.northing, 0.001) << c.longitude << " " << c.latitude;
  }
}

}  // namespace
}  // namespace rastrel
