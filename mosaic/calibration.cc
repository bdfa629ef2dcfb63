#include "calibration.h"

#include "tilegrid.h"

namespace rastrel {

namespace {

constexpr const char* kHeader = "OziExplorer Map Data File Version 2.2";
constexpr const char* kProjectionLines[] = {
    "1 ,Map Code,",
    "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84",
    "Reserved 1",
    "Reserved 2",
    "Magnetic Variation,,,E",
    "Map Projection,(UTM) Universal Transverse Mercator,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No",
};
constexpr const char* kCalibratedPoint =
    "Point%.02d,xy,%5d,%5d,in, deg,    ,        ,N,    ,        ,W, grid, 33,%11d,%11d,N";
constexpr const char* kEmptyPoint =
    "Point%.02d,xy,     ,     ,in, deg,    ,        ,N,    ,        ,W, grid,   ,           ,           ,N";
constexpr int kPointCount = 30;
constexpr const char* kTrailer[] = {
    "Projection Setup,,,,,,,,,,",
    "Map Feature = MF ; Map Comment = MC     These follow if they exist",
    "Track File = TF      These follow if they exist",
    "Moving Map Parameters = MM?    These follow if they exist",
};

constexpr std::int64_t kServerUnitsPerKey = 4096;
constexpr std::int64_t kServerUnitsPerMetre = 32;

// The image's extent: it holds exactly the columns and rows the joining
// script walks, each tile 8 keys wide, so the east and north edges follow
// from their counts. Counted in 64 bits, the edges agree with the image even
// where the walked keys wrap at 32 bits.
struct Extent {
  std::int64_t west, east, south, north;  // in keys
  std::int64_t width, height;             // in pixels
};

Extent MosaicExtent(const GridRequest& request) {
  const std::int64_t columns = std::int64_t{TileCount(request.X())};
  const std::int64_t rows = std::int64_t{TileCount(request.Y())};
  return {request.xstart, request.xstart + columns * kTileSpacing,
          request.ystart, request.ystart + rows * kTileSpacing,
          columns * kTilePixels, rows * kTilePixels};
}

}  // namespace

std::int64_t Easting(std::int64_t key) { return key * kServerUnitsPerKey / kServerUnitsPerMetre - 3700000; }

std::int64_t Northing(std::int64_t key) { return key * kServerUnitsPerKey / kServerUnitsPerMetre + 1300000; }

void WriteCalibration(const GridRequest& request) {
  WriteCalibration(request, request.map_name + std::string(kCalibrationFileEnding));
}

void WriteCalibration(const GridRequest& request, const std::string& file_name, const std::string& image_name) {
  TextSink file;
  file.Bind(file_name);
  file.OpenCreate();
  file.WriteLine(kHeader);
  file.WriteLine(request.map_name);
  file.WriteLine(image_name.empty() ? request.map_name + ".png" : image_name);
  for (const char* line : kProjectionLines) file.WriteLine(line);
  // Point 1 is the top-left pixel at the north-west corner; point 2 names the
  // bottom-right pixel but carries the south-east corner of the image, as
  // the map software in use reads it.
  const Extent extent = MosaicExtent(request);
  file.WriteLine(FormatText(kCalibratedPoint, {1, 0, 0, Easting(extent.west), Northing(extent.north)}));
  file.WriteLine(FormatText(kCalibratedPoint, {2, extent.width - 1, extent.height - 1, Easting(extent.east),
                                               Northing(extent.south)}));
  for (int n = 3; n <= kPointCount; ++n) file.WriteLine(FormatText(kEmptyPoint, {n}));
  for (const char* line : kTrailer) file.WriteLine(line);
  file.Close();
}

}  // namespace rastrel
