#include "box_keys.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <regex>

#include "console.h"
#include "textout.h"

namespace rastrel {

namespace {

constexpr double kSemiMajorAxis = 6378137.0;
constexpr double kFlattening = 1 / 298.257223563;
constexpr double kScale = 0.9996;
constexpr double kFalseEasting = 500000.0;
constexpr double kCentralMeridian = 15.0;
constexpr int kEdgeSteps = 64;

double Radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

struct Series {
  double rectifying_radius;  // A
  double alpha[6];
};

Series KruegerSeries() {
  const double n = kFlattening / (2 - kFlattening);
  const double n2 = n * n, n3 = n2 * n, n4 = n3 * n, n5 = n4 * n, n6 = n5 * n;
  return {kSemiMajorAxis / (1 + n) * (1 + n2 / 4 + n4 / 64 + n6 / 256),
          {n / 2 - 2 * n2 / 3 + 5 * n3 / 16 + 41 * n4 / 180 - 127 * n5 / 288 + 7891 * n6 / 37800,
           13 * n2 / 48 - 3 * n3 / 5 + 557 * n4 / 1440 + 281 * n5 / 630 - 1983433 * n6 / 1935360,
           61 * n3 / 240 - 103 * n4 / 140 + 15061 * n5 / 26880 + 167603 * n6 / 181440,
           49561 * n4 / 161280 - 179 * n5 / 168 + 6601661 * n6 / 7257600,
           34729 * n5 / 80640 - 3418889 * n6 / 1995840,
           212378941 * n6 / 319334400}};
}

// The key of a grid coordinate by the server's formulas, moved down to its grid.
TileKey KeyOf(double metres, double offset, int remainder) {
  const auto key = static_cast<std::int64_t>(std::floor((metres + offset) / 128));
  return static_cast<TileKey>(key - (((key - remainder) % 8) + 8) % 8);
}

}  // namespace

GridPoint ToUtmZone33(double longitude, double latitude) {
  static const Series series = KruegerSeries();
  const double e = std::sqrt(kFlattening * (2 - kFlattening));
  const double lambda = Radians(longitude - kCentralMeridian);
  const double t = std::tan(Radians(latitude));
  // The conformal latitude's tangent.
  const double sigma = std::sinh(e * std::atanh(e * t / std::hypot(1.0, t)));
  const double tc = t * std::hypot(1.0, sigma) - sigma * std::hypot(1.0, t);
  const double xi_prime = std::atan2(tc, std::cos(lambda));
  const double eta_prime = std::asinh(std::sin(lambda) / std::hypot(tc, std::cos(lambda)));
  double xi = xi_prime, eta = eta_prime;
  for (int j = 1; j <= 6; ++j) {
    xi += series.alpha[j - 1] * std::sin(2 * j * xi_prime) * std::cosh(2 * j * eta_prime);
    eta += series.alpha[j - 1] * std::cos(2 * j * xi_prime) * std::sinh(2 * j * eta_prime);
  }
  return {kFalseEasting + kScale * series.rectifying_radius * eta, kScale * series.rectifying_radius * xi};
}

GridRequest BlockOfBox(const Box& box, int remainder) {
  double west = INFINITY, east = -INFINITY, south = INFINITY, north = -INFINITY;
  auto take = [&](double longitude, double latitude) {
    const GridPoint point = ToUtmZone33(longitude, latitude);
    west = std::min(west, point.easting);
    east = std::max(east, point.easting);
    south = std::min(south, point.northing);
    north = std::max(north, point.northing);
  };
  for (int i = 0; i <= kEdgeSteps; ++i) {
    const double longitude = box.west + (box.east - box.west) * i / kEdgeSteps;
    const double latitude = box.south + (box.north - box.south) * i / kEdgeSteps;
    take(longitude, box.south);
    take(longitude, box.north);
    take(box.west, latitude);
    take(box.east, latitude);
  }
  if (box.west < kCentralMeridian && kCentralMeridian < box.east) {
    take(kCentralMeridian, box.south);
    take(kCentralMeridian, box.north);
  }
  GridRequest block;
  block.xstart = KeyOf(west, 3700000, remainder);
  block.xstop = KeyOf(east, 3700000, remainder);
  block.ystart = KeyOf(south, -1300000, remainder);
  block.ystop = KeyOf(north, -1300000, remainder);
  return block;
}

std::string BoxProblem(const std::string (&texts)[4], Box& box) {
  static const std::regex kDecimal(R"([+-]?([0-9]+[.]?[0-9]*|[.][0-9]+))");
  double values[4];
  for (int i = 0; i < 4; ++i) {
    if (!std::regex_match(texts[i], kDecimal)) return "WEST SOUTH EAST NORTH must be decimal degrees, such as 14.25";
    values[i] = std::strtod(texts[i].c_str(), nullptr);
  }
  box = {values[0], values[1], values[2], values[3]};
  if (!(box.west < box.east && box.south < box.north)) return "the box needs WEST < EAST and SOUTH < NORTH";
  if (box.west < 6 || box.east > 24 || box.south < 0 || box.north > 84) {
    return "the box must lie within 6 to 24 degrees east and 0 to 84 degrees north, where UTM zone 33 serves";
  }
  return "";
}

std::string KeyText(TileKey key) {
  char digits[8];
  const char* begin = FormatHexDigits(digits + sizeof digits, static_cast<std::uint32_t>(key), 1, false);
  return std::string(begin, static_cast<const char*>(digits + sizeof digits));
}

}  // namespace rastrel
