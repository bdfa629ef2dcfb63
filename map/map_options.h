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
  std::string server;          // the base address, before the layer folders
  std::string tiles;           // the tile folder: NAME_tiles, or the one named
  bool tiles_shared = false;   // named with --tiles: other maps may use it too
  unsigned connections = 2;
  unsigned jobs = 1;
  bool refresh = false, ozf2 = false, geotiff = false, mbtiles = false;
};

// A command line refused before anything is fetched or written: its one line.
struct Refusal {
  std::string message;
};

// The options and the block of the arguments after the program name; raises
// Refusal. `processors` is the default of --jobs; `server_variable` is
// RASTREL_SERVER's value (null where it is not set), taken where --server
// is not given, and `build_server` the base address where neither is.
MapOptions ParseMapOptions(const std::vector<std::string>& arguments, unsigned processors,
                           const char* server_variable, const std::string& build_server);

extern const char* const kMapUsage;
extern const char* const kMapHelp;

}  // namespace rastrel
