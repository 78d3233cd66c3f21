#include "gif/registration.h"

#include <atomic>
#include <cstdlib>

#include "gif/picture.h"
#include "ui/application.h"
#include "ui/display.h"
#include "ui/picture.h"

namespace gif {

namespace {

// 0: not started; each start-up request takes one off, each shut-down puts
// one back, and only the first of each does the work.
std::atomic<int> startCount{0};
std::atomic<bool> lowColorDisplay{false};
std::atomic<uint32_t> clipboardFormat{0};
std::atomic<bool> exitHookSet{false};

std::unique_ptr<ui::Picture> ReadGIFPicture(std::span<const uint8_t> data) {
  auto picture = std::make_unique<TGIFPicture>();
  TMemoryStream stream(data);
  picture->LoadFromStream(stream);
  return picture;
}

void ShutDownAtExit() { ShutDown(); }

}  // namespace

void StartUp() {
  if (startCount.fetch_sub(1) != 0) return;
  // The thread that starts the engine is the UI thread the painters draw
  // through; the application object learns it here if it has not yet.
  ui::Application::Instance();
  ui::RegisterPictureClass(PictureClassName, ReadGIFPicture, {FormatExtension, FormatDescription});
  clipboardFormat = ui::ClipboardFormatNumber(FormatDescription);
  lowColorDisplay = ui::ScreenColorBits() < 9;
  // Registered after the picture framework's registry came to be, so it
  // runs before that registry goes.
  if (!exitHookSet.exchange(true)) std::atexit(ShutDownAtExit);
}

void ShutDown() {
  if (startCount.fetch_add(1) != -1) return;
  ui::UnregisterPictureClass(PictureClassName);
}

bool LowColorDisplay() { return lowColorDisplay; }

uint32_t ClipboardFormat() { return clipboardFormat; }

}  // namespace gif
