#include "map_options.h"

#include <algorithm>
#include <optional>

#include "box_keys.h"
#include "map_image.h"
#include "platform.h"
#include "server_address.h"
#include "textout.h"
#include "tile_folder.h"

namespace rastrel {

const char* const kMapUsage =
    "usage: rastrel-map [OPTIONS] WEST SOUTH EAST NORTH NAME\n"
    "       rastrel-map [OPTIONS] --keys XSTART XSTOP YSTART YSTOP NAME\n"
    "       rastrel-map --block [--remainder R] WEST SOUTH EAST NORTH\n";

const char* const kMapHelp =
    "\n"
    "Makes NAME.png and its OziExplorer calibration NAME.map in the current folder\n"
    "from the tiles of a box (decimal degrees on WGS 84, longitude first) or of a\n"
    "block of keys. The tiles stay in NAME_tiles, so a run again fetches only what\n"
    "is missing.\n"
    "\n"
    "  --server URL         the tile server's base address, before /turist/...,\n"
    "                       such as https://maps.example.org/tiles; by default\n"
    "                       the environment variable RASTREL_SERVER, so set that\n"
    "                       once for good: in ~/.profile on Linux\n"
    "                       (export RASTREL_SERVER=URL), with setx RASTREL_SERVER\n"
    "                       URL on Windows\n"
    "  --tiles DIR          keep the tiles in DIR instead of NAME_tiles; maps of\n"
    "                       overlapping areas can share it\n"
    "  --keys               take four hexadecimal keys instead of a box\n"
    "  --block              print the four keys of a box's block and stop\n"
    "  --remainder R        the server's keys modulo 8, for a box (default 1)\n"
    "  --connections N      connections to the server, 1 to 16 (default 2); many\n"
    "                       public servers forbid bulk downloads: their usage\n"
    "                       policy decides how far to raise it\n"
    "  --streams N          requests at once over HTTP/2, on those connections,\n"
    "                       1 to 128 (default 32, about what a browser asks of a\n"
    "                       map server); over HTTP/1.1 one a connection\n"
    "  --rate N/s           at most N requests a second (or N/m a minute, N/h an\n"
    "                       hour), evenly spaced; none by default\n"
    "  --jobs N             threads that merge and compress, 1 to 64\n"
    "                       (default: processors)\n"
    "  --refresh            ask the server again for the tiles kept, if changed\n"
    "  --ozf2               make NAME.ozf2 instead of NAME.png: OziExplorer's\n"
    "                       paged image with its zoom levels, 256 colours at\n"
    "                       most, for OziExplorer CE, Android map programs and\n"
    "                       maps too large to load whole; NAME.map names it\n"
    "  --geotiff            also make NAME.tif (needs GDAL's gdal_translate)\n"
    "  --mbtiles            also make NAME.mbtiles (needs GDAL)\n"
    "  --help, --version\n";

namespace {

[[noreturn]] void Refuse(std::string message) { throw Refusal{std::move(message)}; }

unsigned WholeNumber(const std::string& option, const std::string& text, unsigned low, unsigned high) {
  const bool digits = !text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == std::string::npos;
  const unsigned value = digits ? static_cast<unsigned>(std::stoul(text)) : 0;
  if (!digits || value < low || value > high) {
    Refuse(FormatText("%s needs a whole number from %d to %d, not '%s'", {option, low, high, text}));
  }
  return value;
}

bool IsValued(const std::string& option) {
  for (const char* valued : {"--connections", "--streams", "--rate", "--jobs", "--remainder", "--server", "--tiles"}) {
    if (option == valued) return true;
  }
  return false;
}

bool IsKey(const std::string& text) {
  return !text.empty() && text.size() <= 8 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

void TakeKeys(const std::vector<std::string>& given, MapOptions& options) {
  for (std::size_t i = 0; i < 4; ++i) {
    if (!IsKey(given[i])) Refuse("'" + given[i] + "' is not a key: 1 to 8 hexadecimal digits, such as 7eb1");
  }
  GridRequest& block = options.block;
  block.xstart = ParseTileKey(given[0]);
  block.xstop = ParseTileKey(given[1]);
  block.ystart = ParseTileKey(given[2]);
  block.ystop = ParseTileKey(given[3]);
  options.keys_text = given[0] + " " + given[1] + " " + given[2] + " " + given[3];
}

void TakeBox(const std::vector<std::string>& given, int remainder, MapOptions& options) {
  const std::string texts[4] = {given[0], given[1], given[2], given[3]};
  Box box;
  const std::string problem = BoxProblem(texts, box);
  if (!problem.empty()) Refuse(problem);
  const GridRequest block = BlockOfBox(box, remainder);
  options.block.xstart = block.xstart;
  options.block.xstop = block.xstop;
  options.block.ystart = block.ystart;
  options.block.ystop = block.ystop;
  options.keys_text = KeyText(block.xstart) + " " + KeyText(block.xstop) + " " + KeyText(block.ystart) + " " +
                      KeyText(block.ystop);
}

// Whether the system can open a file of this name: its last part at most
// 255 bytes, the whole within the system's limit (4095 bytes on Linux, 259
// characters on Windows).
bool CanName(const std::string& name, std::string_view ending) {
  return IsUsableFileName(name, ending, platform::LongestPathName());
}

// Every file a run writes must be possible: its longest names are the work
// files in NAME_tiles and the tiles while they are written.
void CheckNames(const std::string& name, const std::string& tiles) {
  if (name.empty()) Refuse("the map name is empty");
  if (name.find_first_of(platform::PathSeparators()) != std::string::npos) {
    Refuse("the map name '" + name + "' holds a folder: run rastrel-map in the map's folder, with a name alone");
  }
  // In NAME_tiles, the work files' names are the longer ones.
  // The calibration's writer takes paths within 259 characters alone.
  if (!CanName(name + "_tiles/" + name, ".palette.png") || !IsUsableFileName(MapImage::CalibrationWork(name + "_tiles"))) {
    Refuse("the map name '" + name + "' is too long for the names of its files");
  }
  if (!CanName(TileFolder(tiles, true).LongestFileName(), "")) {
    Refuse("the tile folder '" + tiles + "' has too long a name for the names of its tiles");
  }
}

std::string ServerBase(const std::optional<std::string>& option, const char* variable,
                       const std::string& build_server) {
  if (!option && variable == nullptr) {
    if (build_server != "http://tiles.example.com") return build_server;
    Refuse("name your tile server: --server URL, or the environment variable RASTREL_SERVER (this build knows no "
           "server; rastrel-map --help says more)");
  }
  const ServerAddress address = CheckServerAddress(option ? *option : variable);
  if (!address.problem.empty()) Refuse(address.problem + (option ? "" : " (from RASTREL_SERVER)"));
  return address.base;
}

std::string OneLine(std::string text) {
  std::string line;
  for (char c : text) {
    if ((c == ' ' || c == '\n') && (line.empty() || line.back() == ' ')) continue;
    line += c == '\n' ? ' ' : c;
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

}  // namespace

double ParseRate(const std::string& text) {
  const std::size_t slash = text.find('/');
  const std::string count = text.substr(0, slash);
  if (slash == std::string::npos || count.empty() || count.size() > 6 ||
      count.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  const std::string unit = text.substr(slash + 1);
  const double seconds = unit == "s" ? 1 : unit == "m" ? 60 : unit == "h" ? 3600 : 0;
  return seconds == 0 ? 0 : std::stod(count) / seconds;
}

MapOptions ParseMapOptions(const std::vector<std::string>& arguments, unsigned processors,
                           const char* server_variable, const std::string& build_server) {
  MapOptions options;
  options.jobs = std::clamp(processors, 1u, 64u);
  bool keys = false, remainder_given = false, tiles_given = false;
  std::optional<std::string> server;
  std::string map_option;  // the last option given that only a map run takes
  int remainder = 1;
  std::size_t i = 0;
  for (; i < arguments.size(); ++i) {
    // --option=value as --option value.
    std::string option = arguments[i];
    std::optional<std::string> joined;
    if (const std::size_t equals = option.find('='); option.starts_with("--") && equals != std::string::npos) {
      joined = option.substr(equals + 1);
      option.erase(equals);
    }
    if (option == "--help" || option == "--version") {
      options.action = option == "--help" ? MapOptions::Action::kHelp : MapOptions::Action::kVersion;
      return options;
    }
    const bool valued = IsValued(option);
    if (joined && !valued) Refuse(option + " takes no value");
    if (option == "--keys") keys = true;
    else if (option == "--block") options.action = MapOptions::Action::kBlock;
    else if (option == "--refresh") options.refresh = true;
    else if (option == "--ozf2") options.ozf2 = true;
    else if (option == "--geotiff") options.geotiff = true;
    else if (option == "--mbtiles") options.mbtiles = true;
    else if (valued) {
      // An option where its value should be is a value forgotten.
      const bool forgotten = !joined && (i + 1 == arguments.size() || arguments[i + 1].starts_with("--"));
      if (forgotten) Refuse(option + " needs a value");
      const std::string value = joined ? *joined : arguments[++i];
      if (option == "--connections") options.connections = WholeNumber(option, value, 1, 16);
      if (option == "--streams") options.streams = WholeNumber(option, value, 1, 128);
      if (option == "--rate" && (options.per_second = ParseRate(value)) == 0) {
        Refuse("--rate needs requests a second, a minute or an hour, such as 10/s, 100/m or 1000/h, not '" + value +
               "'");
      }
      if (option == "--jobs") options.jobs = WholeNumber(option, value, 1, 64);
      if (option == "--remainder") remainder = static_cast<int>(WholeNumber(option, value, 0, 7));
      if (option == "--server") server = value;
      if (option == "--tiles") options.tiles = value;
      remainder_given |= option == "--remainder";
      tiles_given |= option == "--tiles";
    } else if (option == "--") {
      ++i;
      break;
    } else if (option.size() > 1 && option[0] == '-' && option.find_first_of("0123456789.") != 1) {
      Refuse("unknown option " + option + " (rastrel-map --help lists them)");
    } else {
      break;
    }
    if (option != "--keys" && option != "--block" && option != "--remainder") map_option = option;
  }
  const std::vector<std::string> given(arguments.begin() + static_cast<std::ptrdiff_t>(i), arguments.end());
  const bool block_only = options.action == MapOptions::Action::kBlock;
  if (given.size() != (block_only ? 4u : 5u) || (block_only && keys)) {
    // An option at the end of the line, with its value forgotten.
    if (!given.empty() && IsValued(given.back())) Refuse(given.back() + " needs a value");
    Refuse(OneLine(kMapUsage));
  }
  if (block_only && !map_option.empty()) Refuse(map_option + " is for making a map, not for --block");
  if (keys && remainder_given) Refuse("--remainder is for a box, not for --keys");
  if (keys) {
    TakeKeys(given, options);
  } else {
    TakeBox(given, remainder, options);
  }
  if (block_only) return options;
  options.block.map_name = given[4];
  if (tiles_given && options.tiles.empty()) Refuse("--tiles needs a folder");
  if (!tiles_given) options.tiles = given[4] + "_tiles";
  options.tiles_shared = tiles_given;
  CheckNames(given[4], options.tiles);
  if (TileCount(options.block.X()) < 1 || TileCount(options.block.Y()) < 1) {
    Refuse("the block " + options.keys_text + " is empty: a stop key lies 8 or more below its start key");
  }
  options.server = ServerBase(server, server_variable, build_server);
  return options;
}

}  // namespace rastrel
