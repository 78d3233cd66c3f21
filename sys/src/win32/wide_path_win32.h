#pragma once
// Wide names as the W forms of the Windows API take them.
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

}  // namespace sys::win32
