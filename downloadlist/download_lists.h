// rastrel1's generator: three URL lists for wget, one per map layer, and
// do_merge.cmd, which calls the user's merge_fn.cmd once per tile.
#pragma once

#include <cstddef>
#include <string>

#include "console.h"
#include "tilegrid.h"

namespace rastrel {

// Creates (or truncates) wget_map.dat, wget_cyk.dat, wget_tur.dat and
// do_merge.cmd and writes one line per tile to each, column by column west
// to east and, within a column, south to north.
void WriteDownloadLists(const GridRequest& request);

// The base address of the server the lists name ("http://HOST", lower case).
std::string BuildServer();

// The path of one layer of a tile below a server's base address, as the
// lists give it ("/turist/13_X_Y"): layer 0 the base (wget_map.dat), 1 and 2
// the overlays (wget_cyk.dat, wget_tur.dat).
std::string TilePath(std::size_t layer, TileKey x, TileKey y);

}  // namespace rastrel
