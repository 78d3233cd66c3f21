#pragma once
// Calls that worker threads hand to the UI thread and wait for. They have a
// queue of their own, apart from the window messages, so that the UI thread
// can service them while it waits for a worker without also running timers,
// repaints or input. A worker's calls pass through its gate: once the gate
// is closed, a call still waiting in the queue is withdrawn and never runs,
// so a UI thread that stops a worker and waits for it can never be waiting
// on a worker that waits on the UI thread.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace ui {

class UiCallGate {
 public:
  UiCallGate();
  ~UiCallGate();
  UiCallGate(const UiCallGate&) = delete;
  UiCallGate& operator=(const UiCallGate&) = delete;

  // Any thread. Withdraws the call waiting in the queue, if it has not begun
  // yet, and makes later calls return at once. A call already running on the
  // UI thread runs to its end.
  void Close();
  bool Closed() const;

  struct State;

 private:
  friend bool RunOnUiThread(const std::function<void()>& call, UiCallGate& gate);
  std::shared_ptr<State> state_;
};

// Runs `call` on the UI thread and waits for it; runs it at once when
// already there. Answers false, without running it, when the gate was closed
// before the call began. An exception inside the call is rethrown here.
bool RunOnUiThread(const std::function<void()>& call, UiCallGate& gate);

// Queues `call` for the UI thread and returns at once.
void QueueOnUiThread(std::function<void()> call);

// UI thread only (elsewhere it does nothing): runs the queued calls, at most
// `limit` of them; answers whether it ran any. A caller waiting for one
// event runs them one at a time, so that it stops as soon as it is there.
bool ServiceSynchronisedCalls(std::size_t limit = SIZE_MAX);

// UI thread: waits until a call is queued or `ms` milliseconds pass.
void WaitForSynchronisedCall(std::uint32_t ms);

}  // namespace ui
