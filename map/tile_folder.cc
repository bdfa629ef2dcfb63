#include "tile_folder.h"

#include <cstdint>

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
  if (recorded.empty() || recorded == server) return "";
  return "the tile folder " + path_ + " holds tiles from " + recorded + ", not from " + server +
         ": name another folder with --tiles, or remove " + path_ + " to fill it from " + server;
}

platform::IoStatus TileFolder::Prepare(const std::string& server) const {
  platform::IoStatus status = platform::MakeDirectory(path_);
  for (std::size_t layer = 0; layer < std::size(kLayerFolders) && !status.Failed(); ++layer) {
    status = platform::MakeDirectory(path_ + "/" + std::string(kLayerFolders[layer]));
  }
  if (status.Failed() || !Recorded().empty()) return status;
  return Keep(Record(), server + "\n", true);
}

std::string TileFolder::LayerFile(std::size_t layer, std::string_view tile) const {
  return path_ + "/" + LayerFileName(layer, tile);
}

platform::IoStatus TileFolder::Keep(const std::string& file, std::string_view bytes, bool replace) const {
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
