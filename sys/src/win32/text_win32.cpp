#include <windows.h>

#include "sys/text.h"

namespace sys {

namespace {
std::string Convert(std::string_view text, UINT from, UINT to) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  int m = WideCharToMultiByte(to, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  if (m <= 0) return {};
  std::string out(static_cast<size_t>(m), '\0');
  WideCharToMultiByte(to, 0, wide.data(), n, out.data(), m, nullptr, nullptr);
  return out;
}
}  // namespace

std::string NativeToUtf8(std::string_view text) { return Convert(text, CP_ACP, CP_UTF8); }
std::string Utf8ToNative(std::string_view text) { return Convert(text, CP_UTF8, CP_ACP); }

std::u16string NativeToWide(std::string_view text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n > 0 ? n : 0), u'\0');
  if (n > 0)
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

}  // namespace sys
