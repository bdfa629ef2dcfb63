// One libFuzzer target for the four parsers; the first byte picks the parser
// (and, for the line reader, how many bytes each read hands over), the rest
// is its input. Each checks properties; a violated one aborts as a finding.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command_line.h"
#include "console.h"
#include "textout.h"

#define CHECK(condition) \
  if (!(condition)) std::fprintf(stderr, "property violated: %s\n", #condition), std::abort()

namespace {

using rastrel::FormatText;

// Accepted exactly when 1 to 8 significant hex digits follow any zeros; the
// value is then strtoul's, and a refusal quotes the text.
void CheckConversion(const std::string& text) {
  const std::size_t significant = text.find_first_not_of('0');
  const bool accept = !text.empty() && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos &&
                      (significant == std::string::npos || text.size() - significant <= 8);
  try {
    const auto value = static_cast<std::uint32_t>(rastrel::ConvertHexInteger(text));
    CHECK(accept && value == static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 16)));
  } catch (const rastrel::EConvertError& failure) {
    CHECK(!accept && failure.Message() == "'$" + text.substr(0, rastrel::kMaxReportSize) + "' is not a valid integer value");
  }
}

// Arguments are never empty and, joined, are the line without its quotes and
// without the bytes 1 to 32 outside quotes; the program name is a prefix.
void CheckSplitting(const std::string& line) {
  std::string joined, kept;
  for (const std::string& argument : rastrel::SplitCommandLine(line)) {
    CHECK(!argument.empty());
    joined += argument;
  }
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    else if (quoted || c == 0 || static_cast<unsigned char>(c) > 32) kept += c;
  }
  CHECK(joined == kept);
  CHECK(line.ends_with(rastrel::SkipProgramName(line)));
}

// Lines never hold CR or LF and, joined, are the input up to its first 1A
// without line ends and CRs; after the end every read is empty.
void CheckLines(const std::string& input, std::size_t chunk) {
  std::size_t position = 0;
  rastrel::LineReader reader([&](char* buffer, std::size_t capacity) {
    const std::size_t count = std::min({chunk, capacity, input.size() - position});
    std::memcpy(buffer, input.data() + position, count);
    position += count;
    return count;
  });
  const std::string text = input.substr(0, input.find('\x1a'));
  std::string expected, joined;
  std::copy_if(text.begin(), text.end(), std::back_inserter(expected), [](char c) { return c != '\r' && c != '\n'; });
  for (auto lines = std::count(text.begin(), text.end(), '\n') + 1; lines > 0; --lines) {
    const std::string line = reader.ReadLine();
    CHECK(line.find_first_of("\r\n") == std::string::npos);
    joined += line;
  }
  CHECK(joined == expected && reader.ReadLine().empty());
}

std::string Printf(const char* format, long long value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// "%s" copies any text; the number directives equal the C library's.
void CheckFormatting(const std::string& text) {
  CHECK(FormatText("[%s]%d", {text, 7}) == "[" + text + "]7");
  std::int64_t value = 0;
  std::memcpy(&value, text.data(), std::min(text.size(), sizeof value));
  for (std::int64_t v : {value, std::int64_t{static_cast<std::int32_t>(value)}}) {
    const auto low = static_cast<long long>(static_cast<std::uint32_t>(v));
    CHECK(FormatText("%d|%5d|%11d|%.02d", {v, v, v, v}) ==
          Printf("%lld|", v) + Printf("%5lld|", v) + Printf("%11lld|", v) + Printf("%.2lld", v));
    CHECK(FormatText("%4x", {v}) == Printf("%4llX", low));
    CHECK(FormatText("%p", {rastrel::CodeAddress{static_cast<std::uint32_t>(v)}}) == Printf("%08llX", low));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0: CheckConversion(input); break;
    case 1: CheckSplitting(input); break;
    case 2: CheckLines(input, data[0] / 4 % 16 + 1); break;
    default: CheckFormatting(input); break;
  }
  return 0;
}
