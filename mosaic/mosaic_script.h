// rastrel2's joining script: the commands appended to conv.cmd that join the
// block's tile images into rows, stack the rows into one image and convert it
// to a PNG named after the map.
#pragma once

#include "console.h"

namespace rastrel {

inline constexpr const char* kScriptName = "conv.cmd";

// Appends one block to conv.cmd, creating it when missing. The first row of
// the image is the north-most tile row, its first column the west-most.
void AppendMosaicScript(const GridRequest& request);

}  // namespace rastrel
