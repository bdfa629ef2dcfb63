// The folder that keeps the tiles: the map's own NAME_tiles, or one that
// several maps share (--tiles). It records the server it was filled from, so
// that tiles of two servers never meet in one map; each tile goes in under a
// temporary name of this process's own, so that two runs on one folder never
// write the same temporary file; and a run removes only what it left empty.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform.h"

namespace rastrel {

class TileFolder {
 public:
  // The file, beside the layer folders, that holds the server's base address.
  static constexpr std::string_view kRecord = "server.txt";

  TileFolder(std::string path, bool shared) : path_(std::move(path)), shared_(shared) {}

  const std::string& Path() const { return path_; }
  // The one line that refuses a folder filled from another server; empty
  // when the folder is new, has no record yet, or was filled from `server`.
  std::string OtherServer(const std::string& server) const;
  // Makes the folder and its layer folders, and records `server` there.
  platform::IoStatus Prepare(const std::string& server) const;
  // Where the tile folder keeps one layer of the tile X_Y.
  std::string LayerFile(std::size_t layer, std::string_view tile) const;
  // Writes a file whole, under a temporary name and then its own; unless
  // `replace`, a file that stands under that name already stays as it is.
  platform::IoStatus Keep(const std::string& file, std::string_view bytes, bool replace) const;
  // The end of a run: a folder of the map's own goes when it holds no tile,
  // and with it its record; a shared one stays whatever it holds. True when
  // the folder still stands.
  bool CleanUp() const;
  // The longest name a tile file of this folder has while it is written.
  std::string LongestFileName() const;

 private:
  std::string Record() const { return path_ + "/" + std::string(kRecord); }
  // The server recorded; empty where there is none.
  std::string Recorded() const;

  std::string path_;
  bool shared_;
};

}  // namespace rastrel
