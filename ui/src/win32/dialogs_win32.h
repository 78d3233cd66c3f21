#pragma once
// Dialogs the system has no ready box for, made at run time from an empty
// in-memory template, and what they share with the rest of the backend.
#include <windows.h>

#include <string>

#include "ui/dialogs.h"

namespace ui::win32 {

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& text);

// A modal dialog that builds its controls when it starts, in the font the
// system uses for message boxes. One dialog procedure serves every kind and
// forwards to the object.
class RuntimeDialog {
 public:
  RuntimeDialog();
  virtual ~RuntimeDialog();
  RuntimeDialog(const RuntimeDialog&) = delete;
  RuntimeDialog& operator=(const RuntimeDialog&) = delete;

  // What the dialog ended with, or -1 when it could not be made.
  INT_PTR Run(HWND owner);

 protected:
  // Makes the controls, sets the caption, places the dialog and the focus.
  virtual void Build(HWND dialog) = 0;
  // A WM_COMMAND from control `id`; true when handled. Escape and the close
  // box arrive as IDCANCEL.
  virtual bool Command(HWND dialog, int id) = 0;
  HWND AddControl(HWND dialog, const wchar_t* cls, const wchar_t* text, DWORD style, int id, RECT bounds,
                  DWORD exStyle = 0);

  HFONT font_;

 private:
  static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
};

// Moves `dialog` so that its client area is `width` by `height` pixels,
// centred over `owner`, or on the screen when `owner` is null.
void PlaceDialog(HWND dialog, int width, int height, HWND owner);
// Moves `window`, as it is sized, to the centre of `over`, or of the screen
// when `over` is null, keeping it on the screen.
void CentreWindow(HWND window, HWND over);

// A modal message box with button sets the system's MessageBox lacks
// (Abort and Ignore; Yes, No, No to All and Yes to All).
DialogResult ShowButtonDialog(HWND owner, const std::wstring& text, const std::wstring& caption,
                              const MessageBoxOptions& options);

// The password entry box of ShowPasswordDialog (ui/dialogs.h).
bool ShowPasswordDialog(HWND owner, const std::wstring& caption, const std::wstring& prompt, std::string& text);

}  // namespace ui::win32
