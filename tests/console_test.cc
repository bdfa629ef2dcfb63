#include "console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace rastrel {
namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, Rules) {
  const struct {
    const char* line;
    Args expected;
  } cases[] = {
      {"", {}},
      {"7eb1 7ec1", {"7eb1", "7ec1"}},
      {"  7eb1 \t\r\n\x01 7ec1  ", {"7eb1", "7ec1"}},
      {"\"My Map\"", {"My Map"}},
      {"\"a\"b", {"ab"}},
      {"a\"b c\"d e", {"ab cd", "e"}},
      {"x \"\" y", {"x", "y"}},
      {"x \"", {"x"}},
      {"x \"open to the end", {"x", "open to the end"}},
      {"c:\\dir\\ \"\\\"", {"c:\\dir\\", "\\"}},
      {"\"\t\"", {"\t"}},
      {"\xE9!~", {"\xE9!~"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.expected) << c.line;
}

TEST(SkipProgramName, NameRunsToTheFirstSeparatorOutsideQuotes) {
  const struct {
    const char* line;
    const char* rest;
  } cases[] = {
      {"rastrel2.exe 7eb1", " 7eb1"},
      {"\"c:\\program files\\rastrel2.exe\" 7eb1", " 7eb1"},
      {"c:\\my\"dir x\"\\r.exe\ta", "\ta"},
      {"rastrel2", ""},
      {"\"unterminated name", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(SkipProgramName(c.line), c.rest) << c.line;
}

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

TEST(LineReader, LongLineReadWhole) {
  const std::string line(1 << 20, 'x');
  LineReader reader = ReaderOver(line + "\r\nnext", 4096);
  EXPECT_EQ(reader.ReadLine(), line);
  EXPECT_EQ(reader.ReadLine(), "next");
}

}  // namespace
}  // namespace rastrel
