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

struct DialogState {
  const std::wstring* text;
  const std::wstring* caption;
  const MessageBoxOptions* options;
  std::vector<ButtonSpec> buttons;
  HFONT font = nullptr;
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

void Layout(HWND dialog, DialogState& state) {
  state.font = CreateMessageFont();
  HDC dc = GetDC(dialog);
  HGDIOBJ old = SelectObject(dc, state.font);
  RECT textRect{0, 0, 360, 0};
  DrawTextW(dc, state.text->c_str(), -1, &textRect, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  int buttonWidth = 75;
  for (const ButtonSpec& b : state.buttons) {
    RECT r{0, 0, 0, 0};
    DrawTextW(dc, b.caption, -1, &r, DT_CALCRECT | DT_SINGLELINE);
    buttonWidth = std::max<int>(buttonWidth, r.right + 20);
  }
  SelectObject(dc, old);
  ReleaseDC(dialog, dc);

  const int margin = 12, gap = 8, buttonHeight = 25;
  HICON icon = nullptr;
  if (LPCWSTR id = IconOf(state.options->icon)) icon = LoadIconW(nullptr, id);
  const int iconSize = icon ? GetSystemMetrics(SM_CXICON) : 0;
  const int textLeft = margin + (icon ? iconSize + margin : 0);
  const int bodyHeight = std::max<int>(textRect.bottom, iconSize);
  const int rowWidth = static_cast<int>(state.buttons.size()) * (buttonWidth + gap) - gap;
  const int clientWidth = std::max<int>(textLeft + textRect.right + margin, rowWidth + 2 * margin);
  const int clientHeight = margin + bodyHeight + margin + buttonHeight + margin;

  if (icon) {
    HWND picture = CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_ICON, margin, margin, iconSize,
                                   iconSize, dialog, nullptr, nullptr, nullptr);
    SendMessageW(picture, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
  }
  HWND label = CreateWindowExW(0, L"STATIC", state.text->c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX, textLeft,
                               margin + (bodyHeight - textRect.bottom) / 2, textRect.right, textRect.bottom, dialog,
                               nullptr, nullptr, nullptr);
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), FALSE);
  int x = (clientWidth - rowWidth) / 2;
  for (size_t i = 0; i < state.buttons.size(); ++i) {
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (i == 0 ? BS_DEFPUSHBUTTON | WS_GROUP : BS_PUSHBUTTON);
    HWND button = CreateWindowExW(0, L"BUTTON", state.buttons[i].caption, style, x, clientHeight - margin - buttonHeight,
                                  buttonWidth, buttonHeight, dialog,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstButtonId + i)), nullptr, nullptr);
    SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), FALSE);
    x += buttonWidth + gap;
  }

  HWND owner = state.options->centerOnScreen ? nullptr : GetWindow(dialog, GW_OWNER);
  PlaceDialog(dialog, clientWidth, clientHeight, owner);
  SetWindowTextW(dialog, state.caption->c_str());
  SetFocus(GetDlgItem(dialog, kFirstButtonId));
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      Layout(dialog, *reinterpret_cast<DialogState*>(lParam));
      return FALSE;  // the focus was set
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == IDCANCEL) {
        EndDialog(dialog, -1);
        return TRUE;
      }
      if (state && id >= kFirstButtonId && id < kFirstButtonId + static_cast<int>(state->buttons.size())) {
        EndDialog(dialog, id - kFirstButtonId);
        return TRUE;
      }
      break;
    }
    case WM_DESTROY:
      if (state && state->font) DeleteObject(state->font);
      break;
  }
  return FALSE;
}

}  // namespace

DialogResult ShowButtonDialog(HWND owner, const std::wstring& text, const std::wstring& caption,
                              const MessageBoxOptions& options) {
  DialogState state{&text, &caption, &options, ButtonsOf(options.buttons)};
  INT_PTR chosen = RunDialog(owner, DialogProc, reinterpret_cast<LPARAM>(&state));
  if (chosen < 0 || chosen >= static_cast<INT_PTR>(state.buttons.size())) return DialogResult::Cancel;
  return state.buttons[static_cast<size_t>(chosen)].result;
}

}  // namespace ui::win32
