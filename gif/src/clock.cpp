#include <chrono>
#include <thread>

#include "gif/painting.h"

namespace gif {

void TWakeEvent::Set() {
  std::lock_guard guard(lock_);
  set_ = true;
  signalled_.notify_all();
}

bool TWakeEvent::Wait(int64_t ms) {
  std::unique_lock wait(lock_);
  if (ms == kInfinite)
    signalled_.wait(wait, [this] { return set_; });
  else if (!signalled_.wait_for(wait, std::chrono::milliseconds(ms), [this] { return set_; }))
    return false;
  set_ = false;
  return true;
}

bool TWakeEvent::TryWait() {
  std::lock_guard guard(lock_);
  const bool was = set_;
  set_ = false;
  return was;
}

namespace {

class TSystemClock final : public TAnimationClock {
 public:
  int64_t Now() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }
  bool Wait(TWakeEvent* wake, int64_t ms) override {
    if (wake) return wake->Wait(ms);
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return false;
  }
};

}  // namespace

TAnimationClock& TAnimationClock::System() {
  static TSystemClock clock;
  return clock;
}

}  // namespace gif
