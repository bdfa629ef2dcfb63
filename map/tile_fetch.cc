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
// A request that takes its turn when it asks: a try again.
constexpr std::uint64_t kTurnWhenAsked = UINT64_MAX;

// "https://host:port" of a URL.
std::string Origin(const std::string& url) {
  const std::size_t host = url.find("://");
  return url.substr(0, url.find('/', host == std::string::npos ? 0 : host + 3));
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

TileFetcher::TileFetcher(std::size_t rows, RowFiles row_files, const TileFolder& folder, FetchSettings settings)
    : rows_(rows),
      row_files_(std::move(row_files)),
      folder_(folder),
      settings_(std::move(settings)),
      pace_(settings_.connections, settings_.streams, settings_.per_second) {
  for (std::size_t row = 0; row < rows_; ++row) {
    for (const LayerFile& file : row_files_(row)) counts_.wanted += Wanted(file) ? 1 : 0;
  }
}

TileFetcher::~TileFetcher() {
  Stop("");
  Finish();
}

bool TileFetcher::Wanted(const LayerFile& file) const {
  return settings_.refresh || !platform::IsExistingFile(file.file);
}

void TileFetcher::Start() {
  if (counts_.wanted == 0) return;
  client_ = fetch::Open({settings_.user_agent, settings_.connections, settings_.streams}, [this] { return Stopping(); });
  // A thread for each request that may be in flight; the pace decides how many are.
  const std::size_t requesters = std::min<std::size_t>(MostInFlight(), counts_.wanted);
  for (std::size_t i = 0; i < requesters; ++i) requesters_.emplace_back(&TileFetcher::Work, this);
  for (unsigned i = 0; i < std::max(settings_.checkers, 1u); ++i) checkers_.emplace_back(&TileFetcher::CheckArrivals, this);
}

void TileFetcher::Finish() {
  {
    std::lock_guard lock(mutex_);
    finishing_ = true;
    room_.notify_all();
  }
  for (std::thread& requester : requesters_) requester.join();
  requesters_.clear();
  client_.reset();
  {
    std::lock_guard lock(mutex_);
    requesters_done_ = true;
    arrived_.notify_all();
  }
  for (std::thread& checker : checkers_) checker.join();
  checkers_.clear();
  // Files that appeared meanwhile (another run on a shared folder) were not asked for.
  std::lock_guard lock(mutex_);
  if (dealt_ == rows_ && !Stopping()) counts_.wanted = counts_.settled;
}

bool TileFetcher::Stopping() const { return stopping_ || platform::StopRequested() != 0; }

std::string TileFetcher::Fatal() const {
  std::lock_guard lock(mutex_);
  return fatal_;
}

FetchCounts TileFetcher::Counts() const {
  std::lock_guard lock(mutex_);
  FetchCounts counts = counts_;
  counts.http2 = pace_.Http2();
  counts.most_at_once = pace_.MostAtOnce();
  return counts;
}

void TileFetcher::Stop(std::string why) {
  std::lock_guard lock(mutex_);
  if (fatal_.empty()) fatal_ = std::move(why);
  stopping_ = true;
  settled_.notify_all();
  room_.notify_all();
  arrived_.notify_all();
  check_room_.notify_all();
  for (const auto& [turn, waiting] : turns_waiting_) waiting->notify_one();
}

// Under the lock: lists the files of the next row.
void TileFetcher::DealRow() {
  RowWork work{dealt_++, {}};
  for (LayerFile& file : row_files_(work.row)) {
    if (Wanted(file)) work.files.push_back(std::move(file));
  }
  work.unsettled = work.files.size();
  dealt_rows_.push_back(std::move(work));
}

bool TileFetcher::WaitForRow(std::size_t row) {
  std::unique_lock lock(mutex_);
  joining_ = row;
  while (!dealt_rows_.empty() && dealt_rows_.front().row < row) dealt_rows_.pop_front();
  room_.notify_all();
  // Dealt here too: a row may have nothing left to fetch, and no connection to deal it.
  while (dealt_ <= row) DealRow();
  // Woken each second too: a signal sets no condition.
  while (dealt_rows_.front().unsettled != 0 && !Stopping()) settled_.wait_for(lock, std::chrono::seconds(1));
  return dealt_rows_.front().unsettled == 0 && !Stopping();
}

// Under the lock: the next file to ask for, dealing rows while the join is
// near enough; false when none is left or the download stops.
bool TileFetcher::NextFile(std::unique_lock<std::mutex>& lock, LayerFile& file, std::size_t& row) {
  for (;;) {
    if (Stopping()) return false;
    // Once the join is done with them, the settled rows are forgotten.
    while (finishing_ && !dealt_rows_.empty() && dealt_rows_.front().unsettled == 0) dealt_rows_.pop_front();
    for (RowWork& work : dealt_rows_) {
      if (work.next == work.files.size()) continue;
      file = work.files[work.next++];
      row = work.row;
      return true;
    }
    if (dealt_ == rows_) return false;
    if (finishing_ || dealt_ <= joining_ + settings_.rows_ahead) {
      DealRow();
    } else {
      room_.wait_for(lock, std::chrono::seconds(1));
    }
  }
}

void TileFetcher::Work() {
  for (;;) {
    LayerFile file;
    std::size_t row = 0;
    std::uint64_t turn = 0;
    {
      std::unique_lock lock(mutex_);
      if (!NextFile(lock, file, row)) return;
      turn = turns_taken_++;
    }
    fetch::Answer received;
    const Result result = FetchOne(file, turn, received);
    if (result == Result::kStopped) return;
    if (result == Result::kReceived) {
      Hand({row, std::move(file), std::move(received)});
    } else {
      Settle(row, file, result);
    }
  }
}

// Waits while the checks are this far behind: what waits is held in memory.
void TileFetcher::Hand(Check check) {
  std::unique_lock lock(mutex_);
  while (arrivals_.size() >= MostInFlight() && !Stopping()) {
    check_room_.wait_for(lock, std::chrono::seconds(1));
  }
  arrivals_.push_back(std::move(check));
  arrived_.notify_one();
}

void TileFetcher::CheckArrivals() {
  for (;;) {
    std::unique_lock lock(mutex_);
    while (arrivals_.empty() && !requesters_done_ && !Stopping()) arrived_.wait_for(lock, std::chrono::seconds(1));
    if (Stopping() || arrivals_.empty()) return;
    Check check = std::move(arrivals_.front());
    arrivals_.pop_front();
    check_room_.notify_one();
    lock.unlock();
    const Result result = Store(check.file, check.answer);
    if (result == Result::kStopped) return;
    Settle(check.row, check.file, result);
  }
}

bool TileFetcher::Pause(std::int64_t seconds) {
  // Not even a pause of none may ask again at once: a tenth of a second at least.
  const auto until = std::chrono::steady_clock::now() + std::max<std::chrono::milliseconds>(
                                                             std::chrono::seconds(seconds), std::chrono::milliseconds(100));
  while (!Stopping() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return !Stopping();
}

// A request in its turn, at the pace allowed.
fetch::Answer TileFetcher::Ask(const fetch::Request& request, std::uint64_t turn) {
  {
    std::unique_lock lock(mutex_);
    if (turn == kTurnWhenAsked) turn = turns_taken_++;
    // Woken alone when its turn may come: many wait.
    std::condition_variable mine;
    turns_waiting_[turn] = &mine;
    for (;;) {
      if (Stopping()) {
        turns_waiting_.erase(turn);
        fetch::Answer stopped;
        stopped.outcome = fetch::Outcome::kStopped;
        return stopped;
      }
      const auto now = RequestPace::Clock::now();
      const auto next = turn == turn_serving_ ? pace_.Next(now) : RequestPace::Time::max();
      if (next <= now) break;
      // Woken each tenth of a second too: a signal sets no condition.
      mine.wait_until(lock, std::min(next, now + std::chrono::milliseconds(100)));
    }
    turns_waiting_.erase(turn);
    pace_.Started(RequestPace::Clock::now());
    ++turn_serving_;
    WakeTurn();
  }
  return client_->Get(request);
}

// Ends a request's turn once its answer is judged, so that a request that
// stops the run lets no other start.
TileFetcher::Judged::~Judged() {
  std::lock_guard lock(fetcher.mutex_);
  if (http2) fetcher.pace_.SpeaksHttp2();
  fetcher.pace_.Ended(RequestPace::Clock::now(), refused, static_cast<double>(pause));
  fetcher.WakeTurn();
}

// Under the lock: wakes the request whose turn is next, if it waits.
void TileFetcher::WakeTurn() {
  const auto waiting = turns_waiting_.find(turn_serving_);
  if (waiting != turns_waiting_.end()) waiting->second->notify_one();
}

TileFetcher::Result TileFetcher::FetchOne(const LayerFile& file, std::uint64_t turn, fetch::Answer& received) {
  fetch::Request request{file.url, -1, kLargestTileFile};
  if (settings_.refresh) request.if_modified_since = platform::FileModifiedTime(file.file);
  std::string why;
  std::int64_t pause = -1;  // before the next try, once this one's turn has ended
  for (int attempt = 1;; ++attempt) {
    if (pause >= 0 && !Pause(pause)) return Result::kStopped;
    const std::int64_t growing = std::int64_t{1} << (attempt - 1);
    fetch::Answer answer = Ask(request, attempt == 1 ? turn : kTurnWhenAsked);
    if (answer.outcome == fetch::Outcome::kStopped) return Result::kStopped;
    const std::int64_t wait = answer.retry_after > 0 ? std::min(answer.retry_after, kLongestPause) : growing;
    // A 429 pauses every request for that time.
    const Judged judged{*this, answer.protocol == fetch::Protocol::kHttp2, answer.status == 429, wait};
    if (Stopping()) return Result::kStopped;
    const bool answered = answer.outcome == fetch::Outcome::kAnswered;
    const long status = answered ? answer.status : 0;
    if (answered) server_answered_ = true;
    if (answer.outcome == fetch::Outcome::kUntrusted) {
      Stop("no trusted connection to " + Origin(file.url) + ": " + answer.error);
      return Result::kStopped;
    }
    if (answer.outcome == fetch::Outcome::kUnreachable && !server_answered_) {
      Stop("cannot reach the server for " + file.url + ": " + answer.error);
      return Result::kStopped;
    }
    if (answer.outcome == fetch::Outcome::kProxyRefused && TunnelRefused(answer, file.url)) return Result::kStopped;
    if (status == 200 || status == 204) {
      received = std::move(answer);
      return Result::kReceived;
    }
    if (status == 304) return Result::kKept;
    // A tile the server no longer has: the copy kept is the best there is.
    if (status == 404) return request.if_modified_since >= 0 ? Result::kGone : Result::kMissing;
    if (answer.outcome == fetch::Outcome::kTooLarge) return NotATile(file, answer);
    if (status >= 400 && status < 500 && status != 429) {
      Stop(FormatText("the server answered %d for %s", {status, file.url}));
      return Result::kStopped;
    }
    if (status >= 500 && JudgeFailure(status, FormatText("the server answered %d", {status}), file.url)) {
      return Result::kStopped;
    }
    why = answered ? FormatText("the server answered %d", {status}) : answer.error;
    if (answered && status != 429 && status < 500) break;  // an answer that another try will not change
    if (attempt == kTries) break;
    const bool judging = Judging();
    {
      std::lock_guard lock(mutex_);
      ++counts_.repeats;
    }
    // A 429 has paused every request already. While every answer so far is
    // the same failure, the pause is short: the run is about to be judged.
    pause = status == 429 ? -1 : judging ? 0 : wait;
  }
  std::lock_guard lock(mutex_);
  counts_.last_failure = why + " for " + file.url;
  return Result::kFailed;
}

// A proxy's refusal of the tunnel: 403 and 407 are final; 502 and 504, a
// proxy that cannot reach the server, are judged as the server's own. True
// when the run stops.
bool TileFetcher::TunnelRefused(const fetch::Answer& answer, const std::string& url) {
  if (answer.status == 502 || answer.status == 504) return JudgeFailure(answer.status, answer.error, url);
  Stop(answer.error + " for " + url);
  return true;
}

// True while no tile came and every answer so far was one failure.
bool TileFetcher::Judging() const {
  std::lock_guard lock(mutex_);
  return answers_served_ == 0 && first_failures_ != 0;
}

// A proxy that cannot reach the server answers every request with the same
// 502 or 504: when the first answers are all one such failure and no tile
// came, the run stops at once rather than trying every file five times.
bool TileFetcher::JudgeFailure(long status, const std::string& what, const std::string& url) {
  std::size_t enough = 0;
  {
    std::lock_guard lock(mutex_);
    enough = std::min(kAnswersBeforeJudging, counts_.wanted);
    if (answers_served_ != 0 || (first_failures_ != 0 && status != first_failure_)) {
      first_failures_ = 0;
      return false;
    }
    first_failure_ = status;
    if (++first_failures_ < enough) return false;
  }
  Stop(FormatText("%s to each of the first %d requests and sent no tile (the last for %s)", {what, enough, url}));
  return true;
}

TileFetcher::Result TileFetcher::Store(const LayerFile& file, const fetch::Answer& answer) {
  Pixels pixels;
  if (!answer.body.empty() && !DecodeTilePng(answer.body, file.layer == 0 ? 3 : 4, pixels)) {
    return NotATile(file, answer);
  }
  // An empty base is a missing one, asked for again next time; an empty
  // overlay is kept, as nothing is drawn there.
  if (answer.body.empty() && file.layer == 0) return Result::kMissing;
  // Only --refresh replaces a tile kept (by another run, since this one began).
  const platform::IoStatus status = folder_.Keep(file.file, answer.body, settings_.refresh);
  if (!status.Failed() && answer.last_modified >= 0) platform::SetFileModifiedTime(file.file, answer.last_modified);
  if (status.Failed()) {
    Stop("cannot write " + file.file + ": " + InOutMessage(status));
    return Result::kStopped;
  }
  if (!pixels.empty() && settings_.decoded) settings_.decoded(file, std::move(pixels));
  std::lock_guard lock(mutex_);
  counts_.bytes += answer.body.size();
  return answer.body.empty() ? Result::kEmpty : Result::kKept;
}

TileFetcher::Result TileFetcher::NotATile(const LayerFile& file, const fetch::Answer& answer) {
  const std::string type = answer.content_type.empty() ? "no type" : answer.content_type;
  const std::string what = FormatText("%s (\"%s\")", {type, Sample(answer.body)});
  {
    std::lock_guard lock(mutex_);
    ++answers_not_tiles_;
    counts_.last_failure = "not a 256 x 256 PNG but " + what + " for " + file.url;
    if (answers_served_ != 0 || answers_not_tiles_ < std::min(kAnswersBeforeJudging, counts_.wanted)) {
      return Result::kFailed;
    }
  }
  Stop("the server sends no tiles: its first answers were not PNG tiles but " + what);
  return Result::kStopped;
}

void TileFetcher::Settle(std::size_t row, const LayerFile& file, Result result) {
  std::lock_guard lock(mutex_);
  if (result == Result::kMissing) {
    ++(file.layer == 0 ? counts_.missing_bases : counts_.missing_overlays);
  }
  if (result == Result::kGone) ++counts_.gone;
  if (result == Result::kFailed) ++counts_.failed;
  if (result != Result::kFailed) ++answers_served_;  // the server serves: its failures are its own
  ++counts_.settled;
  --dealt_rows_[row - dealt_rows_.front().row].unsettled;
  settled_.notify_all();
}

}  // namespace rastrel
