// The HTTP interface on WinHTTP, part of Windows: one session a connection,
// which keeps its connections alive between requests. The proxy is
// http_proxy (with no_proxy) where set, as curl for Windows reads them, else
// the system's settings.
#include <windows.h>
#include <winhttp.h>

#include <cstdlib>
#include <thread>

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

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// "http://host:port/" as WinHTTP wants a proxy: host:port alone.
std::string ProxyHost(std::string proxy) {
  const std::size_t scheme = proxy.find("://");
  if (scheme != std::string::npos) proxy.erase(0, scheme + 3);
  const std::size_t slash = proxy.find('/');
  if (slash != std::string::npos) proxy.erase(slash);
  return proxy;
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

class WinHttpConnection : public Connection {
 public:
  WinHttpConnection(const std::string& user_agent, StopCheck stop) : stop_(std::move(stop)) {
    const std::string proxy = ProxyHost(Environment("http_proxy"));
    session_ = ::WinHttpOpen(Wide(user_agent).c_str(),
                             proxy.empty() ? WINHTTP_ACCESS_TYPE_DEFAULT_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                             proxy.empty() ? WINHTTP_NO_PROXY_NAME : Wide(proxy).c_str(),
                             proxy.empty() ? WINHTTP_NO_PROXY_BYPASS : Wide(Environment("no_proxy")).c_str(), 0);
    // As curl: a minute without a byte is a connection that has stopped.
    ::WinHttpSetTimeouts(session_, 30000, 30000, 60000, 60000);
  }
  ~WinHttpConnection() override { ::WinHttpCloseHandle(session_); }

  Answer Get(const Request& request) override {
    Answer answer;
    DWORD error = Send(request, answer);
    if (error == ERROR_SUCCESS) error = Receive(request, answer);
    if (error != ERROR_SUCCESS) {
      answer.outcome = stop_() ? Outcome::kStopped : OutcomeOf(error);
      answer.error = "Windows error " + std::to_string(error);
    }
    return answer;
  }

 private:
  DWORD Send(const Request& request, Answer& answer) {
    const std::wstring url = Wide(request.url);
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return ::GetLastError();
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (host != host_ || parts.nPort != port_) {
      connect_ = std::make_unique<Handle>(::WinHttpConnect(session_, host.c_str(), parts.nPort, 0));
      host_ = host;
      port_ = parts.nPort;
    }
    request_ = std::make_unique<Handle>(::WinHttpOpenRequest(
        connect_->get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
        parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (request_->get() == nullptr) return ::GetLastError();
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
    wchar_t type[256];
    size = sizeof type;
    if (::WinHttpQueryHeaders(request_->get(), WINHTTP_QUERY_CONTENT_TYPE, WINHTTP_HEADER_NAME_BY_INDEX, type, &size,
                              WINHTTP_NO_HEADER_INDEX)) {
      for (std::size_t i = 0; i < size / sizeof(wchar_t); ++i) answer.content_type += static_cast<char>(type[i]);
    }
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

  StopCheck stop_;
  HINTERNET session_;
  std::unique_ptr<Handle> connect_, request_;
  std::wstring host_;
  INTERNET_PORT port_ = 0;
};

}  // namespace

void Start() {}

std::unique_ptr<Connection> Connect(const std::string& user_agent, StopCheck stop) {
  return std::make_unique<WinHttpConnection>(user_agent, std::move(stop));
}

}  // namespace rastrel::fetch
