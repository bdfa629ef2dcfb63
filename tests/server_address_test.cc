#include "server_address.h"

#include <gtest/gtest.h>

namespace rastrel {
namespace {

// The refusals' lines are compared whole by the end-to-end cases; here, which
// addresses pass and their usual form.
TEST(CheckServerAddress, TakesABaseAddressInItsUsualForm) {
  const struct {
    const char* given;
    const char* base;  // empty: refused
  } cases[] = {
      {"http://tiles.example.com", "http://tiles.example.com"},
      {"HTTPS://Maps.Example.ORG:8443/Tiles//", "https://maps.example.org:8443/Tiles"},
      {"http://[::1]:8080/", "http://[::1]:8080"},
      {"http://[FE80::1]:8080", "http://[fe80::1]:8080"},
      {"http://[fe80::g]", ""},
      // A scheme's own port is the same server as none.
      {"http://H:80/t", "http://h/t"},
      {"https://h:443", "https://h"},
      {"https://h:80", "https://h:80"},
      {"http://h:443", "http://h:443"},
      {"http://h:8080", "http://h:8080"},
      {"http://h/a%20b/c-d_e~f.g", "http://h/a%20b/c-d_e~f.g"},
      {"http://h:1", "http://h:1"},
      {"http://h:65535/", "http://h:65535"},
      {"http://h:0", ""},
      {"http://h:", ""},
      {"http://h:8o", ""},
      {"http:/h", ""},
      {"https//h", ""},
      {"file:///tiles", ""},
      {"http://", ""},
      {"http://:80", ""},
      {"http://h/a\tb", ""},
      {"http://h/a\"b", ""},
      {"http://h_1", ""},
      {"http://h/#top", ""},
      {"http://u@h", ""},
  };
  for (const auto& c : cases) {
    const ServerAddress address = CheckServerAddress(c.given);
    EXPECT_EQ(address.base, c.base) << c.given;
    EXPECT_EQ(address.problem.empty(), *c.base != '\0') << c.given;
  }
}

}  // namespace
}  // namespace rastrel
