// HTTP GET for rastrel-map, behind one small interface: fetch_curl.cc (libcurl)
// on POSIX systems, a WinHTTP one on Windows. A client keeps its connections
// alive between requests, speaks HTTP/2 where an https server offers it
// (many requests at once on one connection), follows redirects (http to https
// too) and takes its proxy from http_proxy, https_proxy and no_proxy.
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
  kProxyRefused, // the proxy refused the tunnel to an https server: `status` holds its answer
  kTooLarge,     // the body passed the limit given
  kStopped,      // the stop callback asked to stop
};

enum class Protocol { kUnknown, kHttp1, kHttp2 };

struct Answer {
  Outcome outcome = Outcome::kBroken;
  Protocol protocol = Protocol::kUnknown;  // of an answer that came
  long status = 0;
  std::string body;
  std::string content_type;
  std::int64_t last_modified = -1;  // seconds since 1970, -1: not given
  std::int64_t retry_after = -1;    // seconds, -1: not given
  std::string error;                // what broke, for every outcome but kAnswered
};

struct Request {
  std::string url;
  std::int64_t if_modified_since = -1;  // seconds since 1970, -1: none
  std::size_t body_limit = 16 << 20;
};

// Asked several times a second while requests wait; true stops them all.
using StopCheck = std::function<bool()>;

struct ClientSettings {
  std::string user_agent;
  unsigned connections = 2;  // at most this many open at once
  unsigned streams = 1;      // requests at once on one HTTP/2 connection, at most
};

// Requests from many threads at once, each caller waiting for its own answer.
// Requests beyond what the connections carry wait their turn in the client.
class Client {
 public:
  virtual ~Client() = default;
  virtual Answer Get(const Request& request) = 0;
};

// Prepares the library; once, before any client is opened.
void Start();
std::unique_ptr<Client> Open(const ClientSettings& settings, StopCheck stop);

}  // namespace rastrel::fetch
