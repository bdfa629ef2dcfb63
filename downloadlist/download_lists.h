// rastrel1's generator: three URL lists for wget, one per map layer, and
// do_merge.cmd, which calls the user's merge_fn.cmd once per tile.
#pragma once

#include "console.h"

namespace rastrel {

// Creates (or truncates) wget_map.dat, wget_cyk.dat, wget_tur.dat and
// do_merge.cmd and writes one line per tile to each, column by column west
// to east and, within a column, south to north.
void WriteDownloadLists(const GridRequest& request);

}  // namespace rastrel
