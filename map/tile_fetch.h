// The download: every layer file of a block's tiles that the tile folder
// lacks, fetched on several connections in the order the map is joined (rows
// from the north), each kept only once it is a whole 256 x 256 PNG tile.
// Answers that may pass (a busy server, a broken connection) are tried again
// after a pause; answers that say the run cannot succeed stop it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fetch.h"

namespace rastrel {

struct LayerFile {
  std::size_t row;    // of the map, from the north
  std::size_t layer;  // 0 the base, 1 and 2 the overlays
  std::string url;
  std::string file;  // where it is kept
};

struct FetchSettings {
  unsigned connections = 2;
  bool refresh = false;  // ask again for the files kept, if changed
  std::string user_agent;
};

// What the download has done so far.
struct FetchCounts {
  std::size_t wanted = 0;    // files to ask for
  std::size_t settled = 0;   // of those, asked for and done with
  std::size_t missing_bases = 0, missing_overlays = 0;
  std::size_t failed = 0;    // gave no tile after every try
  std::size_t repeats = 0;   // tries made again
  std::uint64_t bytes = 0;   // received in tiles
  std::string last_failure;  // why the last failed one failed
};

class TileFetcher {
 public:
  TileFetcher(std::vector<LayerFile> files, std::size_t rows, FetchSettings settings);
  ~TileFetcher();

  // Starts the connections.
  void Start();
  // Waits until every file of `row` is settled; false when the run stops first.
  bool WaitForRow(std::size_t row);
  // Waits for every connection to end.
  void Finish();
  // True once a stop was requested or the download cannot succeed.
  bool Stopping() const;
  // Why the download cannot succeed; empty while it can.
  std::string Fatal() const;
  FetchCounts Counts() const;

 private:
  enum class Result { kKept, kMissing, kEmpty, kFailed, kStopped };

  void Work();
  Result FetchOne(fetch::Connection& connection, const LayerFile& file);
  Result Store(const LayerFile& file, const fetch::Answer& answer);
  Result NotATile(const LayerFile& file, const fetch::Answer& answer);
  void Settle(const LayerFile& file, Result result);
  void Stop(std::string why);
  bool Pause(std::int64_t seconds);

  std::vector<LayerFile> files_;
  FetchSettings settings_;
  std::vector<std::size_t> unsettled_;  // a row's files not yet settled
  std::size_t next_ = 0;
  std::size_t answers_not_tiles_ = 0, tiles_received_ = 0;
  FetchCounts counts_;
  std::string fatal_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> server_answered_{false};
  mutable std::mutex mutex_;
  std::condition_variable settled_;
  std::vector<std::thread> connections_;
};

}  // namespace rastrel
