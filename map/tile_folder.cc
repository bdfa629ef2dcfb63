#include "tile_folder.h"

#include <cstdint>

#include "server_address.h"
#include "textout.h"
#include "tile_merge.h"

namespace rastrel {

namespace {

std::string TemporaryName(const std::string& file, std::uint32_t process) {
  return file + "." + std::to_string(process) + ".tmp";
}

}  // namespace

std::string TileFolder::Recorded() const {
  std::string recorded;
  if (platform::ReadWholeFile(Record(), 4096, recorded).Failed()) return "";
  while (!recorded.empty() && (recorded.back() == '\n' || recorded.back() == '\r')) recorded.pop_back();
  return recorded;
}

std::string TileFolder::OtherServer(const std::string& server) const {
  const std::string recorded = Recorded();
  // Records made before the default port was left out name it.
  if (recorded.empty() || recorded == server || CheckServerAddress(recorded).base == server) return "";
  return "the tile folder " + path_ + " holds tiles from " + recorded + ", not from " + server +
         ": name another folder with --tiles, or remove " + path_ + " (or only its record " + Record() +
         ", if you know its tiles are those of " + server + ") to fill it from " + server;
}

std::string TileFolder::Problem() const {
  if (platform::IsDirectory(path_)) return "";
  if (platform::IsExistingFile(path_)) return "the tile folder " + path_ + " is a file, not a folder";
  std::string parent = path_;
  while (!parent.empty() && platform::PathSeparators().find(parent.back()) != std::string_view::npos) parent.pop_back();
  const std::size_t separator = parent.find_last_of(platform::PathSeparators());
  parent = separator == std::string::npos ? "." : parent.substr(0, separator + 1);
  if (platform::IsDirectory(parent)) return "";
  return "the tile folder " + path_ + " cannot be made: the folder " + parent + " that would hold it does not exist";
}

platform::IoStatus TileFolder::Prepare() const {
  platform::IoStatus status = platform::MakeDirectory(path_);
  for (std::size_t layer = 0; layer < std::size(kLayerFolders) && !status.Failed(); ++layer) {
    status = platform::MakeDirectory(path_ + "/" + std::string(kLayerFolders[layer]));
  }
  return status;
}

platform::IoStatus TileFolder::RecordServer() const {
  if (recorded_.exchange(true) || !Recorded().empty()) return platform::IoStatus::Ok();
  return Write(Record(), server_ + "\n", true);
}

std::string TileFolder::LayerFile(std::size_t layer, std::string_view tile) const {
  return path_ + "/" + LayerFileName(layer, tile);
}

platform::IoStatus TileFolder::Keep(const std::string& file, std::string_view bytes, bool replace) const {
  if (const platform::IoStatus status = RecordServer(); status.Failed()) return status;
  return Write(file, bytes, replace);
}

platform::IoStatus TileFolder::Write(const std::string& file, std::string_view bytes, bool replace) const {
  // Another run on the folder may have kept the same tile meanwhile: its copy
  // is as good, and Windows refuses to replace a file that run may be reading.
  if (!replace && platform::IsExistingFile(file)) return platform::IoStatus::Ok();
  const platform::IoStatus status = WriteWholeFile(file, bytes, TemporaryName(file, platform::ProcessId()));
  return status.Failed() && !replace && platform::IsExistingFile(file) ? platform::IoStatus::Ok() : status;
}

bool TileFolder::CleanUp() const {
  if (shared_) return true;
  bool emptied = true;
  for (std::string_view layer : kLayerFolders) emptied &= platform::RemoveEmptyDirectory(path_ + "/" + std::string(layer));
  if (emptied) platform::RemoveFile(Record());
  return !platform::RemoveEmptyDirectory(path_);
}

std::string TileFolder::LongestFileName() const {
  // Keys of eight digits, and the longest process number.
  return TemporaryName(LayerFile(0, "ffffffff000_ffffffff000"), UINT32_MAX);
}

}  // namespace rastrel
