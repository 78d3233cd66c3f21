#pragma once
// What pictures need to know about the screen and the system: its colour
// depth, the values of system colours, and clipboard format numbers.
#include <cstdint>
#include <string>

#include "ui/geometry.h"

namespace ui {

// Bits per pixel times colour planes of the screen.
int ScreenColorBits();

// The system's logical pixels per inch (96 at 100 %, 144 at 150 %); forms
// stored at 96 are laid out at this.
int ScreenPixelsPerInch();

// An opaque colour as 0x00RRGGBB, the layout of pixels; system colours
// (kSystemColor | index) are looked up.
std::uint32_t PixelColor(Color color);

// The number the system gives to a named clipboard format (0 on failure);
// the same name always gets the same number.
std::uint32_t ClipboardFormatNumber(const std::string& name);

}  // namespace ui
