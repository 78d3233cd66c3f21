// The password box on real windows (under Wine): its controls, their places
// in dialog units of its font, and what OK and Cancel give back.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "ui/dialogs.h"

namespace ui {
namespace {

const wchar_t kCaption[] = L"Password for \"dir/file.txt\"";

struct Seen {
  std::wstring label, editText, okCaption, cancelCaption;
  LONG_PTR editStyle = 0;
  wchar_t passwordChar = 0;
  DWORD selStart = 1, selEnd = 0;
  LRESULT limit = 0;
  RECT client{}, label_{}, edit{}, ok{}, cancel{};
  POINT center{};
  int unitX = 0, unitY = 0;  // pixels per 4 and per 8 units
  bool found = false;
};

std::wstring Text(HWND w) {
  wchar_t buffer[512] = {};
  GetWindowTextW(w, buffer, 512);
  return buffer;
}

RECT ClientRectOf(HWND control, HWND dialog) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Looks at the box once it is up, then types `typed` (unless null) and
// presses the button.
std::thread Answer(const wchar_t* typed, int button, Seen& seen) {
  return std::thread([=, &seen] {
    HWND dialog = nullptr;
    for (int i = 0; i < 200 && !dialog; ++i) {
      dialog = FindWindowW(L"#32770", kCaption);
      if (!dialog) Sleep(25);
    }
    if (!dialog) return;
    Sleep(50);  // WM_INITDIALOG has run once the window is findable, but let it settle
    seen.found = true;
    HWND label = FindWindowExW(dialog, nullptr, L"Static", nullptr);
    HWND edit = FindWindowExW(dialog, nullptr, L"Edit", nullptr);
    HWND ok = GetDlgItem(dialog, IDOK), cancel = GetDlgItem(dialog, IDCANCEL);
    seen.label = Text(label);
    seen.editText = Text(edit);
    seen.okCaption = Text(ok);
    seen.cancelCaption = Text(cancel);
    seen.editStyle = GetWindowLongPtrW(edit, GWL_STYLE);
    seen.passwordChar = static_cast<wchar_t>(SendMessageW(edit, EM_GETPASSWORDCHAR, 0, 0));
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&seen.selStart), reinterpret_cast<LPARAM>(&seen.selEnd));
    seen.limit = SendMessageW(edit, EM_GETLIMITTEXT, 0, 0);
    GetClientRect(dialog, &seen.client);
    seen.label_ = ClientRectOf(label, dialog);
    seen.edit = ClientRectOf(edit, dialog);
    seen.ok = ClientRectOf(ok, dialog);
    seen.cancel = ClientRectOf(cancel, dialog);
    RECT outer;
    GetWindowRect(dialog, &outer);
    seen.center = {(outer.left + outer.right) / 2, (outer.top + outer.bottom) / 2};
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0));
    HDC dc = GetDC(dialog);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE letters{};
    GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    seen.unitX = letters.cx / 52;
    seen.unitY = metrics.tmHeight;
    if (typed) SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed));
    PostMessageW(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
  });
}

// Shows the box over `password` and answers it as Answer does.
bool Ask(const wchar_t* typed, int button, std::string& password, Seen& seen) {
  std::thread user = Answer(typed, button, seen);
  bool ok = ShowPasswordDialog("Password for \"dir/file.txt\"", "Enter password: ", password);
  user.join();
  return ok;
}

TEST(PasswordDialog, ShowsTheCurrentPasswordMaskedAndSelectedInItsLayout) {
  Seen seen;
  std::string password = "old secret";
  bool ok = Ask(nullptr, IDCANCEL, password, seen);
  ASSERT_TRUE(seen.found);
  EXPECT_FALSE(ok);
  EXPECT_EQ(password, "old secret");
  EXPECT_EQ(seen.label, L"Enter password: ");
  EXPECT_EQ(seen.editText, L"old secret");
  EXPECT_TRUE(seen.editStyle & ES_PASSWORD);
  EXPECT_EQ(seen.passwordChar, L'*');
  EXPECT_EQ(seen.selStart, 0u);
  EXPECT_EQ(seen.selEnd, 10u);
  EXPECT_EQ(seen.limit, 255);
  EXPECT_EQ(seen.okCaption, L"OK");
  EXPECT_EQ(seen.cancelCaption, L"Cancel");

  ASSERT_GT(seen.unitX, 0);
  auto X = [&](int units) { return MulDiv(units, seen.unitX, 4); };
  auto Y = [&](int units) { return MulDiv(units, seen.unitY, 8); };
  EXPECT_EQ(seen.client.right, X(180));
  EXPECT_EQ(seen.client.bottom, Y(63));
  EXPECT_EQ(seen.label_.left, X(8));
  EXPECT_EQ(seen.label_.top, Y(8));
  EXPECT_EQ(seen.edit.left, X(8));
  EXPECT_EQ(seen.edit.top, Y(19));
  EXPECT_EQ(seen.edit.right - seen.edit.left, X(164));
  EXPECT_EQ(seen.ok.left, X(38));
  EXPECT_EQ(seen.ok.top, Y(41));
  EXPECT_EQ(seen.ok.right - seen.ok.left, X(50));
  EXPECT_EQ(seen.ok.bottom - seen.ok.top, Y(14));
  EXPECT_EQ(seen.cancel.left, X(92));
  EXPECT_EQ(seen.cancel.top, Y(41));
  EXPECT_NEAR(seen.center.x, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR(seen.center.y, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
}

TEST(PasswordDialog, OkGivesWhatWasTypedEvenWhenEmpty) {
  for (const wchar_t* typed : {L"пароль 2", L""}) {
    Seen seen;
    std::string password = "old";
    bool ok = Ask(typed, IDOK, password, seen);
    ASSERT_TRUE(seen.found);
    EXPECT_TRUE(ok);
    EXPECT_EQ(password, *typed ? "пароль 2" : "");
  }
}

}  // namespace
}  // namespace ui
