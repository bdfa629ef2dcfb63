// rastrel2's calibration file: an OziExplorer .map file that ties the
// corners of the mosaic image to UTM zone 33 grid coordinates on WGS 84.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "console.h"

namespace rastrel {

// Grid metres of a key: server coordinate (key * 4096) / 32 shifted to the
// UTM zone 33 easting or northing, in 64 bits so no key wraps.
std::int64_t Easting(std::int64_t key);
std::int64_t Northing(std::int64_t key);

// The calibration file's name is the map name with this ending.
inline constexpr std::string_view kCalibrationFileEnding = ".map";

// Writes the calibration file for the image the joining script makes.
void WriteCalibration(const GridRequest& request);
// The same calibration file under another name, `file_name`, for the image
// `image_name` (by default the joining script's).
void WriteCalibration(const GridRequest& request, const std::string& file_name, const std::string& image_name = "");

}  // namespace rastrel
