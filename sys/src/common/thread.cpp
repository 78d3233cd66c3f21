#include "sys/thread.h"

#include <thread>

namespace sys {

struct Thread::Impl {
  std::thread thread;
};

Thread::Thread(std::function<void()> body) : impl_(std::make_unique<Impl>()) {
  impl_->thread = std::thread(std::move(body));
}

Thread::~Thread() {
  if (impl_->thread.joinable()) impl_->thread.join();
}

}  // namespace sys
