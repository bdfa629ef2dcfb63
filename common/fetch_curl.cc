// The HTTP interface on libcurl: one easy handle a connection, reused so that
// its connection stays alive between requests.
#include <curl/curl.h>

#include <cstdlib>

#include "fetch.h"

namespace rastrel::fetch {

namespace {

struct Transfer {
  std::string* body;
  std::size_t limit;
  bool too_large = false;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  if (transfer->body->size() + bytes > transfer->limit) {
    transfer->too_large = true;
    return 0;
  }
  transfer->body->append(data, bytes);
  return bytes;
}

const char* Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// The authorities to trust in place of the system's, named as the curl tool
// reads them (libcurl itself reads none of these): CURL_CA_BUNDLE, else
// SSL_CERT_FILE and SSL_CERT_DIR.
void TrustNamedAuthorities(CURL* handle) {
  if (const char* bundle = Environment("CURL_CA_BUNDLE")) {
    curl_easy_setopt(handle, CURLOPT_CAINFO, bundle);
    return;
  }
  if (const char* file = Environment("SSL_CERT_FILE")) curl_easy_setopt(handle, CURLOPT_CAINFO, file);
  if (const char* folder = Environment("SSL_CERT_DIR")) curl_easy_setopt(handle, CURLOPT_CAPATH, folder);
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return (*static_cast<StopCheck*>(user))() ? 1 : 0;
}

Outcome OutcomeOf(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return Outcome::kAnswered;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
      return Outcome::kUnreachable;
    case CURLE_ABORTED_BY_CALLBACK:
      return Outcome::kStopped;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
      return Outcome::kUntrusted;
    default:
      return Outcome::kBroken;
  }
}

class CurlConnection : public Connection {
 public:
  CurlConnection(const std::string& user_agent, StopCheck stop) : handle_(curl_easy_init()), stop_(std::move(stop)) {
    curl_easy_setopt(handle_, CURLOPT_USERAGENT, user_agent.c_str());
    curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle_, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(handle_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // HTTP/2 where an https server offers it; still one connection a handle.
    curl_easy_setopt(handle_, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_2TLS);
    TrustNamedAuthorities(handle_);
    curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT, 30L);
    // A server that sends nothing for a minute has stopped: as wget --timeout=60.
    curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(handle_, CURLOPT_FILETIME, 1L);
    curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle_, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, &stop_);
    curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, error_);
  }
  ~CurlConnection() override { curl_easy_cleanup(handle_); }

  Answer Get(const Request& request) override {
    Answer answer;
    Transfer transfer{&answer.body, request.body_limit};
    error_[0] = '\0';
    curl_easy_setopt(handle_, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle_, CURLOPT_TIMECONDITION,
                     request.if_modified_since >= 0 ? CURL_TIMECOND_IFMODSINCE : CURL_TIMECOND_NONE);
    curl_easy_setopt(handle_, CURLOPT_TIMEVALUE_LARGE, static_cast<curl_off_t>(request.if_modified_since));
    const CURLcode code = curl_easy_perform(handle_);
    answer.outcome = transfer.too_large ? Outcome::kTooLarge : OutcomeOf(code);
    answer.error = error_[0] != '\0' ? error_ : curl_easy_strerror(code);
    curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &answer.status);
    const char* type = nullptr;
    if (curl_easy_getinfo(handle_, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type != nullptr) {
      answer.content_type = type;
    }
    curl_off_t seconds = -1;
    if (curl_easy_getinfo(handle_, CURLINFO_FILETIME_T, &seconds) == CURLE_OK) answer.last_modified = seconds;
    seconds = -1;
    if (curl_easy_getinfo(handle_, CURLINFO_RETRY_AFTER, &seconds) == CURLE_OK && seconds > 0) {
      answer.retry_after = seconds;
    }
    return answer;
  }

 private:
  CURL* handle_;
  StopCheck stop_;
  char error_[CURL_ERROR_SIZE];
};

}  // namespace

void Start() { curl_global_init(CURL_GLOBAL_DEFAULT); }

std::unique_ptr<Connection> Connect(const std::string& user_agent, StopCheck stop) {
  return std::make_unique<CurlConnection>(user_agent, std::move(stop));
}

}  // namespace rastrel::fetch
