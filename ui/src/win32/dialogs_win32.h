#pragma once
// Dialogs the system has no ready box for, made at run time from an empty
// in-memory template, and what they share with the rest of the backend.
#include <windows.h>

#include <string>

#include "ui/dialogs.h"

namespace ui::win32 {

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& text);

// The font the system uses for message boxes; the caller deletes it.
HFONT CreateMessageFont();

// Runs a modal dialog with no controls of its own: `proc` gets `state` as
// the WM_INITDIALOG parameter and builds the controls there. Returns what
// EndDialog was given, or -1 when the dialog could not be made.
INT_PTR RunDialog(HWND owner, DLGPROC proc, LPARAM state);

// Moves `dialog` so that its client area is `width` by `height` pixels,
// centred over `owner`, or on the screen when `owner` is null.
void PlaceDialog(HWND dialog, int width, int height, HWND owner);

// A modal message box with button sets the system's MessageBox lacks
// (Abort and Ignore; Yes, No, No to All and Yes to All).
DialogResult ShowButtonDialog(HWND owner, const std::wstring& text, const std::wstring& caption,
                              const MessageBoxOptions& options);

// The password entry box of ShowPasswordDialog (ui/dialogs.h).
bool ShowPasswordDialog(HWND owner, const std::wstring& caption, const std::wstring& prompt, std::string& text);

}  // namespace ui::win32
