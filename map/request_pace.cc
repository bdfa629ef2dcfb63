#include "request_pace.h"

#include <algorithm>

namespace rastrel {

namespace {

constexpr std::chrono::seconds kSecond{1};

}  // namespace

RequestPace::RequestPace(unsigned connections, unsigned streams, double per_second)
    : connections_(std::max(connections, 1u)),
      streams_(std::max(streams, connections_)),
      limit_(connections_),
      interval_(per_second > 0 ? 1 / per_second : 0) {}

void RequestPace::SpeaksHttp2() {
  if (http2_) return;
  http2_ = true;
  // A 429 before the first HTTP/2 answer has cut the requests at once already.
  if (last_cut_ == Time{}) limit_ = streams_;
}

RequestPace::Time RequestPace::Next(Time now) const {
  if (in_flight_ >= limit_) return Time::max();
  Time next = std::max(now, paused_until_);
  if (last_start_ != Time{}) {
    const auto spacing = std::max(interval_, std::chrono::duration<double>(throttle_ > 0 ? 1 / throttle_ : 0));
    next = std::max(next, last_start_ + std::chrono::duration_cast<Clock::duration>(spacing));
  }
  return next;
}

void RequestPace::Started(Time now) {
  last_start_ = now;
  most_ = std::max(most_, ++in_flight_);
  recent_.push_back(now);
  while (recent_.front() <= now - kSecond) recent_.pop_front();
}

void RequestPace::Ended(Time now, bool refused, double pause) {
  if (in_flight_ != 0) --in_flight_;
  const unsigned ceiling = http2_ ? streams_ : connections_;
  if (!refused) {
    // The rate grows back by one a second, the requests at once by one each
    // time as many have ended well as may be at once.
    if (throttle_ > 0 && now - last_growth_ >= kSecond) {
      throttle_ += 1;
      last_growth_ = now;
    }
    if (++since_growth_ < limit_) return;
    since_growth_ = 0;
    limit_ = std::min(limit_ + 1, ceiling);
    return;
  }
  paused_until_ = std::max(paused_until_, now + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(pause)));
  since_growth_ = 0;
  // The other requests of the same moment were refused for the same excess.
  if (last_cut_ != Time{} && now - last_cut_ < kSecond) return;
  last_cut_ = last_growth_ = now;
  limit_ = std::max(1u, limit_ / 2);
  while (!recent_.empty() && recent_.front() <= now - kSecond) recent_.pop_front();
  const double sent = static_cast<double>(std::max<std::size_t>(recent_.size(), 1));
  throttle_ = std::max(0.5, (throttle_ > 0 ? std::min(throttle_, sent) : sent) / 2);
}

}  // namespace rastrel
