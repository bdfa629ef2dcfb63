// The console front end both programs share: the values from the command line
// or from the Czech dialogue, the grid-size line, the generator, "Hotovo.",
// and the one place where a failure is turned into the fatal report.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "textout.h"
#include "tilegrid.h"

namespace rastrel {

struct GridRequest {
  TileKey xstart = 0;
  TileKey xstop = 0;
  TileKey ystart = 0;
  TileKey ystop = 0;
  std::string map_name;  // rastrel2 only; used exactly as entered

  TileRange X() const { return {xstart, xstop}; }
  TileRange Y() const { return {ystart, ystop}; }
};

// What tells the two programs apart.
struct ProgramProfile {
  std::size_t argument_count;  // 4 keys, or 4 keys and the map name
  const char* usage;
  const char* banner;
  // Writes the program's files; `console` takes its progress messages.
  void (*generate)(const GridRequest& request, TextSink& console);
};

// Reads lines from a byte source. A line ends at LF; every CR is dropped; the
// byte 1A ends the input as its real end does. At the end every read returns
// the text left, possibly empty, and never fails.
class LineReader {
 public:
  // Fills the buffer and returns the byte count, 0 at the end of the input.
  using Source = std::function<std::size_t(char* buffer, std::size_t capacity)>;

  explicit LineReader(Source source) : source_(std::move(source)) {}
  std::string ReadLine();

 private:
  bool Refill();

  Source source_;
  std::array<char, 4096> buffer_;
  std::size_t position_ = 0;
  std::size_t end_ = 0;
  bool finished_ = false;
};

// Runs a whole program and returns its exit status: 0 after a completed run or
// the usage line, 1 after the fatal report.
int RunProgram(int argc, char** argv, const ProgramProfile& profile);

}  // namespace rastrel
