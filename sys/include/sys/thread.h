#pragma once
// A thread of the process, for the engines, which reach threads only
// through sys/.
#include <functional>
#include <memory>

namespace sys {

class Thread {
 public:
  // Starts `body` on a new thread.
  explicit Thread(std::function<void()> body);
  // Waits for the body to end.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The processors this process may run on (its affinity), at least 1. Work
// handed to a helper thread pays only when a second one is free for it.
unsigned ProcessorsAvailable();

}  // namespace sys
