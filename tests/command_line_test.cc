#include "command_line.h"

#include <gtest/gtest.h>

namespace rastrel {
namespace {

TEST(SplitCommandLine, Rules) {
  const struct {
    const char* line;
    std::vector<std::string> expected;
  } cases[] = {
      {"", {}},
      {"  7eb1 \t\r\n\x01 7ec1  ", {"7eb1", "7ec1"}},
      {"\"My Map\"", {"My Map"}},
      {"a\"b c\"d e", {"ab cd", "e"}},
      {"x \"\" y", {"x", "y"}},
      {"x \"", {"x"}},
      {"x \"open to the end", {"x", "open to the end"}},
      {"c:\\dir\\ \"\\\"", {"c:\\dir\\", "\\"}},
      {"\"\t\"\xE9!~", {"\t\xE9!~"}},
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

}  // namespace
}  // namespace rastrel
