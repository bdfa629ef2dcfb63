// HTTP GET for rastrel-map, behind one small interface: fetch_curl.cc (libcurl)
// on POSIX systems, a WinHTTP one on Windows. A connection is kept alive
// between requests, follows redirects (http to https too) and takes its proxy
// from http_proxy, https_proxy and no_proxy.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace rastrel::fetch {

// How a request ended.
enum class Outcome {
  kAnswered,     // `status` holds the server's answer, `body` all of it
  kUnreachable,  // no connection made: a name that does not resolve, refused
  kBroken,       // reset, closed before the answer was whole, or timed out
  kUntrusted,    // no trusted connection: the certificate did not verify
  kTooLarge,     // the body passed the limit given
  kStopped,      // the stop callback asked to stop
};

struct Answer {
  Outcome outcome = Outcome::kBroken;
  long status = 0;
  std::string body;
  std::string content_type;
  std::int64_t last_modified = -1;  // seconds since 1970, -1: not given
  std::int64_t retry_after = -1;    // seconds, -1: not given
  std::string error;                // what broke, for kUnreachable, kBroken and kUntrusted
};

struct Request {
  std::string url;
  std::int64_t if_modified_since = -1;  // seconds since 1970, -1: none
  std::size_t body_limit = 16 << 20;
};

class Connection {
 public:
  virtual ~Connection() = default;
  virtual Answer Get(const Request& request) = 0;
};

// Called at least once a second while a request waits; true stops it.
using StopCheck = std::function<bool()>;

// Prepares the library; once, before any thread makes a connection.
void Start();
std::unique_ptr<Connection> Connect(const std::string& user_agent, StopCheck stop);

}  // namespace rastrel::fetch
