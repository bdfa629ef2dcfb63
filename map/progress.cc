#include "progress.h"

#include <chrono>

#include "platform.h"

namespace rastrel {

std::string ListText(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  }
  return text;
}

namespace {

void Write(const std::string& text) { platform::WriteStderr(text.data(), text.size()); }

}  // namespace

Progress::Progress() : terminal_(platform::StderrIsTerminal()) {
  if (terminal_) drawer_ = std::thread(&Progress::Redraw, this);
}

Progress::~Progress() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
    Clear();
  }
  wake_.notify_all();
  if (drawer_.joinable()) drawer_.join();
}

void Progress::Clear() {
  if (drawn_) Write("\r\033[K");
  drawn_ = false;
}

void Progress::Say(const std::string& line) {
  std::lock_guard lock(mutex_);
  Clear();
  Write("rastrel-map: " + line + "\n");
}

void Progress::Show(std::function<std::string()> status) {
  std::lock_guard lock(mutex_);
  status_ = std::move(status);
  if (!status_) Clear();
  wake_.notify_all();
}

void Progress::Redraw() {
  std::unique_lock lock(mutex_);
  while (!ending_) {
    if (status_) {
      Write("\rrastrel-map: " + status_() + "\033[K");
      drawn_ = true;
    }
    wake_.wait_for(lock, std::chrono::seconds(1));
  }
}

}  // namespace rastrel
