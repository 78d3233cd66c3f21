#pragma once
// Wide names as the W forms of the Windows API take them.
#include <windows.h>

#include <string>
#include <string_view>

namespace sys::win32 {

// UTF-16 in wchar_t, with "/" taken for the backslash it stands for.
inline std::wstring NativeWide(std::u16string_view name) {
  std::wstring w(name.begin(), name.end());
  for (wchar_t& c : w)
    if (c == L'/') c = L'\\';
  return w;
}

// The program's UTF-8 texts to UTF-16 and back. The ANSI code page cannot
// hold every name a user folder can have, so no path ever passes through it.
inline std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

inline std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace sys::win32
