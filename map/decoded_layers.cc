#include "decoded_layers.h"

namespace rastrel {

void DecodedLayers::Put(const std::string& file, Pixels pixels) {
  std::lock_guard lock(mutex_);
  if (used_ + pixels.size() > budget_) return;
  used_ += pixels.size();
  auto [held, added] = held_.try_emplace(file);
  if (!added) used_ -= held->second.size();
  held->second = std::move(pixels);
}

Layer DecodedLayers::Load(const std::string& name, int channels, Pixels& pixels) {
  {
    std::lock_guard lock(mutex_);
    const auto held = held_.find(name);
    if (held != held_.end() && held->second.size() == kTileArea * static_cast<std::size_t>(channels)) {
      used_ -= held->second.size();
      pixels = std::move(held->second);
      held_.erase(held);
      return Layer::kLoaded;
    }
  }
  return LoadLayer(name, channels, pixels);
}

}  // namespace rastrel
