// rastrel2: the joining script for a block of tiles and the calibration
// file of the image it makes.
#include "calibration.h"
#include "console.h"
#include "mosaic_script.h"
#include "textout.h"

namespace {

using rastrel::GridRequest;
using rastrel::TextSink;

// Refuses, before any file is touched, what would leave conv.cmd with a block
// for a map that cannot exist: an empty grid or an unusable map name.
void CheckRequest(const GridRequest& request) {
  if (rastrel::TileCount(request.X()) < 1 || rastrel::TileCount(request.Y()) < 1) {
    rastrel::RaiseGridError("Empty tile grid: a stop key is lower than its start key");
  }
  if (!rastrel::IsUsableFileName(request.map_name, rastrel::kCalibrationFileEnding)) {
    rastrel::RaiseInOutError(rastrel::InvalidFileName());
  }
}

void Generate(const GridRequest& request, TextSink& console) {
  CheckRequest(request);
  rastrel::AppendMosaicScript(request);
  console.WriteLine("Generuji MAP soubor...");
  rastrel::WriteCalibration(request);
}

constexpr rastrel::ProgramProfile kProfile = {
    5,
    "rastrel xstart xstop ystart ystop name",
    "Rastrel 2 - skript pro slepeni dlazdic a kalibrace mapy",
    Generate,
};

}  // namespace

int main(int argc, char** argv) { return rastrel::RunProgram(argc, argv, kProfile); }
