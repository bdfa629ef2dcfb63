// The download: every layer file of a block's tiles that the tile folder
// lacks, fetched on several connections in the order the map is joined (rows
// from the north), each kept only once it is a whole 256 x 256 PNG tile.
// Requests go out at the pace the server allows (request_pace.h), many at
// once over HTTP/2; what arrives goes to the checking threads, and its
// request's thread asks for the next file at once. A
// row's files are listed when its turn comes, a few rows ahead of the join,
// so memory does not grow with the map's height. Answers that may pass (a
// busy server, a broken connection) are tried again after a pause; answers
// that say the run cannot succeed stop it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fetch.h"
#include "request_pace.h"
#include "tile_folder.h"
#include "tile_merge.h"

namespace rastrel {

struct LayerFile {
  std::size_t layer;  // 0 the base, 1 and 2 the overlays
  std::string url;
  std::string file;  // where it is kept
};

// The layer files of a row of the map, counted from the north.
using RowFiles = std::function<std::vector<LayerFile>(std::size_t row)>;

struct FetchSettings {
  unsigned connections = 2;
  unsigned streams = 2;      // requests at once over HTTP/2
  double per_second = 0;     // the most requests a second, 0 for no limit
  bool refresh = false;  // ask again for the files kept, if changed
  std::string user_agent;
  std::size_t rows_ahead = 2;  // rows listed beyond the one being joined
  unsigned checkers = 1;       // threads that check and keep what arrives
  // Takes the pixels of each file kept, as its check decoded them.
  std::function<void(const LayerFile& file, Pixels pixels)> decoded;
};

// What the download has done so far.
struct FetchCounts {
  std::size_t wanted = 0;    // files to ask for
  std::size_t settled = 0;   // of those, asked for and done with
  std::size_t missing_bases = 0, missing_overlays = 0;
  std::size_t gone = 0;      // kept, but the server has them no more
  std::size_t failed = 0;    // gave no tile after every try
  std::size_t repeats = 0;   // tries made again
  std::uint64_t bytes = 0;   // received in tiles
  std::string last_failure;  // why the last failed one failed
  bool http2 = false;        // the server answered over HTTP/2
  unsigned most_at_once = 0; // requests in flight at once, at most
};

// The largest answer taken as a tile: twice a 256 x 256 PNG of 16-bit RGBA
// stored without compression. It bounds the memory of the answers held.
constexpr std::size_t kLargestTileFile = std::size_t{1} << 20;

class TileFetcher {
 public:
  TileFetcher(std::size_t rows, RowFiles row_files, const TileFolder& folder, FetchSettings settings);
  ~TileFetcher();

  // Starts the connections.
  void Start();
  // Waits until every file of `row` is settled (rows are asked for in
  // order); false when the run stops first.
  bool WaitForRow(std::size_t row);
  // Fetches the rest without waiting for the join, and waits for every
  // connection to end.
  void Finish();
  // True once a stop was requested or the download cannot succeed.
  bool Stopping() const;
  // Why the download cannot succeed; empty while it can.
  std::string Fatal() const;
  FetchCounts Counts() const;

 private:
  enum class Result { kKept, kMissing, kGone, kEmpty, kFailed, kStopped, kReceived };
  // An answer with a body, to check and keep.
  struct Check {
    std::size_t row;
    LayerFile file;
    fetch::Answer answer;
  };
  struct RowWork {
    std::size_t row;
    std::vector<LayerFile> files;  // those to ask for
    std::size_t next = 0, unsettled = 0;
  };

  bool Wanted(const LayerFile& file) const;
  void DealRow();
  bool NextFile(std::unique_lock<std::mutex>& lock, LayerFile& file, std::size_t& row);
  void Work();
  void CheckArrivals();
  void Hand(Check check);
  Result FetchOne(const LayerFile& file, std::uint64_t turn, fetch::Answer& received);
  fetch::Answer Ask(const fetch::Request& request, std::uint64_t turn);
  // Ends a request's turn as it goes out of scope.
  struct Judged {
    TileFetcher& fetcher;
    bool http2, refused;
    std::int64_t pause;
    ~Judged();
  };
  bool TunnelRefused(const fetch::Answer& answer, const std::string& url);
  // Requests in flight at most: one a connection over HTTP/1.1, the streams over HTTP/2.
  std::size_t MostInFlight() const { return std::max(settings_.streams, settings_.connections); }
  bool JudgeFailure(long status, const std::string& what, const std::string& url);
  bool Judging() const;
  Result Store(const LayerFile& file, const fetch::Answer& answer);
  Result NotATile(const LayerFile& file, const fetch::Answer& answer);
  void Settle(std::size_t row, const LayerFile& file, Result result);
  void Stop(std::string why);
  bool Pause(std::int64_t seconds);

  const std::size_t rows_;
  RowFiles row_files_;
  const TileFolder& folder_;
  FetchSettings settings_;
  std::deque<RowWork> dealt_rows_;  // listed and not yet joined
  std::size_t dealt_ = 0, joining_ = 0;
  bool finishing_ = false;
  std::size_t answers_not_tiles_ = 0;
  std::size_t answers_served_ = 0;  // tiles, or answers that the server has none
  long first_failure_ = 0;  // the one failure answered so far, while no tile came
  std::size_t first_failures_ = 0;
  FetchCounts counts_;
  std::string fatal_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> server_answered_{false};
  RequestPace pace_;
  void WakeTurn();
  // Requests start in the order their turns were taken: files in the order listed.
  std::uint64_t turns_taken_ = 0, turn_serving_ = 0;
  std::unique_ptr<fetch::Client> client_;
  mutable std::mutex mutex_;
  std::condition_variable settled_, room_, arrived_, check_room_;
  std::map<std::uint64_t, std::condition_variable*> turns_waiting_;
  std::deque<Check> arrivals_;
  bool requesters_done_ = false;
  std::vector<std::thread> requesters_, checkers_;
};

}  // namespace rastrel
