#pragma once
// The application object: title, message loop, the default handler for
// exceptions that leave an event handler, and calls onto the UI thread.
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <thread>

namespace ui {

class Form;

class Application {
 public:
  static Application& Instance();

  // Caption of the application's message boxes and of its task-bar button.
  const std::string& Title() const { return title_; }
  void SetTitle(std::string title);

  // Shows the main form and runs the message loop until it is closed.
  void Run(Form& mainForm);
  Form* MainForm() const { return mainForm_; }
  // Handles every message that is waiting, then returns.
  void ProcessMessages();
  // Blocks until a message arrives or `ms` milliseconds pass.
  void WaitForMessages(std::uint32_t ms);
  // Ends the message loop.
  void Terminate();
  bool Terminated() const { return terminated_; }

  // Runs an event handler; an exception that leaves it is shown by the
  // default handler and goes no further, so the program keeps running.
  void Invoke(const std::function<void()>& handler);
  // The default handler: the exception's text in an error box captioned with
  // the title, a full stop appended when the last character sorts after ".".
  void ShowException(const std::exception& error);
  static std::string ExceptionText(const std::string& message);

  // Runs `call` on the UI thread and waits for it; runs it at once when
  // already there. An exception inside it is rethrown to the caller.
  void RunOnUiThread(const std::function<void()>& call);
  bool OnUiThread() const { return std::this_thread::get_id() == uiThread_; }

 private:
  Application();
  std::string title_;
  Form* mainForm_ = nullptr;
  bool terminated_ = false;
  std::thread::id uiThread_;
};

}  // namespace ui
