#pragma once
// The engine's place in the program: start-up registers "TGIFPicture" with
// the picture framework, so that stored picture data naming the class loads
// as a GIF, and learns whether the display has few colours.
#include <cstdint>

namespace gif {

inline constexpr const char* PictureClassName = "TGIFPicture";
inline constexpr const char* FormatExtension = "GIF";
inline constexpr const char* FormatDescription = "GIF Image";

// Frames are rendered when first drawn, never right after decoding, and
// pictures are written as they are.
inline constexpr bool RenderOnLoad = false;
inline constexpr bool OptimizeOnSave = false;

// Each works once however often it is asked: start-up only when the engine
// is not started, shut-down only when it is started once. Start-up also
// arranges for shut-down at exit.
void StartUp();
void ShutDown();

// The screen has 8 or fewer bits per pixel (as measured at start-up).
bool LowColorDisplay();
// The number of the clipboard format "GIF Image"; 0 before start-up.
uint32_t ClipboardFormat();

}  // namespace gif
