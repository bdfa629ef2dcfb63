// Layer files the download has decoded already (to see that each is a tile),
// held for the join so that each is decoded once, within a budget of memory:
// a layer that does not fit is decoded again from its file, as is one the
// download did not fetch.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

#include "tile_merge.h"

namespace rastrel {

class DecodedLayers {
 public:
  explicit DecodedLayers(std::size_t budget) : budget_(budget) {}

  // Holds the pixels of the layer file `file`, if they fit the budget.
  void Put(const std::string& file, Pixels pixels);
  // The layer file `name` as MergeTile reads it: held pixels are taken out
  // (each file is merged once), others are read from the file.
  Layer Load(const std::string& name, int channels, Pixels& pixels);

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, Pixels> held_;
  std::size_t budget_, used_ = 0;
};

}  // namespace rastrel
