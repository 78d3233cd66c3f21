#include "ui/application.h"

#include <condition_variable>
#include <mutex>

#include "backend.h"
#include "ui/controls.h"
#include "ui/dialogs.h"

namespace ui {

Application& Application::Instance() {
  static Application application;
  return application;
}

Application::Application() : uiThread_(std::this_thread::get_id()) {}

void Application::SetTitle(std::string title) {
  title_ = std::move(title);
  backend::TitleChanged(title_);
}

void Application::Run(Form& mainForm) {
  mainForm_ = &mainForm;
  terminated_ = false;
  uiThread_ = std::this_thread::get_id();
  mainForm.ShowWindow();
  if (!terminated_) backend::RunMessageLoop(mainForm);
}

void Application::ProcessMessages() { backend::ProcessMessages(); }

void Application::WaitForMessages(std::uint32_t ms) { backend::WaitForMessages(ms); }

void Application::Terminate() {
  terminated_ = true;
  backend::QuitMessageLoop();
}

void Application::Invoke(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowException(error);
  }
}

std::string Application::ExceptionText(const std::string& message) {
  std::string text = message;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return text;
}

void Application::ShowException(const std::exception& error) {
  ShowMessageBox(ExceptionText(error.what()), title_, {DialogIcon::Error, DialogButtons::Ok});
}

void Application::RunOnUiThread(const std::function<void()>& call) {
  if (OnUiThread()) {
    call();
    return;
  }
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
  std::exception_ptr failure;
  backend::PostToUiThread([&] {
    try {
      call();
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard guard(lock);
    finished = true;
    done.notify_one();
  });
  std::unique_lock wait(lock);
  done.wait(wait, [&] { return finished; });
  if (failure) std::rethrow_exception(failure);
}

DialogResult ShowMessageBox(const std::string& text, const std::string& caption,
                            const MessageBoxOptions& options) {
  return backend::ShowMessageBox(text, caption, options);
}

bool ShowPasswordDialog(const std::string& caption, const std::string& prompt, std::string& text) {
  return backend::ShowPasswordDialog(caption, prompt, text);
}

}  // namespace ui
