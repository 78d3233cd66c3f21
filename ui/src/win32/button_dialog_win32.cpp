// The message box is laid out at run time: icon, text measured with the
// message font, and a row of buttons centred below, as the system's own
// boxes look.
#include "dialogs_win32.h"

#include <algorithm>
#include <vector>

namespace ui::win32 {
namespace {

struct ButtonSpec {
  const wchar_t* caption;
  DialogResult result;
};

constexpr int kFirstButtonId = 100;

std::vector<ButtonSpec> ButtonsOf(DialogButtons set) {
  if (set == DialogButtons::AbortIgnore) return {{L"&Abort", DialogResult::Abort}, {L"&Ignore", DialogResult::Ignore}};
  return {{L"&Yes", DialogResult::Yes},
          {L"&No", DialogResult::No},
          {L"No to A&ll", DialogResult::NoToAll},
          {L"Yes to &All", DialogResult::YesToAll}};
}

LPCWSTR IconOf(DialogIcon icon) {
  int id = 0;
  switch (icon) {
    case DialogIcon::Error: id = 32513; break;        // IDI_HAND
    case DialogIcon::Warning: id = 32515; break;      // IDI_EXCLAMATION
    case DialogIcon::Information: id = 32516; break;  // IDI_ASTERISK
    case DialogIcon::Question: id = 32514; break;     // IDI_QUESTION
    case DialogIcon::None: return nullptr;
  }
  return MAKEINTRESOURCEW(id);
}

class ButtonDialog : public RuntimeDialog {
 public:
  ButtonDialog(const std::wstring& text, const std::wstring& caption, const MessageBoxOptions& options)
      : text_(text), caption_(caption), options_(options), buttons_(ButtonsOf(options.buttons)) {}
  DialogResult Show(HWND owner) {
    INT_PTR chosen = Run(owner);
    if (chosen < 0 || chosen >= static_cast<INT_PTR>(buttons_.size())) return DialogResult::Cancel;
    return buttons_[static_cast<size_t>(chosen)].result;
  }

 private:
  void Build(HWND dialog) override {
    HDC dc = GetDC(dialog);
    HGDIOBJ old = SelectObject(dc, font_);
    RECT textRect{0, 0, 360, 0};
    DrawTextW(dc, text_.c_str(), -1, &textRect, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    int buttonWidth = 75;
    for (const ButtonSpec& b : buttons_) {
      RECT r{0, 0, 0, 0};
      DrawTextW(dc, b.caption, -1, &r, DT_CALCRECT | DT_SINGLELINE);
      buttonWidth = std::max<int>(buttonWidth, r.right + 20);
    }
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);

    const int margin = 12, gap = 8, buttonHeight = 25;
    HICON icon = nullptr;
    if (LPCWSTR id = IconOf(options_.icon)) icon = LoadIconW(nullptr, id);
    const int iconSize = icon ? GetSystemMetrics(SM_CXICON) : 0;
    const int textLeft = margin + (icon ? iconSize + margin : 0);
    const int bodyHeight = std::max<int>(textRect.bottom, iconSize);
    const int rowWidth = static_cast<int>(buttons_.size()) * (buttonWidth + gap) - gap;
    const int clientWidth = std::max<int>(textLeft + textRect.right + margin, rowWidth + 2 * margin);
    const int clientHeight = margin + bodyHeight + margin + buttonHeight + margin;

    if (icon) {
      HWND picture = AddControl(dialog, L"STATIC", nullptr, SS_ICON, -1, {margin, margin, margin + iconSize, margin + iconSize});
      SendMessageW(picture, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    }
    const int textTop = margin + (bodyHeight - textRect.bottom) / 2;
    AddControl(dialog, L"STATIC", text_.c_str(), SS_NOPREFIX, -1,
               {textLeft, textTop, textLeft + textRect.right, textTop + textRect.bottom});
    int x = (clientWidth - rowWidth) / 2;
    const int top = clientHeight - margin - buttonHeight;
    for (size_t i = 0; i < buttons_.size(); ++i) {
      DWORD style = WS_TABSTOP | (i == 0 ? BS_DEFPUSHBUTTON | WS_GROUP : BS_PUSHBUTTON);
      AddControl(dialog, L"BUTTON", buttons_[i].caption, style, kFirstButtonId + static_cast<int>(i),
                 {x, top, x + buttonWidth, top + buttonHeight});
      x += buttonWidth + gap;
    }

    PlaceDialog(dialog, clientWidth, clientHeight, options_.centerOnScreen ? nullptr : GetWindow(dialog, GW_OWNER));
    SetWindowTextW(dialog, caption_.c_str());
    SetFocus(GetDlgItem(dialog, kFirstButtonId));
  }

  bool Command(HWND dialog, int id) override {
    if (id == IDCANCEL) {
      EndDialog(dialog, -1);
      return true;
    }
    if (id >= kFirstButtonId && id < kFirstButtonId + static_cast<int>(buttons_.size())) {
      EndDialog(dialog, id - kFirstButtonId);
      return true;
    }
    return false;
  }

  const std::wstring& text_;
  const std::wstring& caption_;
  const MessageBoxOptions& options_;
  std::vector<ButtonSpec> buttons_;
};

}  // namespace

DialogResult ShowButtonDialog(HWND owner, const std::wstring& text, const std::wstring& caption,
                              const MessageBoxOptions& options) {
  return ButtonDialog(text, caption, options).Show(owner);
}

}  // namespace ui::win32
