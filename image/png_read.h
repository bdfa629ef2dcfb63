// Reads an 8-bit RGB PNG of PngStream's making back, a batch of rows at a
// time, for a second pass over a map too large to hold.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform.h"
#include "row_sink.h"

namespace rastrel {

// Gives the rows of the PNG `file` to the sink that `open` makes for its
// width and height, then finishes it; a broken or short file, or a sink that
// raises IoStatus, fails.
platform::IoStatus ReadPngRows(const std::string& file,
                               const std::function<RowSink&(std::uint32_t width, std::uint32_t height)>& open);

}  // namespace rastrel
