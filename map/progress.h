// rastrel-map's lines on standard error: one a phase, and on a terminal a
// status line redrawn in place each second until the phase's line replaces it.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace rastrel {

// "a", "a and b", "a, b and c".
std::string ListText(const std::vector<std::string>& items);

class Progress {
 public:
  Progress();
  ~Progress();

  // Writes "rastrel-map: LINE" on a line of its own.
  void Say(const std::string& line);
  // Redraws the text `status` gives each second while on a terminal, until
  // the next call; an empty function ends it.
  void Show(std::function<std::string()> status);

 private:
  void Redraw();
  void Clear();

  bool terminal_;
  bool drawn_ = false;
  bool ending_ = false;
  std::function<std::string()> status_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread drawer_;
};

}  // namespace rastrel
