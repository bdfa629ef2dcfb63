// When the download may start its next request: no more at once than the
// connections carry (HTTP/1.1: one each; HTTP/2: the streams allowed, from
// the first answer that shows the server speaks it), no
// faster than the rate the user set, and none while a server that answered
// 429 wants a pause. A 429 also halves the requests at once and caps the rate
// at half of what the server was sent in the last second; both grow back
// slowly: the rate by one request a second, the requests at once by one a
// round of them.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>

namespace rastrel {

class RequestPace {
 public:
  using Clock = std::chrono::steady_clock;
  using Time = Clock::time_point;

  // `per_second` 0: no rate set.
  RequestPace(unsigned connections, unsigned streams, double per_second);

  // The server speaks HTTP/2: up to `streams` at once from now on.
  void SpeaksHttp2();
  // When the next request may start: `now` or earlier when it may start at
  // once, Time::max() while as many are in flight as may be.
  Time Next(Time now) const;
  void Started(Time now);
  // A request ended; `refused` for a 429, whose `pause` in seconds holds every request.
  void Ended(Time now, bool refused, double pause);

  unsigned AtOnce() const { return limit_; }
  unsigned MostAtOnce() const { return most_; }
  bool Http2() const { return http2_; }

 private:
  unsigned connections_, streams_, limit_;
  bool http2_ = false;
  unsigned in_flight_ = 0, most_ = 0;
  std::size_t since_growth_ = 0;
  std::chrono::duration<double> interval_;  // the user's rate, 0 for none
  double throttle_ = 0;                     // requests a second since a 429, 0 for none
  Time last_start_{}, paused_until_{}, last_cut_{}, last_growth_{};
  std::deque<Time> recent_;  // the starts of the last second
};

}  // namespace rastrel
