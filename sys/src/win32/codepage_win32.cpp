// Windows code pages: the system's conversions. A code page set
// through SetOemCodePage/SetAnsiCodePage replaces the system's one.
#include <windows.h>

#include <atomic>
#include <vector>

#include "sys/codepage.h"

namespace sys {

namespace {
std::atomic<unsigned> g_oem{0}, g_ansi{0};

UINT AnsiPage() {
  unsigned cp = g_ansi.load();
  return cp ? cp : CP_THREAD_ACP;
}
}  // namespace

void SetOemCodePage(unsigned codePage) { g_oem = codePage; }
void SetAnsiCodePage(unsigned codePage) { g_ansi = codePage; }
unsigned OemCodePage() {
  unsigned cp = g_oem.load();
  return cp ? cp : GetOEMCP();
}
unsigned AnsiCodePage() {
  unsigned cp = g_ansi.load();
  if (cp) return cp;
  CPINFOEXA info;
  if (GetCPInfoExA(CP_THREAD_ACP, 0, &info)) return info.CodePage;
  return GetACP();
}

void OemToAnsiInPlace(char* bytes, std::size_t size) {
  std::size_t n = 0;
  while (n < size && bytes[n] != 0) ++n;
  if (n == 0) return;
  if (g_oem.load() == 0 && g_ansi.load() == 0) {
    OemToCharBuffA(bytes, bytes, static_cast<DWORD>(n));
    return;
  }
  // Explicit code pages: OEM -> UTF-16 -> ANSI, byte for byte.
  UINT oem = OemCodePage();
  for (std::size_t i = 0; i < n; ++i) {
    wchar_t w;
    if (MultiByteToWideChar(oem, 0, bytes + i, 1, &w, 1) != 1) w = L'?';
    char a;
    BOOL lost = FALSE;
    if (WideCharToMultiByte(AnsiPage(), 0, &w, 1, &a, 1, "?", &lost) != 1 || a == 0) a = '?';
    bytes[i] = a;
  }
}

void AnsiToWide(std::string_view bytes, std::u16string& out) {
  out.clear();
  if (bytes.empty()) return;
  int n = MultiByteToWideChar(AnsiPage(), 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return;
  out.resize(static_cast<std::size_t>(n));
  MultiByteToWideChar(AnsiPage(), 0, bytes.data(), static_cast<int>(bytes.size()),
                      reinterpret_cast<wchar_t*>(out.data()), n);
}

std::u16string AnsiToWide(std::string_view bytes) {
  std::u16string out;
  AnsiToWide(bytes, out);
  return out;
}

namespace {

std::string FromWide(UINT page, std::u16string_view text) {
  if (text.empty()) return {};
  const auto* w = reinterpret_cast<const wchar_t*>(text.data());
  int n = WideCharToMultiByte(page, 0, w, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string(text.size(), '?');
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(page, 0, w, static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

std::string WideToAnsi(std::u16string_view text) { return FromWide(AnsiPage(), text); }
std::string WideToOem(std::u16string_view text) {
  unsigned cp = g_oem.load();
  return FromWide(cp ? cp : CP_OEMCP, text);
}

void WideLowerInPlace(std::u16string& text) {
  if (!text.empty()) CharLowerBuffW(reinterpret_cast<wchar_t*>(text.data()), static_cast<DWORD>(text.size()));
}

std::u16string WideLower(std::u16string_view text) {
  std::u16string out(text);
  WideLowerInPlace(out);
  return out;
}

void WideUpperInPlace(std::u16string& text) {
  if (!text.empty()) CharUpperBuffW(reinterpret_cast<wchar_t*>(text.data()), static_cast<DWORD>(text.size()));
}

}  // namespace sys
