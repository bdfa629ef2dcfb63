// Runs work items on several threads at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace rastrel {

// Calls `work(i)` for each i below `count`, on up to `jobs` threads, the
// calling one among them; returns when every call has.
template <typename Work>
void ParallelFor(unsigned jobs, std::size_t count, const Work& work) {
  std::atomic<std::size_t> next{0};
  auto drain = [&] {
    for (std::size_t i = next++; i < count; i = next++) work(i);
  };
  std::vector<std::jthread> helpers;
  for (unsigned j = 1; j < jobs && j < count; ++j) helpers.emplace_back(drain);
  drain();
}

}  // namespace rastrel
