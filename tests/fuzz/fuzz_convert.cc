// The integer conversion accepts exactly "$" and 1 to 8 significant hex digits
// (any number of leading zeros), then equals strtoul's value; everything else
// raises EConvertError quoting the input.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "textout.h"

namespace {

bool ShouldAccept(const std::string& text) {
  if (text.size() < 2 || text[0] != '$') return false;
  std::size_t significant_start = std::string::npos;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    if (significant_start == std::string::npos && text[i] != '0') significant_start = i;
  }
  return significant_start == std::string::npos || text.size() - significant_start <= 8;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const bool accept = ShouldAccept(text);
  try {
    const std::int32_t value = text.starts_with("$") ? rastrel::ConvertHexInteger(std::string_view(text).substr(1)) : throw rastrel::EConvertError("'" + text + "' is not a valid integer value", nullptr);
    FUZZ_CHECK(accept);
    const auto expected = static_cast<std::uint32_t>(std::strtoul(text.c_str() + 1, nullptr, 16));
    FUZZ_CHECK(static_cast<std::uint32_t>(value) == expected);
  } catch (const rastrel::EConvertError& failure) {
    FUZZ_CHECK(!accept);
    FUZZ_CHECK(failure.Message() == "'" + text + "' is not a valid integer value");
  }
  return 0;
}
