// The password entry box. Its layout is given in dialog units of the
// message font, worked out here rather than by the template so that the
// units are those of the font the controls actually use: a horizontal unit
// is a quarter of the average width of the 52 Latin letters, a vertical one
// an eighth of the character height.
#include <algorithm>

#include "dialogs_win32.h"

namespace ui::win32 {
namespace {

constexpr int kEditId = 100;
constexpr int kMaxLength = 255;

struct PasswordState {
  const std::wstring* caption;
  const std::wstring* prompt;
  std::string* text;
  HFONT font = nullptr;
};

struct DialogUnits {
  int x = 1, y = 1;  // pixels per 4 horizontal and per 8 vertical units
  int X(int units) const { return MulDiv(units, x, 4); }
  int Y(int units) const { return MulDiv(units, y, 8); }
};

HWND AddControl(HWND dialog, HFONT font, const wchar_t* cls, const std::wstring& text, DWORD style, DWORD exStyle,
                int id, int x, int y, int width, int height) {
  HWND control = CreateWindowExW(exStyle, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                                 dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

void Layout(HWND dialog, PasswordState& state) {
  state.font = CreateMessageFont();
  HDC dc = GetDC(dialog);
  HGDIOBJ old = SelectObject(dc, state.font);
  static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  SIZE letters{}, prompt{};
  GetTextExtentPoint32W(dc, kLetters, 52, &letters);
  GetTextExtentPoint32W(dc, state.prompt->c_str(), static_cast<int>(state.prompt->size()), &prompt);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(dialog, dc);
  DialogUnits u{std::max<int>(1, letters.cx / 52), std::max<int>(1, metrics.tmHeight)};

  AddControl(dialog, state.font, L"STATIC", *state.prompt, SS_NOPREFIX, 0, -1, u.X(8), u.Y(8), prompt.cx, prompt.cy);
  HWND edit = AddControl(dialog, state.font, L"EDIT", Wide(*state.text), WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD,
                         WS_EX_CLIENTEDGE, kEditId, u.X(8), u.Y(19), u.X(164), u.Y(12));
  // Common controls 6 would show a bullet; the box shows asterisks.
  SendMessageW(edit, EM_SETPASSWORDCHAR, L'*', 0);
  SendMessageW(edit, EM_LIMITTEXT, kMaxLength, 0);
  AddControl(dialog, state.font, L"BUTTON", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, 0, IDOK, u.X(38), u.Y(41), u.X(50),
             u.Y(14));
  AddControl(dialog, state.font, L"BUTTON", L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, 0, IDCANCEL, u.X(92), u.Y(41),
             u.X(50), u.Y(14));

  SetWindowTextW(dialog, state.caption->c_str());
  PlaceDialog(dialog, u.X(180), u.Y(63), nullptr);
  SetFocus(edit);
  SendMessageW(edit, EM_SETSEL, 0, -1);
}

std::wstring TextOf(HWND control) {
  std::wstring text(static_cast<size_t>(std::max(0, GetWindowTextLengthW(control))) + 1, L'\0');
  text.resize(static_cast<size_t>(std::max(0, GetWindowTextW(control, text.data(), static_cast<int>(text.size())))));
  return text;
}

INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<PasswordState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      Layout(dialog, *reinterpret_cast<PasswordState*>(lParam));
      return FALSE;  // the focus is on the edit box already
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK && state) {
        *state->text = Utf8(TextOf(GetDlgItem(dialog, kEditId)));
        EndDialog(dialog, 1);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      break;
    case WM_DESTROY:
      if (state && state->font) DeleteObject(state->font);
      break;
  }
  return FALSE;
}

}  // namespace

bool ShowPasswordDialog(HWND owner, const std::wstring& caption, const std::wstring& prompt, std::string& text) {
  std::string answer = text;
  PasswordState state{&caption, &prompt, &answer};
  if (RunDialog(owner, PasswordProc, reinterpret_cast<LPARAM>(&state)) != 1) return false;
  text = std::move(answer);
  return true;
}

}  // namespace ui::win32
