#include "dialogs_win32.h"

#include <algorithm>

namespace ui::win32 {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(std::max(n, 0)), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(std::max(n, 0)), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

namespace {

HFONT CreateMessageFont() {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

}  // namespace

RuntimeDialog::RuntimeDialog() : font_(CreateMessageFont()) {}

RuntimeDialog::~RuntimeDialog() {
  if (font_) DeleteObject(font_);
}

INT_PTR RuntimeDialog::Run(HWND owner) {
  // DLGTEMPLATE, then no menu, the default class and an empty title, each a
  // zero word.
  alignas(4) WORD templ[32] = {};
  auto* header = reinterpret_cast<DLGTEMPLATE*>(templ);
  header->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFOREGROUND;
  header->cdit = 0;
  return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), header, owner, Procedure, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK RuntimeDialog::Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    reinterpret_cast<RuntimeDialog*>(lParam)->Build(dialog);
    return FALSE;  // Build has set the focus
  }
  auto* self = reinterpret_cast<RuntimeDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (message == WM_COMMAND && self) return self->Command(dialog, LOWORD(wParam)) ? TRUE : FALSE;
  return FALSE;
}

HWND RuntimeDialog::AddControl(HWND dialog, const wchar_t* cls, const wchar_t* text, DWORD style, int id, RECT bounds,
                               DWORD exStyle) {
  HWND control = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, bounds.left, bounds.top,
                                 bounds.right - bounds.left, bounds.bottom - bounds.top, dialog,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  return control;
}

void PlaceDialog(HWND dialog, int width, int height, HWND owner) {
  RECT frame{0, 0, width, height};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)));
  SetWindowPos(dialog, HWND_TOP, 0, 0, frame.right - frame.left, frame.bottom - frame.top, SWP_NOMOVE);
  CentreWindow(dialog, owner);
}

void CentreWindow(HWND window, HWND over) {
  RECT frame;
  GetWindowRect(window, &frame);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  RECT area = screen;
  if (over) GetWindowRect(over, &area);
  int x = area.left + (area.right - area.left - width) / 2;
  int y = area.top + (area.bottom - area.top - height) / 2;
  // Over a window near an edge it stays on the screen, its title bar first.
  x = std::max<int>(screen.left, std::min<int>(x, screen.right - width));
  y = std::max<int>(screen.top, std::min<int>(y, screen.bottom - height));
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace ui::win32
