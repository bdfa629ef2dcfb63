// rastrel-map's command line: what to make, or why the line is refused.
#pragma once

#include <string>
#include <vector>

#include "console.h"

namespace rastrel {

// Requests at once over HTTP/2 unless --streams says otherwise: a browser
// showing a map page asks a server for about as many tiles at once, and at a
// round trip of 100 ms it fetches some 300 files a second.
constexpr unsigned kDefaultStreams = 32;

struct MapOptions {
  enum class Action { kMap, kBlock, kHelp, kVersion };
  Action action = Action::kMap;
  GridRequest block;          // the keys, and the map name
  std::string keys_text;      // the four keys as the lines show them
  std::string server;          // the base address, before the layer folders
  std::string tiles;           // the tile folder: NAME_tiles, or the one named
  bool tiles_shared = false;   // named with --tiles: other maps may use it too
  unsigned connections = 2;
  unsigned streams = kDefaultStreams;  // requests at once over HTTP/2
  double per_second = 0;               // --rate, 0 for none
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

// "N/s", "N/m" or "N/h" as requests a second; 0 where the text is not one.
double ParseRate(const std::string& text);

extern const char* const kMapUsage;
extern const char* const kMapHelp;

}  // namespace rastrel
