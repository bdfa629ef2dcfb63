// The HTTP interface on libcurl's multi interface: one thread drives every
// transfer of a client over a shared pool of connections. HTTP/2 connections
// carry many transfers at once; a new transfer waits for a connection it can
// share (PIPEWAIT) rather than opening another, and none opens beyond the cap.
#include <curl/curl.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "fetch.h"

namespace rastrel::fetch {

namespace {

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

// The authorities a certificate was checked against, as words for its line.
std::string AuthoritiesTrusted() {
  if (const char* bundle = Environment("CURL_CA_BUNDLE")) return std::string("those of CURL_CA_BUNDLE ") + bundle;
  const char* file = Environment("SSL_CERT_FILE");
  const char* folder = Environment("SSL_CERT_DIR");
  if (file == nullptr && folder == nullptr) return "the system's";
  std::string named = "those of";
  if (file != nullptr) named.append(" SSL_CERT_FILE ").append(file);
  if (file != nullptr && folder != nullptr) named += " and";
  if (folder != nullptr) named.append(" SSL_CERT_DIR ").append(folder);
  return named;
}

// The proxy that libcurl takes for a URL, as it names it, for messages.
std::string ProxyOf(const std::string& url) {
  const bool secure = url.starts_with("https:");
  const char* proxy = secure ? Environment("https_proxy") : Environment("http_proxy");
  if (proxy == nullptr && secure) proxy = Environment("HTTPS_PROXY");
  if (proxy == nullptr) proxy = Environment("all_proxy");
  return proxy != nullptr ? proxy : "the proxy";
}

Outcome OutcomeOf(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return Outcome::kAnswered;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
      return Outcome::kUnreachable;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
      return Outcome::kUntrusted;
    default:
      return Outcome::kBroken;
  }
}

// One request: what the caller asked, and what came.
struct Job {
  explicit Job(const Request& asked) : request(&asked) {}
  const Request* request;
  Answer answer;
  bool too_large = false;
  bool done = false;
  std::condition_variable ended;  // its caller alone waits for it
  char error[CURL_ERROR_SIZE] = {};
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
  auto* job = static_cast<Job*>(user);
  const std::size_t bytes = size * count;
  if (job->answer.body.size() + bytes > job->request->body_limit) {
    job->too_large = true;
    return 0;
  }
  job->answer.body.append(data, bytes);
  return bytes;
}

void Describe(CURL* handle, CURLcode code, Job& job) {
  Answer& answer = job.answer;
  answer.outcome = job.too_large ? Outcome::kTooLarge : OutcomeOf(code);
  answer.error = job.error[0] != '\0' ? job.error : curl_easy_strerror(code);
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &answer.status);
  if (answer.outcome == Outcome::kUntrusted) answer.error += " (authorities trusted: " + AuthoritiesTrusted() + ")";
  long tunnel = 0;
  curl_easy_getinfo(handle, CURLINFO_HTTP_CONNECTCODE, &tunnel);
  if (code != CURLE_OK && tunnel >= 300) {
    answer.outcome = Outcome::kProxyRefused;
    answer.status = tunnel;
    answer.error = "the proxy " + ProxyOf(job.request->url) + " refused the tunnel with " + std::to_string(tunnel);
  }
  long version = 0;
  curl_easy_getinfo(handle, CURLINFO_HTTP_VERSION, &version);
  if (answer.outcome == Outcome::kAnswered) {
    answer.protocol = version == CURL_HTTP_VERSION_2_0 ? Protocol::kHttp2 : Protocol::kHttp1;
  }
  const char* type = nullptr;
  if (curl_easy_getinfo(handle, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type != nullptr) {
    answer.content_type = type;
  }
  curl_off_t seconds = -1;
  if (curl_easy_getinfo(handle, CURLINFO_FILETIME_T, &seconds) == CURLE_OK) answer.last_modified = seconds;
  seconds = -1;
  if (curl_easy_getinfo(handle, CURLINFO_RETRY_AFTER, &seconds) == CURLE_OK && seconds > 0) {
    answer.retry_after = seconds;
  }
}

class CurlClient : public Client {
 public:
  CurlClient(const ClientSettings& settings, StopCheck stop)
      : settings_(settings), stop_(std::move(stop)), multi_(curl_multi_init()) {
    curl_multi_setopt(multi_, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(settings.connections));
    // Redirects to other hosts and a proxy count too.
    curl_multi_setopt(multi_, CURLMOPT_MAX_TOTAL_CONNECTIONS, static_cast<long>(settings.connections));
    curl_multi_setopt(multi_, CURLMOPT_MAX_CONCURRENT_STREAMS, static_cast<long>(settings.streams));
    driver_ = std::thread(&CurlClient::Drive, this);
  }
  CurlClient(const CurlClient&) = delete;
  CurlClient& operator=(const CurlClient&) = delete;
  ~CurlClient() override {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    curl_multi_wakeup(multi_);
    driver_.join();
    curl_multi_cleanup(multi_);
  }

  Answer Get(const Request& request) override {
    Job job(request);
    {
      std::lock_guard lock(mutex_);
      queued_.push_back(&job);
    }
    curl_multi_wakeup(multi_);
    std::unique_lock lock(mutex_);
    job.ended.wait(lock, [&] { return job.done; });
    return std::move(job.answer);
  }

 private:
  CURL* Prepare(Job& job) const {
    CURL* handle = curl_easy_init();
    curl_easy_setopt(handle, CURLOPT_PRIVATE, &job);
    curl_easy_setopt(handle, CURLOPT_URL, job.request->url.c_str());
    curl_easy_setopt(handle, CURLOPT_USERAGENT, settings_.user_agent.c_str());
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_2TLS);
    curl_easy_setopt(handle, CURLOPT_PIPEWAIT, 1L);
    TrustNamedAuthorities(handle);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 30L);
    // A server that sends nothing for a minute has stopped: as wget --timeout=60.
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(handle, CURLOPT_FILETIME, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &job);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, job.error);
    const std::int64_t since = job.request->if_modified_since;
    curl_easy_setopt(handle, CURLOPT_TIMECONDITION, since >= 0 ? CURL_TIMECOND_IFMODSINCE : CURL_TIMECOND_NONE);
    curl_easy_setopt(handle, CURLOPT_TIMEVALUE_LARGE, static_cast<curl_off_t>(since));
    return handle;
  }

  // Hands a job's caller its answer.
  void Done(Job& job) {
    std::lock_guard lock(mutex_);
    job.done = true;
    job.ended.notify_one();
  }

  void Stopped(Job& job) {
    job.answer.outcome = Outcome::kStopped;
    job.answer.error = "stopped";
    Done(job);
  }

  void End(CURL* handle) {
    curl_multi_remove_handle(multi_, handle);
    curl_easy_cleanup(handle);
    std::erase(active_, handle);
  }

  void StopAll() {
    while (!active_.empty()) {
      CURL* handle = active_.back();
      Job* job = nullptr;
      curl_easy_getinfo(handle, CURLINFO_PRIVATE, &job);
      End(handle);
      Stopped(*job);
    }
  }

  // Takes the requests queued, or stops them; false once the client closes.
  bool Admit(bool stopping) {
    std::deque<Job*> taken;
    bool quit = false;
    {
      std::lock_guard lock(mutex_);
      taken.swap(queued_);
      quit = quit_;
    }
    for (Job* job : taken) {
      if (stopping || quit) {
        Stopped(*job);
        continue;
      }
      CURL* handle = Prepare(*job);
      active_.push_back(handle);
      curl_multi_add_handle(multi_, handle);
    }
    return !quit;
  }

  void Drive() {
    for (;;) {
      const bool stopping = stop_();
      if (stopping) StopAll();
      if (!Admit(stopping)) break;
      int running = 0;
      curl_multi_perform(multi_, &running);
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        Job* job = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &job);
        Describe(message->easy_handle, message->data.result, *job);
        End(message->easy_handle);
        Done(*job);
      }
      // Woken by a new request; else a stop is seen within a tenth of a second.
      curl_multi_poll(multi_, nullptr, 0, 100, nullptr);
    }
    StopAll();
  }

  const ClientSettings settings_;
  StopCheck stop_;
  CURLM* multi_;
  std::vector<CURL*> active_;  // the driver's alone
  std::mutex mutex_;
  std::deque<Job*> queued_;
  bool quit_ = false;
  std::thread driver_;
};

}  // namespace

void Start() { curl_global_init(CURL_GLOBAL_DEFAULT); }

std::unique_ptr<Client> Open(const ClientSettings& settings, StopCheck stop) {
  return std::make_unique<CurlClient>(settings, std::move(stop));
}

}  // namespace rastrel::fetch
