#pragma once
#include <windows.h>

#include <string>

#include "ui/dialogs.h"

namespace ui::win32 {

// A modal message box with button sets the system's MessageBox lacks
// (Abort and Ignore; Yes, No, No to All and Yes to All).
DialogResult ShowButtonDialog(HWND owner, const std::wstring& text, const std::wstring& caption,
                              const MessageBoxOptions& options);

}  // namespace ui::win32
