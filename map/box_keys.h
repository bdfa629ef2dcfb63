// The block of keys that covers a box of degrees: the box projected into UTM
// zone 33 on WGS 84 along its curved edges, then the tile server's formulas.
#pragma once

#include <string>

#include "console.h"
#include "tilegrid.h"

namespace rastrel {

struct GridPoint {
  double easting;
  double northing;
};

// Transverse Mercator of zone 33 (central meridian 15 E, scale 0.9996, false
// easting 500 km) on WGS 84, by Krueger's series to the sixth order as
// Karney (2011) gives it: well below a millimetre within the zone.
GridPoint ToUtmZone33(double longitude, double latitude);

struct Box {
  double west, south, east, north;
};

// The keys of the smallest block whose tiles cover the box, moved down to the
// server's grid (keys that leave `remainder` modulo 8). A parallel is a curve
// in the zone, lowest where it crosses 15 E, so points along every edge count.
GridRequest BlockOfBox(const Box& box, int remainder);

// Why a box cannot be taken ("" when it can): not decimal degrees, a
// reversed box, or one outside the zone's reach.
std::string BoxProblem(const std::string (&texts)[4], Box& box);

// A key as the block is printed: lower-case hexadecimal, no leading zeros.
std::string KeyText(TileKey key);

}  // namespace rastrel
