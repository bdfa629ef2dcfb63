#include "command_line.h"

namespace rastrel {

namespace {

// Blanks, tabs and every other control byte separate arguments.
bool IsSeparator(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 1 && byte <= 32;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> arguments;
  std::string current;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && IsSeparator(c)) {
      if (!current.empty()) arguments.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) arguments.push_back(std::move(current));
  return arguments;
}

std::string_view SkipProgramName(std::string_view command_line) {
  bool quoted = false;
  std::size_t i = 0;
  for (; i < command_line.size(); ++i) {
    if (command_line[i] == '"') {
      quoted = !quoted;
    } else if (!quoted && IsSeparator(command_line[i])) {
      break;
    }
  }
  return command_line.substr(i);
}

}  // namespace rastrel
