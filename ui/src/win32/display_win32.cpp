#include <windows.h>

#include "ui/controls.h"
#include "ui/display.h"

namespace ui {

int ScreenColorBits() {
  HDC screen = GetDC(nullptr);
  if (!screen) return 32;
  const int bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
  ReleaseDC(nullptr, screen);
  return bits;
}

int ScreenPixelsPerInch() {
  HDC screen = GetDC(nullptr);
  if (!screen) return 96;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

std::uint32_t PixelColor(Color color) {
  const COLORREF value = (color & 0xFF000000u) == kSystemColor ? GetSysColor(static_cast<int>(color & 0xFF))
                                                               : static_cast<COLORREF>(color & 0x00FFFFFFu);
  return static_cast<std::uint32_t>(GetRValue(value)) << 16 | static_cast<std::uint32_t>(GetGValue(value)) << 8 |
         GetBValue(value);
}

std::uint32_t ClipboardFormatNumber(const std::string& name) { return RegisterClipboardFormatA(name.c_str()); }

}  // namespace ui
