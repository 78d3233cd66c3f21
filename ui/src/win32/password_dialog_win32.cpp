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

struct DialogUnits {
  int x = 1, y = 1;  // pixels per 4 horizontal and per 8 vertical units
  int X(int units) const { return MulDiv(units, x, 4); }
  int Y(int units) const { return MulDiv(units, y, 8); }
  RECT Box(int left, int top, int width, int height) const {
    return {X(left), Y(top), X(left) + X(width), Y(top) + Y(height)};
  }
};

std::wstring TextOf(HWND control) {
  std::wstring text(static_cast<size_t>(std::max(0, GetWindowTextLengthW(control))) + 1, L'\0');
  text.resize(static_cast<size_t>(std::max(0, GetWindowTextW(control, text.data(), static_cast<int>(text.size())))));
  return text;
}

class PasswordDialog : public RuntimeDialog {
 public:
  PasswordDialog(const std::wstring& caption, const std::wstring& prompt, const std::string& text)
      : caption_(caption), prompt_(prompt), text_(text) {}
  const std::string& Text() const { return text_; }

 private:
  void Build(HWND dialog) override {
    HDC dc = GetDC(dialog);
    HGDIOBJ old = SelectObject(dc, font_);
    static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE letters{}, prompt{};
    GetTextExtentPoint32W(dc, kLetters, 52, &letters);
    GetTextExtentPoint32W(dc, prompt_.c_str(), static_cast<int>(prompt_.size()), &prompt);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    DialogUnits u{std::max<int>(1, letters.cx / 52), std::max<int>(1, metrics.tmHeight)};

    AddControl(dialog, L"STATIC", prompt_.c_str(), SS_NOPREFIX, -1,
               {u.X(8), u.Y(8), u.X(8) + prompt.cx, u.Y(8) + prompt.cy});
    HWND edit = AddControl(dialog, L"EDIT", Wide(text_).c_str(), WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, kEditId,
                           u.Box(8, 19, 164, 12), WS_EX_CLIENTEDGE);
    // Common controls 6 would show a bullet; the box shows asterisks.
    SendMessageW(edit, EM_SETPASSWORDCHAR, L'*', 0);
    SendMessageW(edit, EM_LIMITTEXT, kMaxLength, 0);
    AddControl(dialog, L"BUTTON", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK, u.Box(38, 41, 50, 14));
    AddControl(dialog, L"BUTTON", L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, IDCANCEL, u.Box(92, 41, 50, 14));

    SetWindowTextW(dialog, caption_.c_str());
    PlaceDialog(dialog, u.X(180), u.Y(63), nullptr);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
  }

  bool Command(HWND dialog, int id) override {
    if (id == IDOK) {
      text_ = Utf8(TextOf(GetDlgItem(dialog, kEditId)));
      EndDialog(dialog, 1);
      return true;
    }
    if (id == IDCANCEL) {
      EndDialog(dialog, 0);
      return true;
    }
    return false;
  }

  const std::wstring& caption_;
  const std::wstring& prompt_;
  std::string text_;
};

}  // namespace

bool ShowPasswordDialog(HWND owner, const std::wstring& caption, const std::wstring& prompt, std::string& text) {
  PasswordDialog dialog(caption, prompt, text);
  if (dialog.Run(owner) != 1) return false;
  text = dialog.Text();
  return true;
}

}  // namespace ui::win32
