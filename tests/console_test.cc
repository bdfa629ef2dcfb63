#include "console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace rastrel {
namespace {

TEST(LineReader, Rules) {
  const struct {
    std::string input;
    std::vector<std::string> lines;  // the first reads; every read after them returns ""
  } cases[] = {
      {"a\rb\r\nc", {"ab", "c"}},
      {"\n\n", {"", ""}},
      {"a\nb\x1a\nc\n", {"a", "b"}},
      {std::string("a\0b\r", 4), {std::string("a\0b", 3)}},
  };
  // Pipes hand input over in pieces of any size.
  for (std::size_t chunk : {1u, 3u, 4096u}) {
    for (const auto& c : cases) {
      std::size_t position = 0;
      LineReader reader([&](char* buffer, std::size_t capacity) {
        const std::size_t count = std::min({chunk, capacity, c.input.size() - position});
        std::memcpy(buffer, c.input.data() + position, count);
        position += count;
        return count;
      });
      for (const std::string& line : c.lines) EXPECT_EQ(reader.ReadLine(), line) << c.input;
      EXPECT_EQ(reader.ReadLine(), "") << c.input;
      EXPECT_EQ(reader.ReadLine(), "") << c.input;
    }
  }
}

}  // namespace
}  // namespace rastrel
