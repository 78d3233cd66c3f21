// Reads an icon and draws it, as an image control shows one.
#include <cstddef>
#include <cstdint>
#include <span>

#include "ui/bitmap.h"
#include "ui/icon.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    ui::IconPicture icon(std::span<const std::uint8_t>(data, size));
    ui::MemoryCanvas canvas(32, 32, 0xFF000000u);
    icon.Draw(canvas, 4, 4);
  } catch (const ui::PictureError&) {
  }
  return 0;
}
