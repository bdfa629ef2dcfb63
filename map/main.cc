// rastrel-map: one command from a box of degrees (or a block of keys) to a
// finished map NAME.png with its calibration NAME.map, and on request a
// GeoTIFF and MBTiles. The tiles are fetched into NAME_tiles (or a tile
// folder that several maps share), each kept only once it is a whole tile, so
// a run again fetches only what is missing; rows of tiles are merged and
// compressed into the PNG while later rows are still on their way. The work
// files wait in NAME_tiles until they are whole.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "box_keys.h"
#include "calibration.h"
#include "decoded_layers.h"
#include "download_lists.h"
#include "map_image.h"
#include "fetch.h"
#include "map_options.h"
#include "parallel.h"
#include "platform.h"
#include "progress.h"
#include "textout.h"
#include "tile_fetch.h"
#include "tile_folder.h"
#include "tile_merge.h"

#ifndef RASTREL_VERSION
#error "RASTREL_VERSION must give the version (set by the build)"
#endif

namespace rastrel {

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;
// Base layers the download decoded, held for the join so that it need not
// decode them again (they take the most time): those of the rows in flight,
// at most this many bytes.
constexpr std::size_t kMostDecoded = std::size_t{64} << 20;
// A map's PNG takes about a third of its raw image (196,608 bytes a tile) at
// worst, its OZF2 image as much again; the run needs that much free beside
// the tiles.
constexpr std::int64_t kImageBytesPerTile = 65536;

// A step that failed: its one line, and the run ends with status 1.
struct Failure {
  std::string message;
  bool tiles_kept = false;  // the line says where the complete tiles are, if any is
};

void CheckIoOr(platform::IoStatus status, const std::string& what) {
  if (status.Failed()) throw Failure{what + ": " + InOutMessage(status)};
}

void WriteOut(const std::string& text) {
  CheckIoOr(platform::WriteStdout(text.data(), text.size()), "cannot write to standard output");
}

void SayLine(const std::string& line) {
  const std::string text = "rastrel-map: " + line + "\n";
  platform::WriteStderr(text.data(), text.size());
}

std::string Minutes(double seconds) {
  const auto whole = static_cast<std::int64_t>(seconds + 0.5);
  return FormatText("%d:%.02d", {whole / 60, whole % 60});
}

// Ends the status line when it goes out of scope.
struct StatusShown {
  Progress& progress;
  ~StatusShown() { progress.Show(nullptr); }
};

class MapRun {
 public:
  explicit MapRun(const MapOptions& options)
      : options_(options),
        name_(options.block.map_name),
        work_(name_ + "_tiles"),
        tiles_(options.tiles, options.tiles_shared, options.server),
        columns_(static_cast<std::size_t>(TileCount(options.block.X()))),
        rows_(static_cast<std::size_t>(TileCount(options.block.Y()))),
        // A few rows listed ahead of the join, more where rows are narrow.
        rows_ahead_(std::max<std::size_t>(2, 96 / (columns_ * std::size(kLayerFolders)))),
        decoded_(std::min(kMostDecoded, (rows_ahead_ + 1) * columns_ * kTileArea * 3)) {}

  int Run();

 private:
  void CheckMachine() const;
  std::vector<LayerFile> RowFiles(std::size_t row) const;
  TileKey ColumnKey(std::size_t column) const { return KeyAt(options_.block.X(), static_cast<std::int32_t>(column)); }
  // Rows from the north: the last key of the range first.
  TileKey RowKey(std::size_t row) const { return KeyAt(options_.block.Y(), static_cast<std::int32_t>(rows_ - 1 - row)); }
  std::string TileName(std::size_t column, std::size_t row) const;
  void JoinRows(TileFetcher& fetcher);
  void MergeRow(std::size_t row, std::vector<unsigned char>& strip, bool again = false);
  void ReportDownload(const TileFetcher& fetcher);
  std::string Carried(const FetchCounts& counts) const;
  void FinishDownload(TileFetcher& fetcher);
  void PlaceMap();
  void MakeMap();
  int Failed(const std::string& message, bool tiles_kept);
  void Convert(const std::string& ending, const std::vector<std::string>& options);
  void CleanUp();
  int Interrupted();
  std::string TilesKept() const;
  std::string StaleFiles() const;
  void MakeFolders() const;
  std::string Status(const TileFetcher& fetcher, std::chrono::steady_clock::time_point started) const;
  std::string Work(const std::string& file) const { return work_ + "/" + file; }

  const MapOptions& options_;
  const std::string name_, work_;
  const TileFolder tiles_;
  bool tiles_stand_ = true;  // the tile folder, after the clean-up
  const std::size_t columns_, rows_, rows_ahead_;
  Progress progress_;
  FetchCounts counts_;
  std::atomic<std::size_t> rows_joined_{0};  // read by the status line's thread
  bool download_reported_ = false;
  DecodedLayers decoded_;
  std::unique_ptr<MapImage> image_;
};

void MapRun::CheckMachine() const {
  if (const std::string problem = tiles_.Problem(); !problem.empty()) throw Refusal{problem};
  if (const std::string other = tiles_.OtherServer(options_.server); !other.empty()) throw Refusal{other};
  auto need = [](const char* program) {
    if (!platform::IsOnPath(program)) {
      throw Refusal{std::string(program) + " not found: install GDAL " + std::string(platform::GdalInstallAdvice())};
    }
  };
  if (options_.geotiff || options_.mbtiles) need("gdal_translate");
  if (options_.mbtiles) need("gdaladdo");
  if (const std::string limit = MapImageLimit(columns_, rows_, options_.ozf2); !limit.empty()) throw Refusal{limit};
  // A row of tiles is held in memory a few times over; a 32-bit process has
  // room for rows of some thousands of tiles only.
  const std::uint64_t row_bytes = std::uint64_t{columns_} * kTileArea * 3;
  if (row_bytes > SIZE_MAX / 16) {
    throw Refusal{FormatText("the map of %d x %d tiles is too wide for this program's memory: make it as maps of "
                             "fewer columns", {columns_, rows_})};
  }
  const std::int64_t needed = static_cast<std::int64_t>(columns_) * static_cast<std::int64_t>(rows_) *
                              kImageBytesPerTile * (options_.ozf2 ? 2 : 1);
  const std::int64_t free = platform::FreeDiskBytes(".");
  if (free >= 0 && needed > free) {
    throw Refusal{FormatText("the map of %d x %d tiles needs about %d MB, and this folder has %d MB",
                             {columns_, rows_, needed / 1000000, free / 1000000})};
  }
}

std::string MapRun::TileName(std::size_t column, std::size_t row) const {
  return std::string(KeyLabel(ColumnKey(column)).View()) + "_" + std::string(KeyLabel(RowKey(row)).View());
}

std::vector<LayerFile> MapRun::RowFiles(std::size_t row) const {
  std::vector<LayerFile> files;
  for (std::size_t column = 0; column < columns_; ++column) {
    const std::string tile = TileName(column, row);
    for (std::size_t layer = 0; layer < std::size(kLayerFolders); ++layer) {
      files.push_back({layer, options_.server + TilePath(layer, ColumnKey(column), RowKey(row)),
                       tiles_.LayerFile(layer, tile)});
    }
  }
  return files;
}

// A row of the map, merged from its tiles; again for a second pass, which
// says nothing more of damaged tiles.
void MapRun::MergeRow(std::size_t row, std::vector<unsigned char>& strip, bool again) {
  const std::size_t tile_row_bytes = kTileSide * 3, strip_row_bytes = tile_row_bytes * columns_;
  strip.resize(strip_row_bytes * kTileSide);
  ParallelFor(options_.jobs, columns_, [&](std::size_t column) {
    if (platform::StopRequested() != 0) return;
    const Pixels tile = MergeTile(
        tiles_.Path() + "/", TileName(column, row), [this, again](const std::string& line) {
          if (!again) progress_.Say(line);
        },
        [this](const std::string& name, int channels, Pixels& pixels) { return decoded_.Load(name, channels, pixels); });
    for (int y = 0; y < kTileSide; ++y) {
      std::copy_n(tile.data() + y * tile_row_bytes, tile_row_bytes,
                  strip.data() + y * strip_row_bytes + column * tile_row_bytes);
    }
  });
}

void MapRun::JoinRows(TileFetcher& fetcher) {
  image_ = std::make_unique<MapImage>(name_, work_, static_cast<std::uint32_t>(columns_ * kTileSide),
                                      static_cast<std::uint32_t>(rows_ * kTileSide), options_.ozf2, options_.jobs);
  std::vector<unsigned char> strip;
  for (std::size_t row = 0; row < rows_; ++row) {
    // A tile that failed means no map: the rows need not be joined.
    if (!fetcher.WaitForRow(row) || fetcher.Counts().failed != 0) return;
    if (row + 1 == rows_) ReportDownload(fetcher);
    MergeRow(row, strip);
    if (platform::StopRequested() != 0) return;
    image_->AddRows(strip.data(), kTileSide);
    rows_joined_ = row + 1;
  }
  image_->Finish();
}

void MapRun::MakeFolders() const {
  CheckIoOr(tiles_.Prepare(), "cannot make the tile folder " + tiles_.Path());
  CheckIoOr(platform::MakeDirectory(work_), "cannot make the work folder " + work_);
}

std::string MapRun::Status(const TileFetcher& fetcher, std::chrono::steady_clock::time_point started) const {
  const FetchCounts counts = fetcher.Counts();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::string status = FormatText("download %d of %d tile files", {counts.settled - counts.failed, counts.wanted});
  if (counts.settled != 0 && counts.settled < counts.wanted && seconds > 0) {
    const double left = seconds * static_cast<double>(counts.wanted - counts.settled) / static_cast<double>(counts.settled);
    status += FormatText(", %d KB/s, %s left", {static_cast<std::int64_t>(static_cast<double>(counts.bytes) / seconds / 1000),
                                                Minutes(left)});
  }
  if (counts.repeats != 0) status += FormatText(", %d tries repeated", {counts.repeats});
  return status + FormatText("; %d of %d rows joined", {rows_joined_.load(), rows_});
}

// How the files came: the protocol, and the requests at once on how many connections.
std::string MapRun::Carried(const FetchCounts& counts) const {
  if (counts.most_at_once == 0) return "";
  const std::size_t connections = std::min<std::size_t>(options_.connections, counts.wanted);
  if (counts.http2) {
    return FormatText(" over HTTP/2, up to %d requests at once on at most %d connection%s",
                      {counts.most_at_once, connections, connections == 1 ? "" : "s"});
  }
  return FormatText(" over HTTP/1.1 on at most %d connection%s", {connections, connections == 1 ? "" : "s"});
}

// The download's line, once: when the last row's files are settled, or at the end.
void MapRun::ReportDownload(const TileFetcher& fetcher) {
  if (download_reported_) return;
  download_reported_ = true;
  counts_ = fetcher.Counts();
  std::string line = FormatText("download %d of %d tile files", {counts_.settled - counts_.failed, counts_.wanted});
  line += Carried(counts_);
  if (counts_.failed != 0) line += FormatText(", %d failed", {counts_.failed});
  line += FormatText(", %d base and %d overlay tiles missing", {counts_.missing_bases, counts_.missing_overlays});
  if (counts_.gone != 0) line += FormatText(", %d gone from the server (the copies kept are used)", {counts_.gone});
  if (counts_.repeats != 0) line += FormatText(", %d tries repeated", {counts_.repeats});
  progress_.Say(line);
}

void MapRun::FinishDownload(TileFetcher& fetcher) {
  ReportDownload(fetcher);
  if (counts_.failed != 0) {
    throw Failure{FormatText("no %s made: %d of the tile files failed after their tries (the last: %s); "
                             "running again fetches them", {MapImageName(name_, options_.ozf2), counts_.failed,
                                                            counts_.last_failure}), true};
  }
}

void MapRun::PlaceMap() {
  progress_.Show([this] { return image_->Status(); });
  const StatusShown shown{progress_};
  image_->Place(options_.block, [this](RowSink& sink) {
    std::vector<unsigned char> strip;
    for (std::size_t row = 0; row < rows_; ++row) {
      MergeRow(row, strip, true);
      sink.AddRows(strip.data(), kTileSide);
    }
  });
  progress_.Show(nullptr);
  if (platform::StopRequested() == 0) progress_.Say(image_->Made());
}

// gdal_translate into the work folder, then into place, so that no half-made file stands under the name.
void MapRun::Convert(const std::string& ending, const std::vector<std::string>& options) {
  const std::string made = Work(name_ + "." + ending);
  std::vector<std::string> command = {"gdal_translate", "-q"};
  // The OZF2 image's palette indices as the colours they stand for.
  if (options_.ozf2) command.insert(command.end(), {"-expand", "rgb"});
  command.insert(command.end(), options.begin(), options.end());
  command.insert(command.end(), {name_ + ".map", made});
  if (platform::RunAndWait(command) != 0) throw Failure{"gdal_translate failed for " + name_ + "." + ending};
  if (ending == "mbtiles" && platform::RunAndWait({"gdaladdo", "-q", made}) != 0) {
    throw Failure{"gdaladdo failed for " + name_ + ".mbtiles"};
  }
  CheckIoOr(platform::RenameFile(made, name_ + "." + ending), "cannot move " + name_ + "." + ending + " into place");
  progress_.Say("made " + name_ + "." + ending);
}

// The files of this map's name that the run did not make, which NAME.map no
// longer matches: the other image, a GeoTIFF or MBTiles file of an earlier
// run. They stay (they are the user's), and the last line names them.
std::string MapRun::StaleFiles() const {
  std::vector<std::string> stale;
  const std::pair<std::string, bool> files[] = {{name_ + ".png", !options_.ozf2},
                                                {name_ + ".ozf2", options_.ozf2},
                                                {name_ + ".tif", options_.geotiff},
                                                {name_ + ".mbtiles", options_.mbtiles}};
  for (const auto& [file, made] : files) {
    if (!made && platform::IsExistingFile(file)) stale.push_back(file);
  }
  return ListText(stale);
}

// What a run leaves besides the maps: the complete tiles, nothing else.
void MapRun::CleanUp() {
  if (image_) image_->CleanUp();
  for (const std::string ending : {".tif", ".mbtiles"}) platform::RemoveFile(Work(name_ + ending));
  tiles_stand_ = tiles_.CleanUp();
  if (work_ != tiles_.Path()) platform::RemoveEmptyDirectory(work_);
}

// Where the complete tiles are, once they are cleaned up; empty when none is kept.
std::string MapRun::TilesKept() const { return tiles_stand_ ? "the complete tiles are kept in " + tiles_.Path() : ""; }

int MapRun::Interrupted() {
  CleanUp();
  const std::string kept = TilesKept();
  progress_.Say("interrupted; " + (kept.empty() ? std::string("no tile was complete") : kept) + ", run again to go on");
  return platform::StopRequested();
}

void MapRun::MakeMap() {
  MakeFolders();
  fetch::Start();
  FetchSettings settings{options_.connections, options_.streams, options_.per_second, options_.refresh,
                         "rastrel-map/" RASTREL_VERSION, rows_ahead_, options_.jobs,
                         [this](const LayerFile& file, Pixels pixels) {
                           if (file.layer == 0) decoded_.Put(file.file, std::move(pixels));
                         }};
  TileFetcher fetcher(rows_, [this](std::size_t row) { return RowFiles(row); }, tiles_, std::move(settings));
  const auto started = std::chrono::steady_clock::now();
  progress_.Show([&] { return Status(fetcher, started); });
  const StatusShown shown{progress_};  // ends the status line before the fetcher goes
  fetcher.Start();
  JoinRows(fetcher);
  fetcher.Finish();
  progress_.Show(nullptr);
  if (platform::StopRequested() != 0) return;
  if (!fetcher.Fatal().empty()) throw Failure{"the download stopped: " + fetcher.Fatal(), true};
  FinishDownload(fetcher);
  // A map made from tiles kept before: the folder is this server's too.
  CheckIoOr(tiles_.RecordServer(), "cannot write " + tiles_.Path() + "/" + std::string(TileFolder::kRecord));
  PlaceMap();
  if (platform::StopRequested() != 0) return;
  if (options_.geotiff) Convert("tif", {"-of", "GTiff", "-co", "COMPRESS=DEFLATE"});
  if (options_.mbtiles) Convert("mbtiles", {"-of", "MBTiles", "-co", "RESAMPLING=NEAREST"});
}

int MapRun::Failed(const std::string& message, bool tiles_kept) {
  // A conversion stopped by the same Ctrl-C is an interruption, not a failure.
  if (platform::StopRequested() != 0) return Interrupted();
  CleanUp();
  const std::string kept = TilesKept();
  progress_.Say(message + (tiles_kept && !kept.empty() ? " (" + kept + ")" : ""));
  return kExitFailed;
}

int MapRun::Run() {
  CheckMachine();
  progress_.Say(FormatText("keys %s (%d x %d tiles) from %s", {options_.keys_text, columns_, rows_, options_.server}));
  platform::WatchStopRequests();
  try {
    MakeMap();
  } catch (const Failure& failure) {
    return Failed(failure.message, failure.tiles_kept);
  } catch (const ImageFailure& failure) {
    return Failed(failure.message, false);
  } catch (const Exception& failure) {
    return Failed("cannot write " + name_ + ".map: " + failure.Message(), false);
  }
  if (platform::StopRequested() != 0) return Interrupted();
  CleanUp();
  const std::string image = MapImageName(name_, options_.ozf2);
  std::string last = FormatText("%s and %s.map made from %d tiles", {image, name_, columns_ * rows_});
  if (counts_.missing_bases + counts_.missing_overlays != 0) {
    last += FormatText("; %d base and %d overlay tiles were missing on the server (white where a base is missing), "
                       "running again fetches them", {counts_.missing_bases, counts_.missing_overlays});
  }
  if (counts_.gone != 0) {
    last += FormatText("; the server no longer has %d of the tile files kept, whose copies are drawn", {counts_.gone});
  }
  if (const std::string stale = StaleFiles(); !stale.empty()) {
    last += "; left from earlier runs, not made from this " + name_ + ".map: " + stale;
  }
  progress_.Say(last);
  return 0;
}

int Main(const std::vector<std::string>& arguments) {
  const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
  try {
    const char* server = std::getenv("RASTREL_SERVER");
    const MapOptions options =
        ParseMapOptions(arguments, processors, server != nullptr && *server != '\0' ? server : nullptr, BuildServer());
    switch (options.action) {
      case MapOptions::Action::kHelp:
        WriteOut(std::string(kMapUsage) + kMapHelp);
        return 0;
      case MapOptions::Action::kVersion:
        WriteOut("rastrel-map " RASTREL_VERSION "\n");
        return 0;
      case MapOptions::Action::kBlock:
        WriteOut(options.keys_text + "\n");
        return 0;
      case MapOptions::Action::kMap:
        break;
    }
    return MapRun(options).Run();
  } catch (const Refusal& refusal) {
    SayLine(refusal.message);
    return kExitRefused;
  } catch (const Failure& failure) {
    SayLine(failure.message);
    return kExitFailed;
  }
}

}  // namespace

}  // namespace rastrel

int main(int argc, char** argv) {
  rastrel::platform::InitProcess();
  return rastrel::Main(rastrel::platform::CommandLineArguments(argc, argv));
}
