// The command-line splitter never yields an empty argument, and the
// arguments joined equal the input without its double quotes and without
// the bytes 1 to 32 that stand outside a quoted stretch. The program name
// is always a prefix of the command line.
#include <cstdint>
#include <string>

#include "console.h"
#include "fuzz_check.h"

namespace {

std::string WithoutQuotesAndSeparators(const std::string& line) {
  std::string kept;
  bool quoted = false;
  for (char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted || byte == 0 || byte > 32) {
      kept += c;
    }
  }
  return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  std::string joined;
  for (const std::string& argument : rastrel::SplitCommandLine(line)) {
    FUZZ_CHECK(!argument.empty());
    joined += argument;
  }
  FUZZ_CHECK(joined == WithoutQuotesAndSeparators(line));
  const std::string_view rest = rastrel::SkipProgramName(line);
  FUZZ_CHECK(line.ends_with(rest));
  return 0;
}
