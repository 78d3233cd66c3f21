// The message box with button sets of our own, on real windows (under Wine).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ui/dialogs.h"

namespace ui {
namespace {

// Presses the button with the given caption in the first dialog captioned
// `caption` that appears, from another thread, as a user would.
std::thread PressLater(const wchar_t* caption, const wchar_t* button, std::atomic<int>& buttons) {
  return std::thread([=, &buttons] {
    for (int i = 0; i < 200; ++i) {
      HWND dialog = FindWindowW(L"#32770", caption);
      if (dialog) {
        int count = 0;
        EnumChildWindows(
            dialog,
            [](HWND child, LPARAM counter) {
              wchar_t cls[16] = {};
              GetClassNameW(child, cls, 16);
              if (_wcsicmp(cls, L"Button") == 0) ++*reinterpret_cast<int*>(counter);
              return TRUE;
            },
            reinterpret_cast<LPARAM>(&count));
        buttons = count;
        HWND target = FindWindowExW(dialog, nullptr, L"Button", button);
        if (target) {
          PostMessageW(target, BM_CLICK, 0, 0);
          return;
        }
      }
      Sleep(25);
    }
  });
}

TEST(ButtonDialog, EachButtonGivesItsAnswer) {
  struct Case {
    DialogButtons set;
    const wchar_t* press;
    DialogResult expected;
    int buttons;
  } cases[] = {
      {DialogButtons::AbortIgnore, L"&Ignore", DialogResult::Ignore, 2},
      {DialogButtons::AbortIgnore, L"&Abort", DialogResult::Abort, 2},
      {DialogButtons::YesNoNoToAllYesToAll, L"No to A&ll", DialogResult::NoToAll, 4},
      {DialogButtons::YesNoNoToAllYesToAll, L"Yes to &All", DialogResult::YesToAll, 4},
      {DialogButtons::YesNoNoToAllYesToAll, L"&No", DialogResult::No, 4},
  };
  for (const Case& c : cases) {
    std::atomic<int> buttons{0};
    std::thread presser = PressLater(L"Confirm", c.press, buttons);
    DialogResult result = ShowMessageBox("Overwrite file \"a\" with \"b\"", "Confirm",
                                         {DialogIcon::Question, c.set, false});
    presser.join();
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(buttons.load(), c.buttons);
  }
}

}  // namespace
}  // namespace ui
