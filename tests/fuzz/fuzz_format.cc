// FormatText: "%s" copies its argument whatever it holds (% signs, control
// bytes, long texts); the number directives the programs use equal the C
// library's formatting of the same values.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "textout.h"

namespace {

std::string Printf(const char* format, long long value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

void CheckNumbers(std::int64_t value) {
  using rastrel::FormatText;
  FUZZ_CHECK(FormatText("%d", {value}) == Printf("%lld", value));
  FUZZ_CHECK(FormatText("%5d", {value}) == Printf("%5lld", value));
  FUZZ_CHECK(FormatText("%11d", {value}) == Printf("%11lld", value));
  FUZZ_CHECK(FormatText("%.02d", {value}) == Printf("%.2lld", value));
  const auto low = static_cast<unsigned long long>(static_cast<std::uint32_t>(value));
  FUZZ_CHECK(FormatText("%4x", {value}) == Printf("%4llX", static_cast<long long>(low)));
  FUZZ_CHECK(FormatText("%p", {rastrel::CodeAddress{static_cast<std::uint32_t>(value)}}) ==
             Printf("%08llX", static_cast<long long>(low)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(rastrel::FormatText("%s", {text}) == text);
  FUZZ_CHECK(rastrel::FormatText("[%s]%d", {text, 7}) == "[" + text + "]7");
  std::int64_t value = 0;
  std::memcpy(&value, data, size < sizeof value ? size : sizeof value);
  CheckNumbers(value);
  CheckNumbers(static_cast<std::int32_t>(value));
  return 0;
}
