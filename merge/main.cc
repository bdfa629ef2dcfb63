// rastrel-merge X_Y...: for each tile named as do_merge.cmd names it, the
// tile image tg/aa_X_Y.pnm that conv.cmd joins, from the base layer
// tiles_map/13_X_Y and the overlays tiles_cyk/13_X_Y and tiles_tur/13_X_Y.
// A missing or empty overlay is left out; one that is not a tile's PNG is left
// out with a line; a base that is missing or not a tile's PNG gives a white
// tile with a line. A tile image that cannot be written ends the run.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"
#include "textout.h"
#include "tile_merge.h"

namespace {

using rastrel::Pixels;

void Note(const std::string& line) {
  const std::string text = "rastrel-merge: " + line + "\n";
  rastrel::platform::WriteStderr(text.data(), text.size());
}

void WriteTileImage(const std::string& tile, const Pixels& image) {
  const std::string name = "tg/aa_" + tile + ".pnm";
  const rastrel::platform::IoStatus status = rastrel::WriteWholeFile(name, rastrel::TilePpm(image), name + ".tmp");
  if (status.Failed()) rastrel::RaiseInOutError(status);
}

void MergeTile(const std::string& tile) { WriteTileImage(tile, rastrel::MergeTile("", tile, Note)); }

bool IsHexRun(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

// A tile as do_merge.cmd names it: two runs of hexadecimal digits joined by
// "_". Nothing else reaches a file name, so no argument can name a file
// outside the tile folders.
void CheckTileName(std::string_view tile) {
  const std::size_t underscore = tile.find('_');
  if (underscore == std::string_view::npos || !IsHexRun(tile.substr(0, underscore)) ||
      !IsHexRun(tile.substr(underscore + 1))) {
    throw rastrel::EConvertError(
        rastrel::FormatText("'%s' is not a tile such as 7eb1000_8041000", {tile.substr(0, 256)}),
        reinterpret_cast<const void*>(&CheckTileName));
  }
}

void Run(const std::vector<std::string>& tiles) {
  std::for_each(tiles.begin(), tiles.end(), CheckTileName);
  rastrel::CheckIo(rastrel::platform::MakeDirectory("tg"));
  std::for_each(tiles.begin(), tiles.end(), MergeTile);
}

}  // namespace

int main(int argc, char** argv) {
  namespace platform = rastrel::platform;
  platform::InitProcess();
  const std::string program_name = platform::ProgramFileName(argc, argv);
  try {
    std::vector<std::string> tiles = platform::CommandLineArguments(argc, argv);
    std::erase(tiles, std::string());
    if (tiles.empty()) {
      rastrel::CheckIo(platform::WriteStdout("rastrel-merge X_Y...\n", 21));
      return 0;
    }
    Run(tiles);
    return 0;
  } catch (const rastrel::Exception& failure) {
    return rastrel::ReportFatal(failure, program_name);
  } catch (const std::bad_alloc&) {
    return rastrel::ReportFatal(rastrel::EOutOfMemory(reinterpret_cast<const void*>(&main)), program_name);
  }
}
