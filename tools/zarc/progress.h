#pragma once
// The progress bar of zarc's commands.
#include <chrono>
#include <cstdio>

namespace zarc {

// A one-line bar on stderr, drawn once the work has taken half a second.
class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled), start_(Clock::now()) {}
  void Update(double percent) {
    if (!enabled_) return;
    auto now = Clock::now();
    if (now - start_ < std::chrono::milliseconds(500)) return;
    int whole = static_cast<int>(percent);
    if (shown_ && whole == last_ && now - drawn_ < std::chrono::milliseconds(200)) return;
    int filled = whole / 4;
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "#########################", 25 - filled, "", whole);
    std::fflush(stderr);
    shown_ = true;
    last_ = whole;
    drawn_ = now;
  }
  void Clear() {
    if (!shown_) return;
    std::fprintf(stderr, "\r%*s\r", 40, "");
    shown_ = false;
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled_, shown_ = false;
  int last_ = -1;
  Clock::time_point start_, drawn_;
};

}  // namespace zarc
