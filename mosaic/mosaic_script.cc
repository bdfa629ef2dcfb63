#include "mosaic_script.h"

#include <string>

#include "tilegrid.h"

namespace rastrel {

namespace {

void OpenScript(TextSink& script) {
  script.Bind(kScriptName);
  if (IsExistingFile(kScriptName)) {
    script.OpenAppend();
  } else {
    script.OpenCreate();
  }
}

// "pnmcat -lr" joining the row's tiles west to east into its row image. A
// tile's image is "tg/aa_X_Y.pnm " with its labels; the part after the x
// label is the same for the whole row, so it is formatted once.
void WriteRowLine(TextSink& script, const GridRequest& request, TileKey y) {
  const KeyLabel row(y);
  const std::string tile_tail = FormatText("_%s.pnm ", {row.View()});
  script.Write("pnmcat -lr ");
  const std::int32_t columns = StepCount(request.X());
  for (std::int32_t c = 0; c <= columns; ++c) {
    script.Write("tg/aa_");
    script.Write(KeyLabel(KeyAt(request.X(), c)).View());
    script.Write(tile_tail);
  }
  script.WriteLine(FormatText("> line_%s.pnm", {row.View()}));
}

// "pnmcat -tb" stacking the row images, north-most first.
void WriteStackLine(TextSink& script, const GridRequest& request) {
  script.Write("pnmcat -tb ");
  for (std::int32_t r = StepCount(request.Y()); r >= 0; --r) {
    script.Write(FormatText("line_%s.pnm ", {KeyLabel(KeyAt(request.Y(), r)).View()}));
  }
  script.WriteLine("> temp.pnm ");
}

}  // namespace

void AppendMosaicScript(const GridRequest& request) {
  TextSink script;
  OpenScript(script);
  for (std::int32_t r = StepCount(request.Y()); r >= 0; --r) {
    WriteRowLine(script, request, KeyAt(request.Y(), r));
  }
  WriteStackLine(script, request);
  // The map name goes in exactly as entered and is never read as a format.
  script.WriteLine(FormatText("\"c:\\program files\\irfanview\\i_view32.exe\" temp.pnm /bpp=8 /convert=%s.png",
                              {request.map_name}));
  script.WriteLine("@del temp.pnm");
  script.WriteLine("@del line_*.pnm");
  script.Close();
}

}  // namespace rastrel
