// The map's image, made from the merged map's rows as they come: NAME.png, a
// palette PNG where the colours fit one; or on request NAME.ozf2 with its
// zoom levels instead. The OZF2 image's palette needs every colour of the map
// first, so the rows pass twice: the first time its colours are surveyed and
// the smaller levels made (each into a PNG of its own in the work folder),
// the second time the full-size level is written. The image and its NAME.map
// wait in the work folder until they are whole.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console.h"
#include "ozf2.h"
#include "palette.h"
#include "platform.h"
#include "png_stream.h"
#include "quantize.h"
#include "row_sink.h"

namespace rastrel {

// A step of the image that failed: its one line.
struct ImageFailure {
  std::string message;
};

// The image's file name, NAME.png or NAME.ozf2.
std::string MapImageName(const std::string& name, bool ozf2);
// Why the image of a map of `columns` x `rows` tiles cannot be made: one
// line, or empty where it can.
std::string MapImageLimit(std::size_t columns, std::size_t rows, bool ozf2);

class MapImage : public RowSink {
 public:
  // Opens the work files; raises ImageFailure.
  MapImage(const std::string& name, const std::string& work, std::uint32_t width, std::uint32_t height, bool ozf2,
           unsigned jobs);
  ~MapImage() override;

  // Rows of the merged map, 3 bytes a pixel, from the top; raises ImageFailure.
  void AddRows(const unsigned char* rgb, std::size_t rows) override;
  void Finish() override;
  // Gives the map's rows to a sink again, for the second pass.
  using Rows = std::function<void(RowSink& sink)>;
  // Writes the image and its calibration for `block` and moves both into
  // place; returns early, leaving both, once a stop is requested.
  void Place(const GridRequest& block, const Rows& again);
  // What the second pass has done, for the status line.
  std::string Status() const;
  // The phase's line once placed.
  std::string Made() const;
  // Closes and removes every work file.
  void CleanUp();
  // The calibration's work file in the work folder `work`: a short name, so
  // that its path, which the calibration's writer takes only within 259
  // characters, does not limit the map's name.
  static std::string CalibrationWork(const std::string& work);

 private:
  class Level;
  class Counted;
  void OpenFiles();
  class WorkFile;
  void PlacePng();
  void MakeOzf2(const Rows& again);
  void Move(const std::string& ending) const;
  std::string Work(const std::string& ending) const { return work_ + "/" + name_ + ending; }
  std::string CalibrationWork() const { return CalibrationWork(work_); }

  const std::string name_, work_;
  const std::uint32_t width_, height_;
  const bool ozf2_;
  const unsigned jobs_;
  std::unique_ptr<WorkFile> png_file_;
  std::unique_ptr<PngStream> png_;
  ColourCount colours_;
  // The OZF2 image's zoom levels: the full map's colours, and each smaller
  // level made in the first pass, with its colours.
  std::vector<ZoomLevel> zooms_;
  std::unique_ptr<ColourSurvey> survey_;
  std::vector<std::unique_ptr<Level>> levels_;  // from 1, as zooms_
  std::vector<std::string> level_files_;
  std::unique_ptr<RowSink> shrink_;
  std::atomic<std::uint64_t> rows_written_{0};
  std::uint64_t rows_to_write_ = 0;
  std::string colours_made_;
};

}  // namespace rastrel
