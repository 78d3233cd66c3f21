// The headless screen: 32 bits per pixel unless a test says otherwise, the
// system colours of a default Windows desktop, and clipboard formats numbered
// from 0xC000 as Windows numbers registered ones.
#include <atomic>
#include <map>
#include <mutex>

#include "ui/controls.h"
#include "ui/display.h"
#include "ui/headless.h"

namespace ui {
namespace {

std::atomic<int> screenBits{32};
std::atomic<int> screenDpi{96};

struct Formats {
  std::mutex lock;
  std::map<std::string, std::uint32_t> numbers;
};

Formats& F() {
  static Formats formats;
  return formats;
}

}  // namespace

int ScreenColorBits() { return screenBits.load(); }
int ScreenPixelsPerInch() { return screenDpi.load(); }

std::uint32_t PixelColor(Color color) {
  if ((color & 0xFF000000u) == kSystemColor) {
    switch (color & 0xFF) {
      case 5: return 0xFFFFFF;   // window
      case 8: return 0x000000;   // window text
      case 15: return 0xF0F0F0;  // button face
      case 16: return 0xA0A0A0;  // button shadow
      case 20: return 0xFFFFFF;  // button highlight
      default: return 0x808080;
    }
  }
  return (color & 0xFF) << 16 | (color & 0xFF00) | (color >> 16 & 0xFF);
}

std::uint32_t ClipboardFormatNumber(const std::string& name) {
  if (name.empty()) return 0;
  Formats& f = F();
  std::lock_guard guard(f.lock);
  auto [it, added] = f.numbers.emplace(name, 0xC000u + static_cast<std::uint32_t>(f.numbers.size()));
  return it->second;
}

namespace headless {
void SetScreenColorBits(int bits) { screenBits = bits; }
void SetScreenPixelsPerInch(int dpi) { screenDpi = dpi; }
}  // namespace headless

}  // namespace ui
