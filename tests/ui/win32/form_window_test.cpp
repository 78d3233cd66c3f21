// A form on real windows (under Wine): where the keyboard focus goes and
// where the program's message boxes appear.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>
#include <utility>

#include "ui/application.h"
#include "ui/controls.h"
#include "ui/dialogs.h"

namespace ui {
namespace {

POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

// Shows a box captioned `caption` and answers where it stood once on view;
// another thread reads its place and presses OK.
RECT BoxRect(const char* caption, bool centerOnScreen) {
  RECT rect{};
  std::thread closer([&] {
    for (int i = 0; i < 400; ++i) {
      HWND box = FindWindowA("#32770", caption);
      if (box && IsWindowVisible(box)) {
        GetWindowRect(box, &rect);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return;
      }
      Sleep(25);
    }
  });
  ShowMessageBox("Text", caption, {DialogIcon::Error, DialogButtons::Ok, centerOnScreen});
  closer.join();
  return rect;
}

TEST(FormWindow, FocusStartsOnTheFirstTabStopAndComesBackAfterEachBox) {
  // Never freed: the application keeps naming it as its main form.
  Form& form = *new Form("FocusForm");
  form.SetCaption("Focus test");
  form.clientWidth = 600, form.clientHeight = 400;
  form.SetBounds({0, 0, 600, 400});
  auto& box = form.Add<CheckBox>("Box", &form);
  box.SetBounds({10, 50, 120, 17});
  box.tabOrder = 1;
  auto& button = form.Add<Button>("Button", &form);
  button.SetBounds({10, 10, 80, 25});
  button.tabOrder = 0;
  int clicks = 0;
  button.onClick = [&] { ++clicks; };
  // Should activation never come, the test ends rather than hangs.
  auto& guard = form.Add<Timer>("Guard");
  guard.SetInterval(20000);
  guard.onTimer = [&] { form.Close(); };
  guard.Loaded();

  bool ran = false, atStart = false, afterBox = false, backOnTheBox = false;
  RECT formRect{}, overForm{}, onScreen{};
  form.onActivate = [&] {
    if (ran) return;
    ran = true;
    const auto buttonWindow = static_cast<HWND>(button.native), boxWindow = static_cast<HWND>(box.native);
    atStart = GetFocus() == buttonWindow;
    GetWindowRect(static_cast<HWND>(form.native), &formRect);
    overForm = BoxRect("Over the form", false);
    afterBox = GetFocus() == buttonWindow;
    form.FocusControl(box);
    onScreen = BoxRect("On the screen", true);
    backOnTheBox = GetFocus() == boxWindow;
    // Enter presses the focused button, and only a button.
    PostMessageW(boxWindow, WM_KEYDOWN, VK_RETURN, 0);
    Application::Instance().ProcessMessages();
    form.FocusControl(button);
    PostMessageW(buttonWindow, WM_KEYDOWN, VK_RETURN, 0);
    Application::Instance().ProcessMessages();
    form.Close();
  };
  Application::Instance().Run(form);
  ASSERT_TRUE(ran) << "the form was never activated";
  EXPECT_TRUE(atStart);
  EXPECT_TRUE(afterBox);
  EXPECT_TRUE(backOnTheBox);
  EXPECT_EQ(clicks, 1);

  // The form stands at the screen's corner, so the two centres lie apart.
  const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  for (const auto& [box, area] : {std::pair{onScreen, screen}, std::pair{overForm, formRect}}) {
    ASSERT_LT(box.left, box.right);
    EXPECT_NEAR(Centre(box).x, Centre(area).x, 1);
    EXPECT_NEAR(Centre(box).y, Centre(area).y, 1);
  }
}

}  // namespace
}  // namespace ui
