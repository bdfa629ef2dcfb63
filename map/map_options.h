// rastrel-map's command line: what to make, or why the line is refused.
#pragma once

#include <string>
#include <vector>

#include "console.h"

namespace rastrel {

struct MapOptions {
  enum class Action { kMap, kBlock, kHelp, kVersion };
  Action action = Action::kMap;
  GridRequest block;          // the keys, and the map name
  std::string keys_text;      // the four keys as the lines show them
  unsigned connections = 2;
  unsigned jobs = 1;
  bool refresh = false, geotiff = false, mbtiles = false;
};

// A command line refused before anything is fetched or written: its one line.
struct Refusal {
  std::string message;
};

// The options and the block of the arguments after the program name; raises
// Refusal. `processors` is the default of --jobs.
MapOptions ParseMapOptions(const std::vector<std::string>& arguments, unsigned processors);

extern const char* const kMapUsage;
extern const char* const kMapHelp;

}  // namespace rastrel
