#include "request_pace.h"

#include <gtest/gtest.h>

#include "map_options.h"

namespace rastrel {
namespace {

using std::chrono::milliseconds;
const RequestPace::Time kStart = RequestPace::Time{} + std::chrono::hours(1);

// Starts requests while the pace lets them start at `at`; how many did.
unsigned StartAll(RequestPace& pace, RequestPace::Time at) {
  unsigned started = 0;
  while (pace.Next(at) <= at) {
    pace.Started(at);
    ++started;
  }
  return started;
}

TEST(RequestPace, HttpOneKeepsToTheConnectionsHttpTwoToTheStreams) {
  RequestPace pace(2, 8, 0);
  EXPECT_EQ(StartAll(pace, kStart), 2u);
  EXPECT_EQ(pace.Next(kStart), RequestPace::Time::max());
  for (int i = 0; i < 2; ++i) pace.Ended(kStart, false, 0);
  EXPECT_EQ(StartAll(pace, kStart), 2u) << "HTTP/1.1: no more than the connections";
  pace.SpeaksHttp2();
  for (int i = 0; i < 2; ++i) pace.Ended(kStart, false, 0);
  EXPECT_EQ(StartAll(pace, kStart), 8u);
  for (int i = 0; i < 8; ++i) pace.Ended(kStart, false, 0);
  EXPECT_EQ(StartAll(pace, kStart), 8u) << "never beyond the streams";
  EXPECT_EQ(pace.MostAtOnce(), 8u);
}

TEST(ParseRate, TakesRequestsASecondAMinuteOrAnHour) {
  const struct {
    const char* text;
    double per_second;  // 0: refused
  } cases[] = {{"10/s", 10}, {"120/m", 2}, {"7200/h", 2}, {"999999/s", 999999}, {"0/s", 0}, {"10/d", 0},
               {"10", 0}, {"/s", 0}, {"1.5/s", 0}, {"-1/s", 0}, {"1234567/s", 0}, {"10/S", 0}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(ParseRate(c.text), c.per_second) << c.text;
}

TEST(RequestPace, ARateSpacesTheStarts) {
  RequestPace pace(4, 4, 20);
  EXPECT_EQ(StartAll(pace, kStart), 1u);
  EXPECT_EQ(pace.Next(kStart), kStart + milliseconds(50));
  EXPECT_EQ(StartAll(pace, kStart + milliseconds(49)), 0u);
  EXPECT_EQ(StartAll(pace, kStart + milliseconds(50)), 1u);
}

TEST(RequestPace, A429PausesEveryRequestHalvesThoseAtOnceAndCapsTheRate) {
  RequestPace pace(2, 16, 0);
  pace.SpeaksHttp2();
  RequestPace::Time now = kStart;
  // 16 at once, twice: 32 started within the second.
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(StartAll(pace, now), 16u);
    for (int i = 0; i < 16; ++i) pace.Ended(now, false, 0);
    now += milliseconds(10);
  }
  EXPECT_EQ(StartAll(pace, now), 16u);
  pace.Ended(now, true, 2);
  for (int i = 0; i < 15; ++i) pace.Ended(now, true, 1);  // of the same moment: no second cut
  EXPECT_EQ(pace.AtOnce(), 8u);
  EXPECT_EQ(pace.Next(now), now + std::chrono::seconds(2));
  // Half of the 48 sent in the last second: 24 a second, so 1/24 s apart.
  const RequestPace::Time resumed = now + std::chrono::seconds(2);
  EXPECT_EQ(StartAll(pace, resumed), 1u);
  EXPECT_EQ(pace.Next(resumed), resumed + std::chrono::duration_cast<RequestPace::Time::duration>(
                                              std::chrono::duration<double>(1.0 / 24)));
  // Past the first 429, the requests at once grow by one a round.
  RequestPace::Time later = resumed + std::chrono::seconds(5);
  for (int i = 0; i < 16; ++i) pace.Ended(later, false, 0);
  EXPECT_EQ(pace.AtOnce(), 9u);
}

}  // namespace
}  // namespace rastrel
