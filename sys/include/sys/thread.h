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

// Of those, the ones no other work of the machine keeps busy at this
// moment, the caller's own counted as free, at least 1. `ownAtWork`: other
// threads of this process at work now, which are not someone else's load.
// A snapshot, cheap enough to take now and then during a long batch; where
// the system cannot tell, every available processor counts as free.
unsigned ProcessorsFree(unsigned ownAtWork = 0);

}  // namespace sys
