#include "map_image.h"

#include <algorithm>
#include <cmath>

#include "area_shrink.h"
#include "calibration.h"
#include "parallel.h"
#include "png_read.h"
#include "progress.h"
#include "textout.h"
#include "tile_merge.h"

namespace rastrel {

namespace {

// The PNG's zlib level: on maps of many colours, within 2 % of the default's
// size in two thirds of its time.
constexpr int kPngLevel = 4;
// The smaller zoom levels' PNGs are read back once, soon: compressed fast.
constexpr int kZoomPngLevel = 1;

// A zoom in percent to at most two decimals: "100", "2.5", "58.59".
std::string Percent(float percent) {
  const auto hundredths = static_cast<std::int64_t>(std::lround(percent * 100));
  std::string text = std::to_string(hundredths / 100) + FormatText(".%.02d", {hundredths % 100});
  while (text.back() == '0' && text.find('.') != std::string::npos) text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

// "100, 25 and 7.32 %"
std::string Zooms(const std::vector<ZoomLevel>& zooms) {
  std::vector<std::string> percents;
  for (const ZoomLevel& zoom : zooms) percents.push_back(Percent(zoom.percent));
  return ListText(percents) + " %";
}

}  // namespace

std::string MapImageName(const std::string& name, bool ozf2) { return name + (ozf2 ? ".ozf2" : ".png"); }

std::string MapImageLimit(std::size_t columns, std::size_t rows, bool ozf2) {
  // Pixels past 32 bits are past the format's limit as well.
  auto pixels = [](std::size_t tiles) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{tiles} * kTileSide, UINT32_MAX));
  };
  const std::string_view limit = ozf2 ? Ozf2Limit(pixels(columns), pixels(rows)) : "";
  if (limit.empty()) return "";
  return FormatText("the map of %d x %d tiles is too large for --ozf2: %s; make it as maps of fewer tiles",
                    {columns, rows, std::string(limit)});
}

// A file of the work folder that the run writes: any failure is the run's
// one line, and the file is closed however the run ends.
class MapImage::WorkFile {
 public:
  explicit WorkFile(std::string name) : name_(std::move(name)) {
    const platform::IoStatus status = platform::OpenFile(name_, platform::OpenMode::kCreate, handle_);
    if (status.Failed()) Fail(status);
    open_ = true;
  }
  ~WorkFile() {
    if (open_) platform::CloseFile(handle_);
  }
  // Takes the file's bytes in order.
  PngStream::Sink Sink() {
    return [this](std::string_view bytes) {
      const platform::IoStatus status = platform::WriteFile(handle_, bytes.data(), bytes.size());
      if (status.Failed()) Fail(status);
    };
  }
  void Close() {
    open_ = false;
    const platform::IoStatus status = platform::CloseFile(handle_);
    if (status.Failed()) Fail(status);
  }

 private:
  [[noreturn]] void Fail(platform::IoStatus status) const {
    throw ImageFailure{"cannot write " + name_ + ": " + InOutMessage(status)};
  }

  std::string name_;
  platform::FileHandle handle_ = 0;
  bool open_ = false;
};

// A smaller zoom level as it is made: its colours surveyed and its rows kept
// in a PNG of its own, and passed on to the levels made from it.
class MapImage::Level : public RowSink {
 public:
  // The first smaller level, the largest, in `parts` on `jobs` threads; the others in one part on one.
  Level(const std::string& file, const ZoomLevel& zoom, std::size_t parts, unsigned jobs)
      : survey_(parts),
        file_(file),
        width_(zoom.width),
        jobs_(jobs),
        png_(zoom.width, zoom.height, kZoomPngLevel, jobs, file_.Sink()) {
    png_.UseFilter(2);  // each row from the one above
  }

  void AddRows(const unsigned char* rgb, std::size_t rows) override {
    survey_.Take(rgb, width_, rows, jobs_);
    png_.AddRows(rgb, rows);
    for (auto& next : onward_) next->AddRows(rgb, rows);
  }
  void Finish() override {
    png_.Finish();
    file_.Close();
    for (auto& next : onward_) next->Finish();
  }

  ColourSurvey survey_;
  std::vector<std::unique_ptr<RowSink>> onward_;  // the smaller levels made from this one

 private:
  WorkFile file_;
  std::uint32_t width_;
  unsigned jobs_;
  PngStream png_;
};

// Ends the second pass once a stop is requested.
struct Stopped {};

// Rows passed on and counted for the status line; a stop requested ends the pass.
class MapImage::Counted : public RowSink {
 public:
  Counted(RowSink& to, std::atomic<std::uint64_t>& count) : to_(to), count_(count) {}
  void AddRows(const unsigned char* rgb, std::size_t rows) override {
    if (platform::StopRequested() != 0) throw Stopped{};
    to_.AddRows(rgb, rows);
    count_ += rows;
  }
  void Finish() override { to_.Finish(); }

 private:
  RowSink& to_;
  std::atomic<std::uint64_t>& count_;
};

MapImage::MapImage(const std::string& name, const std::string& work, std::uint32_t width, std::uint32_t height,
                   bool ozf2, unsigned jobs)
    : name_(name), work_(work), width_(width), height_(height), ozf2_(ozf2), jobs_(jobs) {
  try {
    OpenFiles();
  } catch (...) {
    CleanUp();  // no destructor runs for what is not made
    throw;
  }
}

void MapImage::OpenFiles() {
  if (!ozf2_) {
    png_file_ = std::make_unique<WorkFile>(Work(".png"));
    png_ = std::make_unique<PngStream>(width_, height_, kPngLevel, jobs_, png_file_->Sink());
    return;
  }
  survey_ = std::make_unique<ColourSurvey>(4);
  zooms_ = Ozf2Levels(width_, height_);
  for (const ZoomLevel& zoom : zooms_) rows_to_write_ += zoom.height;
  levels_.resize(zooms_.size());
  for (std::size_t n = 1; n < zooms_.size(); ++n) {
    level_files_.push_back(Work(FormatText(".zoom%d.png", {n})));
    levels_[n] = std::make_unique<Level>(level_files_.back(), zooms_[n], n == 1 ? 4 : 1, n == 1 ? jobs_ : 1);
    // The first smaller level from the full map, the others from it.
    const ZoomLevel& from = n == 1 ? zooms_[0] : zooms_[1];
    auto shrink = std::make_unique<AreaShrink>(from.width, from.height, zooms_[n].width, zooms_[n].height,
                                               n == 1 ? jobs_ : 1, *levels_[n]);
    if (n == 1) shrink_ = std::move(shrink);
    else levels_[1]->onward_.push_back(std::move(shrink));
  }
}

MapImage::~MapImage() { CleanUp(); }

void MapImage::AddRows(const unsigned char* rgb, std::size_t rows) {
  if (ozf2_) {
    survey_->Take(rgb, width_, rows, jobs_);
    shrink_->AddRows(rgb, rows);
    return;
  }
  png_->AddRows(rgb, rows);
  ParallelFor(jobs_, rows, [&](std::size_t row) { colours_.Take(rgb + row * width_ * 3, width_); });
}

void MapImage::Finish() {
  if (ozf2_) {
    shrink_->Finish();
    return;
  }
  png_->Finish();
  png_file_->Close();
}

void MapImage::Place(const GridRequest& block, const Rows& again) {
  if (ozf2_) {
    MakeOzf2(again);
  } else {
    PlacePng();
  }
  if (platform::StopRequested() != 0) return;
  WriteCalibration(block, CalibrationWork(), MapImageName(name_, ozf2_));
  Move(ozf2_ ? ".ozf2" : ".png");
  Move(".map");
}

void MapImage::PlacePng() {
  if (!colours_.Fits()) return;
  const std::string palette = Work(".palette.png");
  platform::IoStatus status = RewriteWithPalette(Work(".png"), palette, colours_.Colours(), kPngLevel, jobs_);
  if (!status.Failed()) status = platform::RenameFile(palette, Work(".png"));
  if (status.Failed()) throw ImageFailure{"cannot write " + palette + ": " + InOutMessage(status)};
}

void MapImage::MakeOzf2(const Rows& again) {
  std::vector<std::vector<std::uint32_t>> palettes = {survey_->Palette()};
  for (std::size_t n = 1; n < zooms_.size(); ++n) palettes.push_back(levels_[n]->survey_.Palette());
  colours_made_ = survey_->Exact() ? FormatText("%d colours", {palettes[0].size()}) : "256 colours chosen from more";
  const std::string file = Work(".ozf2");
  WorkFile out(file);
  try {
    Ozf2Writer writer(zooms_, jobs_, out.Sink());
    Counted full(writer.Level(0, palettes[0]), rows_written_);
    again(full);
    full.Finish();
    for (std::size_t n = 1; n < zooms_.size(); ++n) {
      std::unique_ptr<Counted> counted;
      const platform::IoStatus status = ReadPngRows(level_files_[n - 1], [&](std::uint32_t, std::uint32_t) -> RowSink& {
        counted = std::make_unique<Counted>(writer.Level(n, palettes[n]), rows_written_);
        return *counted;
      });
      if (status.Failed()) throw ImageFailure{"cannot read " + level_files_[n - 1] + ": " + InOutMessage(status)};
    }
    writer.Finish();
  } catch (const Stopped&) {
    return;
  } catch (const std::length_error& too_large) {
    throw ImageFailure{"cannot write " + file + ": " + too_large.what()};
  }
  out.Close();
}

std::string MapImage::CalibrationWork(const std::string& work) { return work + "/calibration.map"; }

void MapImage::Move(const std::string& ending) const {
  const std::string made = ending == ".map" ? CalibrationWork() : Work(ending);
  const platform::IoStatus status = platform::RenameFile(made, name_ + ending);
  if (status.Failed()) throw ImageFailure{"cannot move " + name_ + ending + " into place: " + InOutMessage(status)};
}

std::string MapImage::Status() const {
  if (!ozf2_) return "write " + name_ + ".png";
  return FormatText("write %s.ozf2, %d of %d rows of its %d zoom levels",
                    {name_, rows_written_.load(), rows_to_write_, zooms_.size()});
}

std::string MapImage::Made() const {
  if (!ozf2_) return FormatText("join %s.png, %d x %d pixels, and %s.map", {name_, width_, height_, name_});
  return FormatText("join %s.ozf2, %d x %d pixels in %s, zooms %s, and %s.map",
                    {name_, width_, height_, colours_made_, Zooms(zooms_), name_});
}

void MapImage::CleanUp() {
  png_.reset();
  png_file_.reset();
  shrink_.reset();
  levels_.clear();
  for (const std::string ending : {".png", ".palette.png", ".ozf2"}) platform::RemoveFile(Work(ending));
  platform::RemoveFile(CalibrationWork());
  for (const std::string& file : level_files_) platform::RemoveFile(file);
}

}  // namespace rastrel
