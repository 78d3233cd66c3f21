// wininspect CAPTION [SECONDS] [CLASS]: waits for a top-level window with
// that caption (and window class, when given) and
// prints what the Wine tests check, one line each, in UTF-8:
//   window <client width> <client height> <style hex>
//   frame <left> <top> <width> <height>       (the whole window, on the screen)
//   focus <class> <text>                      (or "focus -": no control has it)
//   child <class> <visible 0/1> <checked 0/1/-> <left> <top> <width> <height> <text>
// Child positions are relative to the window's client area.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Text(HWND hwnd) {
  wchar_t buffer[1024] = {};
  GetWindowTextW(hwnd, buffer, 1024);
  return buffer;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM topLevel) {
  wchar_t cls[256] = {};
  GetClassNameW(child, cls, 256);
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, reinterpret_cast<HWND>(topLevel), reinterpret_cast<POINT*>(&r), 2);
  const char* checked = "-";
  LONG style = GetWindowLongW(child, GWL_STYLE);
  if (_wcsicmp(cls, L"Button") == 0 && (style & 0x0F) == BS_AUTOCHECKBOX)
    checked = SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0";
  std::printf("child %s %d %s %ld %ld %ld %ld %s\n", Utf8(cls).c_str(), IsWindowVisible(child) ? 1 : 0, checked,
              r.left, r.top, r.right - r.left, r.bottom - r.top, Utf8(Text(child)).c_str());
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: wininspect CAPTION [SECONDS] [CLASS]\n");
    return 2;
  }
  const int seconds = argc > 2 ? _wtoi(argv[2]) : 20;
  const wchar_t* cls = argc > 3 ? argv[3] : nullptr;
  HWND window = nullptr;
  for (int i = 0; i < seconds * 10 && !window; ++i) {
    window = FindWindowW(cls, argv[1]);
    if (!window) Sleep(100);
  }
  if (!window) {
    std::fprintf(stderr, "no window captioned %s\n", Utf8(argv[1]).c_str());
    return 1;
  }
  RECT client;
  GetClientRect(window, &client);
  std::printf("window %ld %ld %08lx\n", client.right, client.bottom,
              static_cast<unsigned long>(GetWindowLongW(window, GWL_STYLE)));
  RECT frame;
  GetWindowRect(window, &frame);
  std::printf("frame %ld %ld %ld %ld\n", frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top);
  // The focus of the window's own thread, which is not this program's.
  GUITHREADINFO thread = {};
  thread.cbSize = sizeof thread;
  HWND focus = nullptr;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &thread) && IsChild(window, thread.hwndFocus))
    focus = thread.hwndFocus;
  if (focus) {
    wchar_t cls[256] = {};
    GetClassNameW(focus, cls, 256);
    std::printf("focus %s %s\n", Utf8(cls).c_str(), Utf8(Text(focus)).c_str());
  } else {
    std::printf("focus -\n");
  }
  EnumChildWindows(window, PrintChild, reinterpret_cast<LPARAM>(window));
  return 0;
}
