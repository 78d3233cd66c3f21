#include <algorithm>
#include <chrono>
#include <thread>

#include "sys/file_lock.h"

namespace sys {

FileLock::State FileLock::Acquire(std::u16string_view name, std::int64_t waitMs) {
  Release();
  name_ = name;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const State state = TryOnce();
    if (state != State::Busy || waitMs == 0) return state;
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    if (waitMs > 0 && waited >= waitMs) return state;
    // Polled rather than blocked on: the wait has a limit, and a lock file
    // that its holder removes must be opened afresh anyway.
    std::int64_t pause = 50;
    if (waitMs > 0) pause = std::min<std::int64_t>(pause, waitMs - waited);
    std::this_thread::sleep_for(std::chrono::milliseconds(pause));
  }
}

}  // namespace sys
