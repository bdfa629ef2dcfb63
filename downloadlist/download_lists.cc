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
  // Everything of a line up to its y label: takes the x label. The tile's y
  // label ends the line.
  const char* column_format;
};

// In the order the files are created, written per tile and closed.
constexpr std::array<ListFile, 4> kListFiles = {{
    {"wget_map.dat", RASTREL_BASE_ADDRESS "/turist/13_%s_"},
    {"wget_cyk.dat", RASTREL_BASE_ADDRESS "/tcyklo/13_%s_"},
    {"wget_tur.dat", RASTREL_BASE_ADDRESS "/ttur/13_%s_"},
    {"do_merge.cmd", "@call merge_fn.cmd %s_"},
}};

// The lines of one column differ only in their y label, so each file's line
// head is formatted once per column. Every line is lower-cased whole; the
// key labels are lower-case already, so lower-casing the head is the same.
void FormatColumnHeads(TileKey x, std::array<std::string, kListFiles.size()>& heads) {
  const KeyLabel label(x);
  for (std::size_t f = 0; f < heads.size(); ++f) {
    heads[f] = FormatText(kListFiles[f].column_format, {label.View()});
    ToLowerAscii(heads[f]);
  }
}

}  // namespace

void WriteDownloadLists(const GridRequest& request) {
  std::array<TextSink, kListFiles.size()> files;
  for (std::size_t f = 0; f < files.size(); ++f) files[f].Bind(kListFiles[f].name);
  for (TextSink& file : files) file.OpenCreate();

  const std::int32_t columns = StepCount(request.X());
  const std::int32_t rows = StepCount(request.Y());
  std::array<std::string, kListFiles.size()> heads;
  for (std::int32_t i = 0; i <= columns; ++i) {
    FormatColumnHeads(KeyAt(request.X(), i), heads);
    for (std::int32_t j = 0; j <= rows; ++j) {
      const KeyLabel y(KeyAt(request.Y(), j));
      for (std::size_t f = 0; f < files.size(); ++f) {
        files[f].Write(heads[f]);
        files[f].WriteLine(y.View());
      }
    }
  }
  for (TextSink& file : files) file.Close();
}

std::string BuildServer() {
  std::string base = RASTREL_BASE_ADDRESS;
  ToLowerAscii(base);
  return base;
}

std::string TilePath(std::size_t layer, TileKey x, TileKey y) {
  const std::string_view line_head = kListFiles.at(layer).column_format;
  std::string path = FormatText(line_head.substr(std::size(RASTREL_BASE_ADDRESS) - 1), {KeyLabel(x).View()});
  return path.append(KeyLabel(y).View());
}

}  // namespace rastrel
