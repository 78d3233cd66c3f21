// The headless backend: no windows, only the model. Timers fire from the
// message loop when their interval has passed, calls posted from other
// threads run there too, and message boxes are recorded and answered by the
// test's responder.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "backend.h"
#include "ui/application.h"
#include "ui/display.h"
#include "ui/headless.h"
#include "ui/synchronise.h"

namespace ui {
namespace {

using Clock = std::chrono::steady_clock;

struct State {
  std::mutex lock;
  std::condition_variable wake;
  std::deque<std::function<void()>> posted;
  std::map<Timer*, Clock::time_point> timers;  // enabled timers and their next tick
  std::vector<headless::DialogRecord> dialogs;
  std::function<DialogResult(const headless::DialogRecord&)> responder;
  std::vector<headless::PasswordDialogRecord> passwordDialogs;
  std::function<std::optional<std::string>(const headless::PasswordDialogRecord&)> passwordResponder;
  std::map<const Form*, int> repaints;
  Form* shownForm = nullptr;  // the form boxes belong to
  Control* focus = nullptr;
  Form* focusForm = nullptr;  // the form `focus` belongs to
  bool quit = false;
};

State& S() {
  static State state;
  return state;
}

constexpr std::size_t kPasswordMaxLength = 255;

// The edit box takes no more characters than its limit, however many the
// user types.
std::string LimitCharacters(const std::string& utf8, std::size_t limit) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;
    if (count++ == limit) return utf8.substr(0, i);
  }
  return utf8;
}

DialogResult FirstButton(DialogButtons buttons) {
  switch (buttons) {
    case DialogButtons::Ok:
    case DialogButtons::OkCancel: return DialogResult::Ok;
    case DialogButtons::YesNo:
    case DialogButtons::YesNoCancel:
    case DialogButtons::YesNoNoToAllYesToAll: return DialogResult::Yes;
    case DialogButtons::AbortRetryIgnore:
    case DialogButtons::AbortIgnore: return DialogResult::Abort;
    case DialogButtons::RetryCancel: return DialogResult::Retry;
  }
  return DialogResult::Ok;
}

// Runs what is due: posted calls first, then timers whose time has come.
void RunPending() {
  State& s = S();
  std::deque<std::function<void()>> calls;
  std::vector<Timer*> due;
  {
    std::lock_guard guard(s.lock);
    calls.swap(s.posted);
    const auto now = Clock::now();
    for (auto& [timer, next] : s.timers) {
      if (next <= now) {
        due.push_back(timer);
        next = now + std::chrono::milliseconds(timer->Interval());
      }
    }
  }
  for (auto& call : calls) call();
  ServiceSynchronisedCalls();
  for (Timer* timer : due) {
    bool still;
    {
      std::lock_guard guard(s.lock);
      still = s.timers.count(timer) != 0;
    }
    if (still) timer->Fire();
  }
}

}  // namespace

namespace backend {

void ControlChanged(Control&, Change) {}
void ControlDestroyed(Control&) {}

void TimerChanged(Timer& timer) {
  State& s = S();
  std::lock_guard guard(s.lock);
  if (timer.Enabled() && timer.Interval() > 0)
    s.timers[&timer] = Clock::now() + std::chrono::milliseconds(timer.Interval());
  else
    s.timers.erase(&timer);
}

void TimerDestroyed(Timer& timer) {
  State& s = S();
  std::lock_guard guard(s.lock);
  s.timers.erase(&timer);
}

void FocusControl(Control& control) {
  // As on a real system: only a control of a form on view takes the focus.
  Form* form = control.OwnerForm();
  if (!form || !form->native) return;
  S().focus = &control;
  S().focusForm = form;
}

void ShowForm(Form& form) {
  form.native = &form;  // a form counts as made once shown
  S().shownForm = &form;
  form.RestoreFocus();
  form.Activated();
}

void RepaintForm(Form& form) {
  State& s = S();
  std::lock_guard guard(s.lock);
  ++s.repaints[&form];
}

void BringToFront(Form&) {}

void DestroyForm(Form& form) {
  form.native = nullptr;
  if (S().shownForm == &form) S().shownForm = nullptr;
  if (S().focusForm == &form) {
    S().focus = nullptr;
    S().focusForm = nullptr;
  }
}

void TitleChanged(const std::string&) {}

void RunMessageLoop(Form& mainForm) {
  State& s = S();
  {
    std::lock_guard guard(s.lock);
    s.quit = false;
  }
  for (;;) {
    RunPending();
    std::unique_lock wait(s.lock);
    if (s.quit) return;
    s.wake.wait_for(wait, std::chrono::milliseconds(5));
    if (s.quit) return;
  }
}

void ProcessMessages() { RunPending(); }

void WaitForMessages(std::uint32_t ms) {
  State& s = S();
  std::unique_lock wait(s.lock);
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  for (const auto& [timer, next] : s.timers) until = std::min(until, next);
  if (!s.posted.empty()) return;
  s.wake.wait_until(wait, until);
}

void QuitMessageLoop() {
  State& s = S();
  std::lock_guard guard(s.lock);
  s.quit = true;
  s.wake.notify_all();
}

void PostToUiThread(std::function<void()> call) {
  State& s = S();
  std::lock_guard guard(s.lock);
  s.posted.push_back(std::move(call));
  s.wake.notify_all();
}

DialogResult ShowMessageBox(const std::string& text, const std::string& caption,
                            const MessageBoxOptions& options) {
  State& s = S();
  headless::DialogRecord record{text, caption, options};
  std::function<DialogResult(const headless::DialogRecord&)> responder;
  {
    std::lock_guard guard(s.lock);
    s.dialogs.push_back(record);
    responder = s.responder;
  }
  // The box has the focus while it is open; its owner is activated again
  // when it closes, as the window system does.
  Control* had = s.focus;
  s.focus = nullptr;
  const DialogResult result = responder ? responder(record) : FirstButton(options.buttons);
  if (s.shownForm)
    s.shownForm->RestoreFocus();
  else
    s.focus = had;
  return result;
}

bool ShowPasswordDialog(const std::string& caption, const std::string& prompt, std::string& text) {
  State& s = S();
  headless::PasswordDialogRecord record{caption, prompt, text};
  std::function<std::optional<std::string>(const headless::PasswordDialogRecord&)> responder;
  {
    std::lock_guard guard(s.lock);
    s.passwordDialogs.push_back(record);
    responder = s.passwordResponder;
  }
  std::optional<std::string> answer = responder ? responder(record) : std::nullopt;
  if (!answer) return false;
  text = LimitCharacters(*answer, kPasswordMaxLength);
  return true;
}

}  // namespace backend

namespace headless {

const std::vector<DialogRecord>& ShownDialogs() { return S().dialogs; }

void SetDialogResponder(std::function<DialogResult(const DialogRecord&)> responder) {
  std::lock_guard guard(S().lock);
  S().responder = std::move(responder);
}

const std::vector<PasswordDialogRecord>& ShownPasswordDialogs() { return S().passwordDialogs; }

void SetPasswordResponder(std::function<std::optional<std::string>(const PasswordDialogRecord&)> responder) {
  std::lock_guard guard(S().lock);
  S().passwordResponder = std::move(responder);
}

void Reset() {
  State& s = S();
  std::lock_guard guard(s.lock);
  s.dialogs.clear();
  s.responder = nullptr;
  s.passwordDialogs.clear();
  s.passwordResponder = nullptr;
  s.posted.clear();
  s.repaints.clear();
  s.focus = nullptr;
  s.focusForm = nullptr;
  s.shownForm = nullptr;
  s.quit = false;
}

Control* FocusedControl() { return S().focus; }

Bitmap32 PaintImages(Control& container) {
  Color background = clBtnFace;
  int width = container.Bounds().width, height = container.Bounds().height;
  if (auto* form = dynamic_cast<Form*>(&container)) {
    background = form->color;
    width = form->clientWidth;
    height = form->clientHeight;
  }
  if (auto* panel = dynamic_cast<Panel*>(&container)) background = panel->color;
  width = std::max(width, 1);
  height = std::max(height, 1);
  MemoryCanvas canvas(width, height, 0xFF000000u | PixelColor(background));
  for (Control* child : container.Children()) {
    auto* image = dynamic_cast<Image*>(child);
    if (!image || !image->Visible()) continue;
    canvas.SetClipRect(image->Bounds());
    image->Paint(canvas);
  }
  return canvas.Surface();
}

int RepaintCount(const Form& form) {
  State& s = S();
  std::lock_guard guard(s.lock);
  auto it = s.repaints.find(&form);
  return it == s.repaints.end() ? 0 : it->second;
}

}  // namespace headless
}  // namespace ui
