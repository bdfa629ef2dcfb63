#include "textout.h"

#include <gtest/gtest.h>

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

TEST(ConvertHexInteger, EightSignificantDigitsReadAsSigned) {
  EXPECT_EQ(ConvertHexInteger("0000ffffffff"), -1);
  EXPECT_EQ(ConvertHexInteger("09afAF"), 0x9afaf);
  for (const char* digits : {"", " 7eb1", "+7eb1", "0x7eb1", "$7eb1", "/", ":", "@", "G", "`", "g", "100000000"}) {
    try {
      ConvertHexInteger(digits);
      ADD_FAILURE() << "accepted " << digits;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("'$") + digits + "' is not a valid integer value");
    }
  }
}

TEST(FatalReportText, PeriodAndLength) {
  EXPECT_EQ(FatalReportText("EInOutError", "rastrel2.exe", CodeAddress{0x2E5F8}, InOutMessage(platform::IoStatus::Named(2))),
            "Exception EInOutError in module rastrel2.exe at 0002E5F8.\r\nFile not found.\r\n");
  EXPECT_EQ(FatalReportText("E", "r", CodeAddress{1}, "Ends in a period."), "Exception E in module r at 00000001.\r\nEnds in a period.\r\n");
  EXPECT_EQ(FatalReportText("E", "r", CodeAddress{0}, ""), "Exception E in module r at 00000000.\r\n\r\n");
  EXPECT_EQ(FatalReportText("E", "r", CodeAddress{0}, std::string(5000, '7')).size(), 1023u);
}

TEST(IsUsableFileName, NulAndLengthOfTheNameAndOfItsLastPart) {
  const std::string part255(255, 'n');
  // A backslash, and a drive letter's colon, separate parts on Windows only.
  const bool windows = platform::PathSeparators().find('\\') != std::string_view::npos;
  const struct {
    std::string name;
    bool usable;
  } cases[] = {
      {part255, true},
      {part255 + "x", false},
      {"dir/" + part255, true},
      {"dir\\" + part255, windows},
      {"Z:" + part255, windows},
      {std::string(100, 'd') + "/" + std::string(158, 'n'), true},
      {std::string(100, 'd') + "/" + std::string(159, 'n'), false},
      {std::string("ab\0", 3), false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsUsableFileName(c.name), c.usable) << c.name;
  // The ending counts towards both limits without being joined to the name.
  EXPECT_TRUE(IsUsableFileName(std::string(251, 'n'), ".map"));
  EXPECT_FALSE(IsUsableFileName("d/" + std::string(252, 'n'), ".map"));
  EXPECT_FALSE(IsUsableFileName(std::string(4, 'd') + "/" + std::string(251, 'n'), ".map"));
}

// Every file is refused such a name, not only the map's, before the system
// would open the file the name stops short at.
TEST(TextSink, RefusesANameWithNul) {
  TextSink sink;
  sink.Bind(std::string("rastrel-test\0.map", 17));
  EXPECT_THROW(sink.OpenCreate(), EInOutError);
}

}  // namespace
}  // namespace rastrel
