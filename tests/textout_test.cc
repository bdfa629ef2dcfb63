#include "textout.h"

#include <gtest/gtest.h>

#include <string>

namespace rastrel {
namespace {

struct FormatCase {
  const char* format;
  std::initializer_list<FormatArg> args;
  std::string expected;
};

TEST(FormatText, Directives) {
  const FormatCase cases[] = {
      {"%d", {0}, "0"},
      {"%d", {-123}, "-123"},
      {"%dx%d", {3, -1}, "3x-1"},
      {"%d", {std::int64_t{-9223372036854775807LL - 1}}, "-9223372036854775808"},
      {"[%5d]", {42}, "[   42]"},
      {"[%5d]", {-257}, "[ -257]"},
      {"[%5d]", {1234567}, "[1234567]"},
      {"[%11d]", {5505696}, "[    5505696]"},
      {"[%11d]", {-3662752}, "[   -3662752]"},
      {"[%11d]", {std::int64_t{274877906944}}, "[274877906944]"},
      {"Point%.02d", {3}, "Point03"},
      {"Point%.02d", {30}, "Point30"},
      {"%.02d", {-5}, "-05"},
      {"%.02d", {123}, "123"},
      {"[%4x]", {0x123}, "[ 123]"},
      {"[%4x]", {0x7eb1}, "[7EB1]"},
      {"[%4x]", {0x12345}, "[12345]"},
      {"[%4x]", {-1}, "[FFFFFFFF]"},
      {"%p", {CodeAddress{0x2b}}, "0000002B"},
      {"%p", {CodeAddress{0xDEADBEEF}}, "DEADBEEF"},
      {"a%sb", {"%d%s%"}, "a%d%s%b"},
      {"%s", {""}, ""},
      {"> temp.pnm ", {}, "> temp.pnm "},
      {"100%", {}, "100%"},
      {"%q%d", {7}, "%q7"},
      {"%d %d", {1}, "1 %d"},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(FormatText(c.format, c.args), c.expected) << c.format;
  }
}

TEST(FormatText, TextArgumentCopiedWhateverItHolds) {
  std::string text;
  for (int i = 0; i < (1 << 20); ++i) text += static_cast<char>("%sd\0\r\n\x1a\xe9"[i % 8]);
  EXPECT_EQ(FormatText("%s", {text}), text);
}

TEST(FormatText, AppendsToWhatIsThere) {
  std::string out = "head:";
  AppendFormatted(out, "%s_%s", {"a", "b"});
  EXPECT_EQ(out, "head:a_b");
}

TEST(ToLowerAscii, OnlyAsciiCapitalsChange) {
  std::string text = "HTTP://Tiles/7EB1_\xC9\xE9@[`{";
  ToLowerAscii(text);
  EXPECT_EQ(text, "http://tiles/7eb1_\xC9\xE9@[`{");
}

TEST(ConvertInteger, Accepted) {
  const struct {
    const char* text;
    std::int32_t value;
  } cases[] = {
      {"7eb1", 0x7eb1},         {"7EB1", 0x7eb1},     {"000000007eb1", 0x7eb1}, {"0", 0},
      {"00000000000", 0},       {"7FFFFFFF", 0x7fffffff}, {"FFFFFFFF", -1},    {"80000000", INT32_MIN},
      {"0000ffffffff", -1},     {"fffffff0", -16},
  };
  for (const auto& c : cases) EXPECT_EQ(ConvertHexInteger(c.text), c.value) << c.text;
}

TEST(ConvertInteger, RejectedWithMessageQuotingTheText) {
  const char* cases[] = {"",  " 7eb1", "7eb1 ", "+7eb1", "-1",  "0x7eb1",
                         "$7eb1", "7e b1", "7eg1", "100000000", "123456789", "\xE9"};
  for (const char* text : cases) {
    try {
      ConvertHexInteger(text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("'$") + text + "' is not a valid integer value");
      EXPECT_STREQ(e.ClassName(), "EConvertError");
    }
  }
}

TEST(FatalReportText, PeriodAndLength) {
  EXPECT_EQ(FatalReportText("EInOutError", "rastrel2.exe", CodeAddress{0x2E5F8}, "File access denied"),
            "Exception EInOutError in module rastrel2.exe at 0002E5F8.\r\nFile access denied.\r\n");
  EXPECT_EQ(FatalReportText("EGridError", "rastrel2", CodeAddress{1}, "Ends in a period."),
            "Exception EGridError in module rastrel2 at 00000001.\r\nEnds in a period.\r\n");
  EXPECT_EQ(FatalReportText("Exception", "r", CodeAddress{0}, ""), "Exception Exception in module r at 00000000.\r\n\r\n");
  const std::string report = FatalReportText("EConvertError", "rastrel1", CodeAddress{0}, std::string(5000, '7'));
  EXPECT_EQ(report.size(), 1023u);
  EXPECT_EQ(report.substr(0, 50), "Exception EConvertError in module rastrel1 at 0000");
  EXPECT_EQ(report.back(), '7');
}

TEST(InOutMessage, NamedCodesAndTheRest) {
  using platform::IoStatus;
  EXPECT_EQ(InOutMessage(IoStatus::Named(2)), "File not found");
  EXPECT_EQ(InOutMessage(IoStatus::Named(3)), "Invalid filename");
  EXPECT_EQ(InOutMessage(IoStatus::Named(4)), "Too many open files");
  EXPECT_EQ(InOutMessage(IoStatus::Named(5)), "File access denied");
  EXPECT_EQ(InOutMessage(IoStatus::System(28)), "I/O error 28");
  EXPECT_EQ(InOutMessage(IoStatus::System(5)), "I/O error 5");
  EXPECT_EQ(InOutMessage(IoStatus::System(112)), "I/O error 112");
}

TEST(IsUsableFileName, LengthOfTheNameAndOfItsLastPart) {
  const std::string part255(255, 'n');
  EXPECT_TRUE(IsUsableFileName(part255));
  EXPECT_FALSE(IsUsableFileName(part255 + "x"));
  EXPECT_TRUE(IsUsableFileName("dir/" + part255));
  // A backslash separates folders on Windows only.
  const bool backslash_separates = platform::PathSeparators().find('\\') != std::string_view::npos;
  EXPECT_EQ(IsUsableFileName("dir\\" + part255), backslash_separates);
  EXPECT_FALSE(IsUsableFileName(std::string("a\0b", 3)));
  EXPECT_FALSE(IsUsableFileName("d/" + part255 + "x"));
  EXPECT_TRUE(IsUsableFileName(std::string(100, 'd') + "/" + std::string(158, 'n')));
  EXPECT_FALSE(IsUsableFileName(std::string(100, 'd') + "/" + std::string(159, 'n')));
  EXPECT_TRUE(IsUsableFileName(""));
}

TEST(TextSink, OverlongNameRefusedBeforeTheSystemIsAsked) {
  TextSink sink;
  sink.Bind(std::string(260, 'n'));
  try {
    sink.OpenCreate();
    FAIL() << "opened";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.Code(), 3);
  }
}

}  // namespace
}  // namespace rastrel
