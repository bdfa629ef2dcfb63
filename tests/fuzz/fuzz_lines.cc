// The line reader never returns a CR or an LF, and the lines it returns,
// joined, equal the input without its line ends and CRs, up to the first 1A.
// The first byte sets how many bytes each read hands over, as pipes vary.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "console.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t chunk = data[0] % 16 + 1;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::size_t position = 0;
  rastrel::LineReader reader([&](char* buffer, std::size_t capacity) {
    const std::size_t count = std::min({chunk, capacity, input.size() - position});
    std::memcpy(buffer, input.data() + position, count);
    position += count;
    return count;
  });

  const std::string text = input.substr(0, input.find('\x1a'));
  std::string expected;
  std::copy_if(text.begin(), text.end(), std::back_inserter(expected), [](char c) { return c != '\r' && c != '\n'; });
  const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
  std::string joined;
  for (long i = 0; i < lines; ++i) {
    const std::string line = reader.ReadLine();
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    joined += line;
  }
  FUZZ_CHECK(joined == expected);
  FUZZ_CHECK(reader.ReadLine().empty());
  return 0;
}
