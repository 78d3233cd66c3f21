#include "ui/application.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "ui/controls.h"
#include "ui/headless.h"

namespace ui {
namespace {

TEST(Application, ExceptionTextGetsAFullStopWhenItsLastCharacterSortsAfterIt) {
  EXPECT_EQ(Application::ExceptionText("Failed"), "Failed.");
  EXPECT_EQ(Application::ExceptionText("Done."), "Done.");
  EXPECT_EQ(Application::ExceptionText("Stop!"), "Stop!");     // '!' sorts before '.'
  EXPECT_EQ(Application::ExceptionText("File 'a'"), "File 'a'");  // so does the quote
  EXPECT_EQ(Application::ExceptionText("Ошибка"), "Ошибка.");
  EXPECT_EQ(Application::ExceptionText("x/"), "x/.");
  EXPECT_EQ(Application::ExceptionText(""), "");
}

TEST(Application, InvokeShowsEscapingErrorsAndCarriesOn) {
  headless::Reset();
  Application& app = Application::Instance();
  app.SetTitle("Title");
  bool after = false;
  app.Invoke([] { throw std::runtime_error("Broken"); });
  app.Invoke([&] { after = true; });
  EXPECT_TRUE(after);
  ASSERT_EQ(headless::ShownDialogs().size(), 1u);
  EXPECT_EQ(headless::ShownDialogs()[0].text, "Broken.");
  EXPECT_EQ(headless::ShownDialogs()[0].caption, "Title");
  EXPECT_EQ(headless::ShownDialogs()[0].options.icon, DialogIcon::Error);
}

TEST(Application, RunOnUiThreadRunsTheCallInTheMessageLoop) {
  headless::Reset();
  Application& app = Application::Instance();
  std::atomic<bool> done{false};
  std::thread::id ranOn;
  bool rethrown = false;
  std::thread worker([&] {
    app.RunOnUiThread([&] { ranOn = std::this_thread::get_id(); });
    try {
      app.RunOnUiThread([] { throw std::runtime_error("inside"); });
    } catch (const std::runtime_error&) {
      rethrown = true;
    }
    done = true;
  });
  while (!done) {
    app.WaitForMessages(50);
    app.ProcessMessages();
  }
  worker.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_TRUE(rethrown);
}

TEST(Application, TimersTickFromTheMessageLoopWhileEnabled) {
  headless::Reset();
  Application& app = Application::Instance();
  Form form("F");
  Timer& timer = form.Add<Timer>("T");
  int ticks = 0;
  timer.onTimer = [&] { ++ticks; };
  timer.SetInterval(10);
  timer.SetEnabled(true);
  for (int i = 0; i < 200 && ticks < 2; ++i) {
    app.WaitForMessages(20);
    app.ProcessMessages();
  }
  EXPECT_GE(ticks, 2);
  timer.SetEnabled(false);
  const int stopped = ticks;
  for (int i = 0; i < 5; ++i) {
    app.WaitForMessages(15);
    app.ProcessMessages();
  }
  EXPECT_EQ(ticks, stopped);
}

TEST(Application, RunEndsWhenTheMainFormCloses) {
  headless::Reset();
  Application& app = Application::Instance();
  Form form("F");
  Timer& timer = form.Add<Timer>("T");
  int activations = 0;
  form.onActivate = [&] { ++activations; };
  timer.SetInterval(5);
  timer.onTimer = [&] { form.Close(); };
  timer.Loaded();
  app.Run(form);
  EXPECT_TRUE(form.Closed());
  EXPECT_EQ(activations, 1);
}

}  // namespace
}  // namespace ui
