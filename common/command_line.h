// The Windows command-line rules: a whole command line as one text, split
// into arguments by the program itself. Pure functions over bytes, used by the
// Win32 platform layer and testable on every platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rastrel {

// Splits a command line at runs of bytes 1 to 32 outside double quotes. Quotes
// are removed; quoted and unquoted pieces that touch form one argument; a
// backslash is an ordinary byte. Empty arguments are skipped.
std::vector<std::string> SplitCommandLine(std::string_view line);

// What follows the program name in a whole command line: the name runs to
// the first byte of 1 to 32 outside double quotes.
std::string_view SkipProgramName(std::string_view command_line);

}  // namespace rastrel
