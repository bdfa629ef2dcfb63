#include "console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace rastrel {
namespace {

using Args = std::vector<std::string>;

// Hands out `input` in chunks of `chunk` bytes, as a pipe may.
LineReader ReaderOver(const std::string& input, std::size_t chunk) {
  auto position = std::make_shared<std::size_t>(0);
  return LineReader([input, chunk, position](char* buffer, std::size_t capacity) {
    const std::size_t count = std::min({chunk, capacity, input.size() - *position});
    std::memcpy(buffer, input.data() + *position, count);
    *position += count;
    return count;
  });
}

TEST(LineReader, Rules) {
  const struct {
    std::string input;
    Args lines;  // the first reads; every read after them returns ""
  } cases[] = {
      {"a\nb\n", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb\nc", {"ab", "c"}},
      {"a\r", {"a"}},
      {"\n\n", {"", ""}},
      {" 7eb1 \n", {" 7eb1 "}},
      {"tail", {"tail"}},
      {"ab\x1a" "cd\nef\n", {"ab"}},
      {"\x1a" "x\n", {""}},
      {"a\nb\x1a\nc\n", {"a", "b"}},
      {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
  };
  for (std::size_t chunk : {1u, 3u, 4096u}) {
    for (const auto& c : cases) {
      LineReader reader = ReaderOver(c.input, chunk);
      for (const std::string& line : c.lines) EXPECT_EQ(reader.ReadLine(), line) << c.input;
      EXPECT_EQ(reader.ReadLine(), "") << c.input;
      EXPECT_EQ(reader.ReadLine(), "") << c.input;
    }
  }
}

}  // namespace
}  // namespace rastrel
