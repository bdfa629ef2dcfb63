// rastrel1: URL lists for wget and the per-tile merge script for a block of tiles.
#include "console.h"
#include "download_lists.h"

namespace {

void Generate(const rastrel::GridRequest& request, rastrel::TextSink&) { rastrel::WriteDownloadLists(request); }

constexpr rastrel::ProgramProfile kProfile = {
    4,
    "rastrel xstart xstop ystart ystop",
    "Rastrel 1 - seznamy dlazdic ke stazeni a skript pro jejich slouceni",
    Generate,
};

}  // namespace

int main(int argc, char** argv) { return rastrel::RunProgram(argc, argv, kProfile); }
