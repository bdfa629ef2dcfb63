// The HTTP interface on WinHTTP, part of Windows: a client's sessions (one
// for http, one for https) keep at most its number of connections to a server
// alive between requests, and speak HTTP/2 where the server and the system
// (Windows 10 1607 and later) do, many requests at once on a connection. Each
// request in flight has a thread of its own. The proxy is http_proxy,
// https_proxy and no_proxy where set, as curl for Windows reads them, else the
// system's settings.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "fetch.h"

namespace rastrel::fetch {

namespace {

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                           static_cast<int>(wide.size()));
  wide.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return wide;
}

// The first of the names set, as curl takes http_proxy only in lower case.
std::string Environment(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "";
}

// "http://host:port/" as WinHTTP wants a proxy: host:port alone.
std::string ProxyHost(std::string proxy) {
  const std::size_t scheme = proxy.find("://");
  if (scheme != std::string::npos) proxy.erase(0, scheme + 3);
  const std::size_t slash = proxy.find('/');
  if (slash != std::string::npos) proxy.erase(slash);
  return proxy;
}

// no_proxy ("example.com,.example.org,*") as a WinHTTP bypass list: each
// name alone and with its subdomains.
std::string BypassList() {
  std::string list, name;
  const std::string names = Environment({"no_proxy", "NO_PROXY"}) + ',';
  for (const char c : names) {
    if (c != ',' && c != ' ') {
      name += c;
      continue;
    }
    if (name.starts_with('.')) name.erase(0, 1);
    if (name.empty()) continue;
    if (!list.empty()) list += ';';
    list += name;
    if (name != "*") list.append(";*.").append(name);
    name.clear();
  }
  return list;
}

std::int64_t SecondsSince1970(const SYSTEMTIME& time) {
  FILETIME file;
  if (!::SystemTimeToFileTime(&time, &file)) return -1;
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime);
  return (ticks - 116444736000000000) / 10000000;
}

std::wstring HttpDate(std::int64_t seconds) {
  const auto ticks = static_cast<std::uint64_t>(seconds * 10000000 + 116444736000000000);
  FILETIME file{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME time;
  ::FileTimeToSystemTime(&file, &time);
  wchar_t text[WINHTTP_TIME_FORMAT_BUFSIZE / sizeof(wchar_t)];
  ::WinHttpTimeFromSystemTime(&time, text);
  return text;
}

Outcome OutcomeOf(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return Outcome::kUnreachable;
    case ERROR_WINHTTP_OPERATION_CANCELLED:
      return Outcome::kStopped;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
      return Outcome::kUntrusted;
    default:
      return Outcome::kBroken;
  }
}

class Handle {
 public:
  explicit Handle(HINTERNET handle = nullptr) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (handle_ != nullptr) ::WinHttpCloseHandle(handle_);
  }
  HINTERNET get() const { return handle_; }

 private:
  HINTERNET handle_;
};

// The URL a Location header points to, from the URL that was answered.
std::wstring Resolve(const std::wstring& from, const std::wstring& location) {
  if (location.find(L"://") != std::wstring::npos) return location;
  const std::size_t host = from.find(L"://") + 3;
  if (location.starts_with(L"//")) return from.substr(0, host - 2) + location;
  const std::size_t path = std::min(from.find(L'/', host), from.size());
  if (location.starts_with(L'/')) return from.substr(0, path) + location;
  const std::size_t folder = from.rfind(L'/');
  return (folder == std::wstring::npos || folder < path ? from.substr(0, path) : from.substr(0, folder)) + L'/' +
         location;
}

std::string WindowsError(DWORD error) { return "Windows error " + std::to_string(error); }

// Why no trusted connection was made, as far as Windows says.
std::string SecureProblem(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_SECURE_INVALID_CA:
      return "the certificate's authority is not trusted (" + WindowsError(error) + ")";
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
      return "the certificate is for another name (" + WindowsError(error) + ")";
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
      return "the certificate has expired or is not valid yet (" + WindowsError(error) + ")";
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      return "the secure channel could not be set up (" + WindowsError(error) + ")";
    default:
      return "the certificate did not verify (" + WindowsError(error) + ")";
  }
}

bool IsRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// A client's WinHTTP sessions, one for http and one for https, each through
// its scheme's proxy; shared by the threads of its requests.
class Sessions {
 public:
  explicit Sessions(const ClientSettings& settings)
      : user_agent_(Wide(settings.user_agent)), connections_(settings.connections) {}
  Sessions(const Sessions&) = delete;
  Sessions& operator=(const Sessions&) = delete;
  ~Sessions() {
    for (HINTERNET session : sessions_) {
      if (session != nullptr) ::WinHttpCloseHandle(session);
    }
  }

  HINTERNET For(bool secure) {
    const std::lock_guard lock(mutex_);
    HINTERNET& session = sessions_[secure ? 1 : 0];
    if (session == nullptr) session = Open(secure);
    return session;
  }

 private:
  HINTERNET Open(bool secure) const {
    HINTERNET session = nullptr;
    // curl's names: http_proxy only in lower case, https_proxy in either.
    const std::string proxy =
        ProxyHost(secure ? Environment({"https_proxy", "HTTPS_PROXY"}) : Environment({"http_proxy"}));
    if (proxy.empty()) {
      // The current user's proxy settings, a PAC script among them (Windows
      // 8.1 and later); older systems know only those made with netsh winhttp.
      session = ::WinHttpOpen(user_agent_.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0);
      if (session == nullptr) {
        session = ::WinHttpOpen(user_agent_.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0);
      }
    } else {
      session = ::WinHttpOpen(user_agent_.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, Wide(proxy).c_str(),
                              Wide(BypassList()).c_str(), 0);
    }
    if (session == nullptr) return nullptr;
    // As curl: a minute without a byte is a connection that has stopped.
    ::WinHttpSetTimeouts(session, 30000, 30000, 60000, 60000);
    DWORD connections = connections_;
    ::WinHttpSetOption(session, WINHTTP_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof connections);
    ::WinHttpSetOption(session, WINHTTP_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections, sizeof connections);
    // Refused by systems before Windows 10 1607, which speak HTTP/1.1 alone.
    DWORD http2 = WINHTTP_PROTOCOL_FLAG_HTTP2;
    ::WinHttpSetOption(session, WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &http2, sizeof http2);
    return session;
  }

  const std::wstring user_agent_;
  const DWORD connections_;
  std::mutex mutex_;
  HINTERNET sessions_[2] = {};  // http, https
};

// The requests of one thread, made on it, in the client's sessions.
class Session {
 public:
  Session(std::shared_ptr<Sessions> sessions, StopCheck stop) : sessions_(std::move(sessions)), stop_(std::move(stop)) {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session() {
    request_.reset();
    connect_.reset();
  }

  // Redirects are followed here, not by WinHTTP, so that each URL goes through
  // the proxy of its own scheme.
  Answer Get(const Request& request) {
    std::wstring url = Wide(request.url);
    Answer answer;
    DWORD error = ERROR_SUCCESS;
    for (int redirects = 0; error == ERROR_SUCCESS; ++redirects) {
      answer = Answer{};
      error = Send(url, request, answer);
      if (error == ERROR_SUCCESS) error = Receive(request, answer);
      if (error != ERROR_SUCCESS || !IsRedirect(answer.status)) break;
      const std::wstring location = Header(WINHTTP_QUERY_LOCATION);
      if (location.empty()) break;
      if (redirects == 10) error = ERROR_WINHTTP_REDIRECT_FAILED;
      url = Resolve(url, location);
    }
    if (error != ERROR_SUCCESS) {
      answer.outcome = stop_() ? Outcome::kStopped : OutcomeOf(error);
      answer.error = answer.outcome == Outcome::kUntrusted
                         ? SecureProblem(error) + " (authorities trusted: those of Windows' certificate store)"
                         : WindowsError(error);
    }
    return answer;
  }

 private:
  std::wstring Header(DWORD which) const {
    wchar_t text[2048];
    DWORD size = sizeof text;
    if (request_ == nullptr || !::WinHttpQueryHeaders(request_->get(), which, WINHTTP_HEADER_NAME_BY_INDEX, text,
                                                      &size, WINHTTP_NO_HEADER_INDEX)) {
      return L"";
    }
    return std::wstring(text, size / sizeof(wchar_t));
  }

  DWORD Open(const std::wstring& url) {
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return ::GetLastError();
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    request_.reset();
    if (connect_ == nullptr || secure != secure_ || host != host_ || parts.nPort != port_) {
      const HINTERNET session = sessions_->For(secure);
      if (session == nullptr) return ::GetLastError();
      connect_ = std::make_unique<Handle>(::WinHttpConnect(session, host.c_str(), parts.nPort, 0));
      if (connect_->get() == nullptr) return ::GetLastError();
      secure_ = secure;
      host_ = host;
      port_ = parts.nPort;
    }
    request_ = std::make_unique<Handle>(::WinHttpOpenRequest(connect_->get(), L"GET", path.c_str(), nullptr,
                                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                             secure ? WINHTTP_FLAG_SECURE : 0));
    if (request_->get() == nullptr) return ::GetLastError();
    DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
    ::WinHttpSetOption(request_->get(), WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects, sizeof no_redirects);
    return ERROR_SUCCESS;
  }

  DWORD Send(const std::wstring& url, const Request& request, Answer& answer) {
    if (const DWORD error = Open(url); error != ERROR_SUCCESS) return error;
    std::wstring headers;
    if (request.if_modified_since >= 0) headers = L"If-Modified-Since: " + HttpDate(request.if_modified_since);
    if (!::WinHttpSendRequest(request_->get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                              static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !::WinHttpReceiveResponse(request_->get(), nullptr)) {
      return ::GetLastError();
    }
    DWORD status = 0, size = sizeof status;
    ::WinHttpQueryHeaders(request_->get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    answer.status = static_cast<long>(status);
    DWORD used = 0;
    size = sizeof used;
    const bool http2 = ::WinHttpQueryOption(request_->get(), WINHTTP_OPTION_HTTP_PROTOCOL_USED, &used, &size) &&
                       (used & WINHTTP_PROTOCOL_FLAG_HTTP2) != 0;
    answer.protocol = http2 ? Protocol::kHttp2 : Protocol::kHttp1;
    for (const wchar_t c : Header(WINHTTP_QUERY_CONTENT_TYPE)) answer.content_type += static_cast<char>(c);
    SYSTEMTIME modified;
    size = sizeof modified;
    if (::WinHttpQueryHeaders(request_->get(), WINHTTP_QUERY_LAST_MODIFIED | WINHTTP_QUERY_FLAG_SYSTEMTIME,
                              WINHTTP_HEADER_NAME_BY_INDEX, &modified, &size, WINHTTP_NO_HEADER_INDEX)) {
      answer.last_modified = SecondsSince1970(modified);
    }
    DWORD retry = 0;
    size = sizeof retry;
    if (::WinHttpQueryHeaders(request_->get(), WINHTTP_QUERY_RETRY_AFTER | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &retry, &size, WINHTTP_NO_HEADER_INDEX) && retry > 0) {
      answer.retry_after = retry;
    }
    return ERROR_SUCCESS;
  }

  DWORD Receive(const Request& request, Answer& answer) {
    char buffer[65536];
    for (;;) {
      if (stop_()) return ERROR_WINHTTP_OPERATION_CANCELLED;
      DWORD got = 0;
      if (!::WinHttpReadData(request_->get(), buffer, sizeof buffer, &got)) return ::GetLastError();
      if (got == 0) break;
      if (answer.body.size() + got > request.body_limit) {
        answer.outcome = Outcome::kTooLarge;
        return ERROR_SUCCESS;
      }
      answer.body.append(buffer, got);
    }
    // A body shorter than its length is a broken connection, not an answer.
    DWORD length = 0, size = sizeof length;
    if (::WinHttpQueryHeaders(request_->get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX) &&
        answer.body.size() < length) {
      return ERROR_WINHTTP_CONNECTION_ERROR;
    }
    answer.outcome = Outcome::kAnswered;
    return ERROR_SUCCESS;
  }

  std::shared_ptr<Sessions> sessions_;
  StopCheck stop_;
  std::unique_ptr<Handle> connect_, request_;
  bool secure_ = false;
  std::wstring host_;
  INTERNET_PORT port_ = 0;
};

// A synchronous WinHTTP call that stalls returns only at its timeout, a
// minute later, and a stop must not wait for that. So each request is made on
// a thread of the requester's own while the caller waits for it, asking
// every tenth of a second whether to stop. A request given up on is left to
// end by itself: its thread owns all it touches, and nothing it fetches is
// used.
class Requester {
 public:
  Requester(std::shared_ptr<Sessions> sessions, StopCheck stop)
      : stop_(std::move(stop)), shared_(std::make_shared<Shared>(std::move(sessions))), worker_(Serve, shared_) {}
  Requester(const Requester&) = delete;
  Requester& operator=(const Requester&) = delete;
  ~Requester() {
    {
      const std::lock_guard lock(shared_->mutex);
      shared_->quit = true;
    }
    shared_->changed.notify_all();
    if (shared_->given_up) {
      worker_.detach();
    } else {
      worker_.join();
    }
  }

  bool GivenUp() const { return shared_->given_up; }

  Answer Get(const Request& request) {
    Answer answer;
    answer.outcome = Outcome::kStopped;
    if (shared_->given_up) return answer;
    std::unique_lock lock(shared_->mutex);
    shared_->request = request;
    shared_->waiting = true;
    shared_->changed.notify_all();
    while (!shared_->changed.wait_for(lock, std::chrono::milliseconds(100), [this] { return !shared_->waiting; })) {
      if (stop_()) {
        shared_->given_up = true;
        return answer;
      }
    }
    return std::move(shared_->answer);
  }

 private:
  struct Shared {
    // The worker asks only this flag: it may outlive the caller's stop check.
    explicit Shared(std::shared_ptr<Sessions> sessions)
        : session(std::move(sessions), [this] { return given_up.load(); }) {}
    std::atomic<bool> given_up = false;
    Session session;
    std::mutex mutex;
    std::condition_variable changed;
    Request request;
    Answer answer;
    bool waiting = false, quit = false;
  };

  static void Serve(std::shared_ptr<Shared> shared) {
    std::unique_lock lock(shared->mutex);
    for (;;) {
      shared->changed.wait(lock, [&] { return shared->waiting || shared->quit; });
      if (shared->quit) return;
      lock.unlock();
      Answer answer = shared->session.Get(shared->request);
      lock.lock();
      shared->answer = std::move(answer);
      shared->waiting = false;
      shared->changed.notify_all();
    }
  }

  StopCheck stop_;
  std::shared_ptr<Shared> shared_;
  std::thread worker_;
};

// Requests from many threads, each on a requester of its own while it
// waits; requesters that end well wait for the next request.
class WinHttpClient : public Client {
 public:
  WinHttpClient(const ClientSettings& settings, StopCheck stop)
      : sessions_(std::make_shared<Sessions>(settings)), stop_(std::move(stop)) {}

  Answer Get(const Request& request) override {
    std::unique_ptr<Requester> requester;
    {
      const std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        requester = std::move(idle_.back());
        idle_.pop_back();
      }
    }
    if (requester == nullptr) requester = std::make_unique<Requester>(sessions_, stop_);
    Answer answer = requester->Get(request);
    if (!requester->GivenUp()) {
      const std::lock_guard lock(mutex_);
      idle_.push_back(std::move(requester));
    }
    return answer;
  }

 private:
  std::shared_ptr<Sessions> sessions_;
  StopCheck stop_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Requester>> idle_;
};

}  // namespace

void Start() {}

std::unique_ptr<Client> Open(const ClientSettings& settings, StopCheck stop) {
  return std::make_unique<WinHttpClient>(settings, std::move(stop));
}

}  // namespace rastrel::fetch
