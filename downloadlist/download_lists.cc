#include "download_lists.h"

#include <array>
#include <string>

#include "tilegrid.h"

#ifndef RASTREL_TILE_HOST
#error "RASTREL_TILE_HOST must name the tile server (set by the build)"
#endif

namespace rastrel {

namespace {

#define RASTREL_BASE_ADDRESS "http://" RASTREL_TILE_HOST

struct ListFile {
  const char* name;
  const char* line_format;  // takes the x and the y key label
};

// In the order the files are created, written per tile and closed.
constexpr std::array<ListFile, 4> kListFiles = {{
    {"wget_map.dat", RASTREL_BASE_ADDRESS "/turist/13_%s_%s"},
    {"wget_cyk.dat", RASTREL_BASE_ADDRESS "/tcyklo/13_%s_%s"},
    {"wget_tur.dat", RASTREL_BASE_ADDRESS "/ttur/13_%s_%s"},
    {"do_merge.cmd", "@call merge_fn.cmd %s_%s"},
}};

}  // namespace

void WriteDownloadLists(const GridRequest& request) {
  std::array<TextSink, kListFiles.size()> files;
  for (std::size_t f = 0; f < files.size(); ++f) files[f].Bind(kListFiles[f].name);
  for (TextSink& file : files) file.OpenCreate();

  const std::int32_t columns = StepCount(request.X());
  const std::int32_t rows = StepCount(request.Y());
  std::string line;  // reused for every line, so nothing is allocated per tile
  for (std::int32_t i = 0; i <= columns; ++i) {
    const KeyLabel x(KeyAt(request.X(), i));
    for (std::int32_t j = 0; j <= rows; ++j) {
      const KeyLabel y(KeyAt(request.Y(), j));
      for (std::size_t f = 0; f < files.size(); ++f) {
        line.clear();
        AppendFormatted(line, kListFiles[f].line_format, {x.View(), y.View()});
        ToLowerAscii(line);
        files[f].WriteLine(line);
      }
    }
  }
  for (TextSink& file : files) file.Close();
}

}  // namespace rastrel
