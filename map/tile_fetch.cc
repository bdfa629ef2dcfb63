#include "tile_fetch.h"

#include <algorithm>
#include <chrono>

#include "platform.h"
#include "textout.h"
#include "tile_merge.h"

namespace rastrel {

namespace {

constexpr int kTries = 5;
// The longest pause a server's Retry-After gets.
constexpr std::int64_t kLongestPause = 60;
// This many answers that are not tiles, and none that is, and the server is
// taken to send no tiles at all (a portal, an error page).
constexpr std::size_t kAnswersBeforeJudging = 8;

bool IsTile(const std::string& body, std::size_t layer) {
  Pixels pixels;
  return DecodeTilePng(body, layer == 0 ? 3 : 4, pixels);
}

// The start of a body, as one line of printable text.
std::string Sample(const std::string& body) {
  std::string text;
  for (char c : body.substr(0, 200)) {
    const bool printable = c >= ' ' && c <= '~';
    if (!printable || c == ' ') {
      if (!text.empty() && text.back() != ' ') text += ' ';
    } else {
      text += c;
    }
    if (text.size() >= 60) break;
  }
  return text;
}

}  // namespace

TileFetcher::TileFetcher(std::vector<LayerFile> files, std::size_t rows, FetchSettings settings)
    : settings_(std::move(settings)), unsettled_(rows, 0) {
  for (LayerFile& file : files) {
    if (!settings_.refresh && platform::IsExistingFile(file.file)) continue;
    ++unsettled_[file.row];
    files_.push_back(std::move(file));
  }
  counts_.wanted = files_.size();
}

TileFetcher::~TileFetcher() {
  Stop("");
  Finish();
}

void TileFetcher::Start() {
  const std::size_t connections = std::min<std::size_t>(settings_.connections, files_.size());
  for (std::size_t i = 0; i < connections; ++i) connections_.emplace_back(&TileFetcher::Work, this);
}

void TileFetcher::Finish() {
  for (std::thread& connection : connections_) connection.join();
  connections_.clear();
}

bool TileFetcher::Stopping() const { return stopping_ || platform::StopRequested() != 0; }

std::string TileFetcher::Fatal() const {
  std::lock_guard lock(mutex_);
  return fatal_;
}

FetchCounts TileFetcher::Counts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

void TileFetcher::Stop(std::string why) {
  std::lock_guard lock(mutex_);
  if (fatal_.empty()) fatal_ = std::move(why);
  stopping_ = true;
  settled_.notify_all();
}

bool TileFetcher::WaitForRow(std::size_t row) {
  std::unique_lock lock(mutex_);
  // Woken each second too: a signal sets no condition.
  while (unsettled_[row] != 0 && !Stopping()) settled_.wait_for(lock, std::chrono::seconds(1));
  return unsettled_[row] == 0 && !Stopping();
}

void TileFetcher::Work() {
  const auto connection = fetch::Connect(settings_.user_agent, [this] { return Stopping(); });
  for (;;) {
    std::size_t index = 0;
    {
      std::lock_guard lock(mutex_);
      if (next_ == files_.size() || Stopping()) return;
      index = next_++;
    }
    const Result result = FetchOne(*connection, files_[index]);
    if (result == Result::kStopped) return;
    Settle(files_[index], result);
  }
}

bool TileFetcher::Pause(std::int64_t seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!Stopping() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return !Stopping();
}

TileFetcher::Result TileFetcher::FetchOne(fetch::Connection& connection, const LayerFile& file) {
  fetch::Request request{file.url, -1};
  if (settings_.refresh) request.if_modified_since = platform::FileModifiedTime(file.file);
  std::string why;
  for (int attempt = 1;; ++attempt) {
    const fetch::Answer answer = connection.Get(request);
    if (Stopping()) return Result::kStopped;
    const bool answered = answer.outcome == fetch::Outcome::kAnswered;
    const long status = answered ? answer.status : 0;
    if (answered) server_answered_ = true;
    if (answer.outcome == fetch::Outcome::kUnreachable && !server_answered_) {
      Stop("cannot reach the server for " + file.url + ": " + answer.error);
      return Result::kStopped;
    }
    if (status == 200 || status == 204) return Store(file, answer);
    if (status == 304) return Result::kKept;
    if (status == 404) return Result::kMissing;
    if (answer.outcome == fetch::Outcome::kTooLarge) return NotATile(file, answer);
    if (status >= 400 && status < 500 && status != 429) {
      Stop(FormatText("the server answered %d for %s", {status, file.url}));
      return Result::kStopped;
    }
    why = answered ? FormatText("the server answered %d", {status}) : answer.error;
    if (answered && status != 429 && status < 500) break;  // an answer that another try will not change
    if (attempt == kTries) break;
    {
      std::lock_guard lock(mutex_);
      ++counts_.repeats;
    }
    const std::int64_t growing = std::int64_t{1} << (attempt - 1);
    if (!Pause(answer.retry_after > 0 ? std::min(answer.retry_after, kLongestPause) : growing)) {
      return Result::kStopped;
    }
  }
  std::lock_guard lock(mutex_);
  counts_.last_failure = why + " for " + file.url;
  return Result::kFailed;
}

TileFetcher::Result TileFetcher::Store(const LayerFile& file, const fetch::Answer& answer) {
  if (!answer.body.empty() && !IsTile(answer.body, file.layer)) return NotATile(file, answer);
  // An empty base is a missing one, asked for again next time; an empty
  // overlay is kept, as nothing is drawn there.
  if (answer.body.empty() && file.layer == 0) return Result::kMissing;
  const platform::IoStatus status = WriteWholeFile(file.file, answer.body);
  if (!status.Failed() && answer.last_modified >= 0) platform::SetFileModifiedTime(file.file, answer.last_modified);
  if (status.Failed()) {
    Stop("cannot write " + file.file + ": " + InOutMessage(status));
    return Result::kStopped;
  }
  std::lock_guard lock(mutex_);
  counts_.bytes += answer.body.size();
  if (answer.body.empty()) return Result::kEmpty;
  ++tiles_received_;
  return Result::kKept;
}

TileFetcher::Result TileFetcher::NotATile(const LayerFile& file, const fetch::Answer& answer) {
  const std::string type = answer.content_type.empty() ? "no type" : answer.content_type;
  const std::string what = FormatText("%s (\"%s\")", {type, Sample(answer.body)});
  {
    std::lock_guard lock(mutex_);
    ++answers_not_tiles_;
    counts_.last_failure = "not a 256 x 256 PNG but " + what + " for " + file.url;
    if (tiles_received_ != 0 || answers_not_tiles_ < std::min(kAnswersBeforeJudging, files_.size())) {
      return Result::kFailed;
    }
  }
  Stop("the server sends no tiles: its first answers were not PNG tiles but " + what);
  return Result::kStopped;
}

void TileFetcher::Settle(const LayerFile& file, Result result) {
  std::lock_guard lock(mutex_);
  if (result == Result::kMissing) {
    ++(file.layer == 0 ? counts_.missing_bases : counts_.missing_overlays);
  }
  if (result == Result::kFailed) ++counts_.failed;
  ++counts_.settled;
  --unsettled_[file.row];
  settled_.notify_all();
}

}  // namespace rastrel
