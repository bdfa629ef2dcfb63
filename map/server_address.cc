#include "server_address.h"

#include <algorithm>

namespace rastrel {

namespace {

bool IsLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// What a URL's path may hold unescaped, "%" for an escape among it.
bool IsPathCharacter(char c) {
  return IsLetterOrDigit(c) || std::string_view("-._~!$&'()*+,;=:@/%").find(c) != std::string_view::npos;
}

bool IsHostName(std::string_view host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    return std::all_of(host.begin() + 1, host.end() - 1, [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
    });
  }
  return std::all_of(host.begin(), host.end(), [](char c) { return IsLetterOrDigit(c) || c == '.' || c == '-'; });
}

bool IsPort(std::string_view port) {
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos) return false;
  const int value = std::stoi(std::string(port));
  return value >= 1 && value <= 65535;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace

ServerAddress CheckServerAddress(std::string_view given) {
  const std::string quoted = "the server address '" + std::string(given) + "' ";
  auto refuse = [](std::string problem) { return ServerAddress{"", std::move(problem)}; };
  const std::size_t scheme_end = given.find("://");
  const std::string scheme = Lower(given.substr(0, scheme_end));
  if (scheme_end == std::string_view::npos || (scheme != "http" && scheme != "https")) {
    return refuse(quoted + "must start with http:// or https://");
  }
  const std::string_view rest = given.substr(scheme_end + 3);
  const std::size_t authority_end = std::min(rest.find('/'), rest.size());
  const std::string_view authority = rest.substr(0, authority_end);
  // Not echoed: the point is that it shows nowhere.
  if (authority.find('@') != std::string_view::npos) {
    return refuse("the server address holds a user name or password, which would show in the process list and in "
                  "error lines: name the server without them");
  }
  if (rest.find_first_of("?#") != std::string_view::npos) {
    return refuse(quoted + "has a query or fragment (? or #): name the base address alone, before the layer folders");
  }
  const std::size_t colon = authority.starts_with('[') ? authority.find(':', authority.find(']'))
                                                         : authority.find(':');
  const std::string_view host = authority.substr(0, colon);
  if (host.empty()) return refuse(quoted + "has no host");
  std::string_view path = rest.substr(authority_end);
  if (!IsHostName(host) || !std::all_of(path.begin(), path.end(), IsPathCharacter)) {
    return refuse(quoted + "holds a blank or a character that cannot stand in a URL");
  }
  if (colon != std::string_view::npos && !IsPort(authority.substr(colon + 1))) {
    return refuse(quoted + "has a port that is not a number from 1 to 65535");
  }
  while (path.ends_with('/')) path.remove_suffix(1);
  // The scheme's own port named or not, the server is the same.
  std::string_view named = authority;
  if ((scheme == "http" && authority.ends_with(":80")) || (scheme == "https" && authority.ends_with(":443"))) {
    named = authority.substr(0, colon);
  }
  return {scheme + "://" + Lower(named) + std::string(path), ""};
}

}  // namespace rastrel
