#include "ui/synchronise.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include "backend.h"
#include "ui/application.h"

namespace ui {
namespace {

enum class Stage { Waiting, Running, Done, Withdrawn };

struct Pending {
  const std::function<void()>* call = nullptr;  // the waiter's, while it waits
  std::function<void()> owned;                  // a queued call nobody waits for
  Stage stage = Stage::Waiting;
  std::exception_ptr error;
};

// One lock for the queue, every call's stage and every gate, so that
// withdrawing and starting a call can never both happen.
struct Queue {
  std::mutex lock;
  std::condition_variable changed;  // a call queued, finished or withdrawn
  std::deque<std::shared_ptr<Pending>> calls;
};

Queue& Q() {
  static Queue queue;
  return queue;
}

void WakeUiThread() {
  // The message loop services the queue when this arrives. A backend that
  // has no loop left runs the message here, on the caller's thread, where
  // servicing does nothing.
  backend::PostToUiThread([] { ServiceSynchronisedCalls(); });
}

}  // namespace

struct UiCallGate::State {
  bool closed = false;
  std::shared_ptr<Pending> current;
};

UiCallGate::UiCallGate() : state_(std::make_shared<State>()) {}

UiCallGate::~UiCallGate() { Close(); }

void UiCallGate::Close() {
  Queue& q = Q();
  std::lock_guard guard(q.lock);
  state_->closed = true;
  if (state_->current && state_->current->stage == Stage::Waiting) {
    state_->current->stage = Stage::Withdrawn;
    q.changed.notify_all();
  }
}

bool UiCallGate::Closed() const {
  std::lock_guard guard(Q().lock);
  return state_->closed;
}

bool RunOnUiThread(const std::function<void()>& call, UiCallGate& gate) {
  Queue& q = Q();
  if (Application::Instance().OnUiThread()) {
    if (gate.Closed()) return false;
    call();
    return true;
  }
  auto pending = std::make_shared<Pending>();
  pending->call = &call;
  {
    std::lock_guard guard(q.lock);
    if (gate.state_->closed) return false;
    gate.state_->current = pending;
    q.calls.push_back(pending);
    q.changed.notify_all();
  }
  WakeUiThread();
  std::unique_lock wait(q.lock);
  q.changed.wait(wait, [&] { return pending->stage == Stage::Done || pending->stage == Stage::Withdrawn; });
  gate.state_->current.reset();
  if (pending->stage == Stage::Withdrawn) return false;
  // Taken out under the lock: the error is this thread's alone from here.
  const std::exception_ptr error = std::move(pending->error);
  wait.unlock();
  if (error) std::rethrow_exception(error);
  return true;
}

void QueueOnUiThread(std::function<void()> call) {
  auto pending = std::make_shared<Pending>();
  pending->owned = std::move(call);
  {
    std::lock_guard guard(Q().lock);
    Q().calls.push_back(std::move(pending));
    Q().changed.notify_all();
  }
  WakeUiThread();
}

bool ServiceSynchronisedCalls(std::size_t limit) {
  if (!Application::Instance().OnUiThread()) return false;
  Queue& q = Q();
  bool ran = false;
  for (std::size_t n = 0; n < limit; ++n) {
    std::shared_ptr<Pending> next;
    {
      std::lock_guard guard(q.lock);
      while (!q.calls.empty() && !next) {
        if (q.calls.front()->stage == Stage::Waiting) next = q.calls.front();
        q.calls.pop_front();
      }
      if (!next) return ran;
      next->stage = Stage::Running;
    }
    ran = true;
    std::exception_ptr error;
    try {
      if (next->call)
        (*next->call)();
      else
        next->owned();
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard guard(q.lock);
    if (next->call) next->error = std::move(error);  // a queued call has nobody to tell
    next->stage = Stage::Done;
    q.changed.notify_all();
  }
  return ran;
}

void WaitForSynchronisedCall(std::uint32_t ms) {
  Queue& q = Q();
  std::unique_lock wait(q.lock);
  q.changed.wait_for(wait, std::chrono::milliseconds(ms), [&] {
    for (const auto& call : q.calls)
      if (call->stage == Stage::Waiting) return true;
    return false;
  });
}

}  // namespace ui
