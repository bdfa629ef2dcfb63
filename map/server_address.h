// The tile server's base address, as the user names it (--server, or
// RASTREL_SERVER): the part of every tile's URL before "/turist/13_...".
#pragma once

#include <string>
#include <string_view>

namespace rastrel {

// The base address in its usual form (scheme and host in lower case, no
// trailing "/"), or, in `problem`, the one line that says why it is refused.
struct ServerAddress {
  std::string base;
  std::string problem;
};

ServerAddress CheckServerAddress(std::string_view given);

}  // namespace rastrel
