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

// "pnmcat -lr" joining the row's tiles west to east into its row image.
void WriteRowLine(TextSink& script, const GridRequest& request, TileKey y, std::string& piece) {
  const KeyLabel row(y);
  script.Write("pnmcat -lr ");
  const std::int32_t columns = StepCount(request.X());
  for (std::int32_t c = 0; c <= columns; ++c) {
    piece.clear();
    AppendFormatted(piece, "tg/aa_%s_%s.pnm ", {KeyLabel(KeyAt(request.X(), c)).View(), row.View()});
    script.Write(piece);
  }
  piece.clear();
  AppendFormatted(piece, "> line_%s.pnm", {row.View()});
  script.WriteLine(piece);
}

// "pnmcat -tb" stacking the row images, north-most first.
void WriteStackLine(TextSink& script, const GridRequest& request, std::string& piece) {
  script.Write("pnmcat -tb ");
  for (std::int32_t r = StepCount(request.Y()); r >= 0; --r) {
    piece.clear();
    AppendFormatted(piece, "line_%s.pnm ", {KeyLabel(KeyAt(request.Y(), r)).View()});
    script.Write(piece);
  }
  script.WriteLine("> temp.pnm ");
}

}  // namespace

void AppendMosaicScript(const GridRequest& request) {
  TextSink script;
  OpenScript(script);
  std::string piece;  // reused for every name, so nothing is allocated per tile
  for (std::int32_t r = StepCount(request.Y()); r >= 0; --r) {
    WriteRowLine(script, request, KeyAt(request.Y(), r), piece);
  }
  WriteStackLine(script, request, piece);
  // The map name goes in exactly as entered and is never read as a format.
  script.WriteLine(FormatText("\"c:\\program files\\irfanview\\i_view32.exe\" temp.pnm /bpp=8 /convert=%s.png",
                              {request.map_name}));
  script.WriteLine("@del temp.pnm");
  script.WriteLine("@del line_*.pnm");
  script.Close();
}

}  // namespace rastrel
