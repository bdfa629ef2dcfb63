#include "textout.h"

#include <gtest/gtest.h>

#include <string>

namespace rastrel {
namespace {

TEST(FormatText, Directives) {
  const struct {
    const char* format;
    std::initializer_list<FormatArg> args;
    std::string expected;
  } cases[] = {
      {"%d|%d", {std::int64_t{-9223372036854775807LL - 1}, 0}, "-9223372036854775808|0"},
      {"[%5d|%5d|%5d]", {42, -257, 1234567}, "[   42| -257|1234567]"},
      {"[%11d]", {-3662752}, "[   -3662752]"},
      {"%.02d|%.02d|%.02d", {3, -5, 123}, "03|-05|123"},
      {"[%4x|%4x|%4x|%4x]", {0xA, 0x123, 0x12345, -1}, "[   A| 123|12345|FFFFFFFF]"},
      {"%p", {CodeAddress{0x2b}}, "0000002B"},
      {"a%sb", {"%d%s%"}, "a%d%s%b"},
      {"100%|%q%d|%d %d", {7, 1}, "100%|%q7|1 %d"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatText(c.format, c.args), c.expected) << c.format;
}

TEST(ToLowerAscii, OnlyAsciiCapitalsChange) {
  std::string text = "AZaz@[`{HTTP_\xC9\xE9";
  ToLowerAscii(text);
  EXPECT_EQ(text, "azaz@[`{http_\xC9\xE9");
}

TEST(ConvertHexInteger, AcceptedDigits) {
  const struct {
    const char* digits;
    std::int32_t value;
  } cases[] = {
      {"7eb1", 0x7eb1},     {"7EB1", 0x7eb1},          {"000000007eb1", 0x7eb1}, {"0", 0},
      {"00000000000", 0},   {"7FFFFFFF", 0x7fffffff},  {"FFFFFFFF", -1},         {"80000000", INT32_MIN},
      {"0000ffffffff", -1}, {"09afAF", 0x9afaf},
  };
  for (const auto& c : cases) EXPECT_EQ(ConvertHexInteger(c.digits), c.value) << c.digits;
}

TEST(ConvertHexInteger, RejectedWithMessageQuotingTheText) {
  for (const char* digits : {"", " 7eb1", "7eb1 ", "+7eb1", "-1", "0x7eb1", "$7eb1", "7e b1", "7eg1", "/", ":",
                             "@", "G", "`", "g", "100000000", "123456789", "\xE9"}) {
    try {
      ConvertHexInteger(digits);
      ADD_FAILURE() << "accepted " << digits;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("'$") + digits + "' is not a valid integer value");
    }
  }
}

TEST(FatalReportText, PeriodAndLength) {
  EXPECT_EQ(FatalReportText("EInOutError", "rastrel2.exe", CodeAddress{0x2E5F8}, "File access denied"),
            "Exception EInOutError in module rastrel2.exe at 0002E5F8.\r\nFile access denied.\r\n");
  EXPECT_EQ(FatalReportText("EGridError", "r", CodeAddress{1}, "Ends in a period."),
            "Exception EGridError in module r at 00000001.\r\nEnds in a period.\r\n");
  EXPECT_EQ(FatalReportText("Exception", "r", CodeAddress{0}, ""), "Exception Exception in module r at 00000000.\r\n\r\n");
  EXPECT_EQ(FatalReportText("E", "r", CodeAddress{0}, std::string(5000, '7')).size(), 1023u);
}

TEST(InOutMessage, NamedCodesAndTheRest) {
  EXPECT_EQ(InOutMessage(platform::IoStatus::Named(2)), "File not found");
  EXPECT_EQ(InOutMessage(platform::IoStatus::System(5)), "I/O error 5");
}

TEST(IsUsableFileName, NulAndLengthOfTheNameAndOfItsLastPart) {
  const std::string part255(255, 'n');
  // A backslash separates folders on Windows only.
  const bool backslash_separates = platform::PathSeparators().find('\\') != std::string_view::npos;
  const struct {
    std::string name;
    bool usable;
  } cases[] = {
      {"", true},
      {part255, true},
      {part255 + "x", false},
      {"dir/" + part255, true},
      {"d/" + part255 + "x", false},
      {"dir\\" + part255, backslash_separates},
      {std::string(100, 'd') + "/" + std::string(158, 'n'), true},
      {std::string(100, 'd') + "/" + std::string(159, 'n'), false},
      {std::string("a\0b", 3), false},
      {std::string("ab\0", 3), false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsUsableFileName(c.name), c.usable) << c.name;
}

}  // namespace
}  // namespace rastrel
