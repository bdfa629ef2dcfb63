// The folder that keeps the tiles: the map's own NAME_tiles, or one that
// several maps share (--tiles). It records the server it was filled from, so
// that tiles of two servers never meet in one map; each tile goes in under a
// temporary name of this process's own, so that two runs on one folder never
// write the same temporary file; and a run removes only what it left empty.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform.h"

namespace rastrel {

class TileFolder {
 public:
  // The file, beside the layer folders, that holds the server's base address.
  static constexpr std::string_view kRecord = "server.txt";

  // `server`: the base address its tiles come from.
  TileFolder(std::string path, bool shared, std::string server = "")
      : path_(std::move(path)), shared_(shared), server_(std::move(server)) {}

  const std::string& Path() const { return path_; }
  // The one line that refuses a folder filled from another server; empty
  // when the folder is new, has no record yet, or was filled from `server`.
  std::string OtherServer(const std::string& server) const;
  // Why the folder cannot be made or used (a file of its name, a parent
  // folder missing), as a line; empty when it can.
  std::string Problem() const;
  // Makes the folder and its layer folders.
  platform::IoStatus Prepare() const;
  // Records the server where no record is yet: done as the first tile is
  // kept, so that a run that kept none (a server misspelt) ties the folder
  // to no server.
  platform::IoStatus RecordServer() const;
  // Where the tile folder keeps one layer of the tile X_Y.
  std::string LayerFile(std::size_t layer, std::string_view tile) const;
  // Writes a tile file whole, under a temporary name and then its own, the
  // server recorded first; unless
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

  platform::IoStatus Write(const std::string& file, std::string_view bytes, bool replace) const;

  std::string path_;
  bool shared_;
  std::string server_;
  mutable std::atomic<bool> recorded_{false};
};

}  // namespace rastrel
