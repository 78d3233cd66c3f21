#pragma once
// Pictures held by image controls, and the registry through which stored
// picture data finds its class by name.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

#include "ui/bitmap.h"

namespace ui {

class Picture {
 public:
  virtual ~Picture() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // Draws at the picture's own size with its top-left corner at (x, y); the
  // canvas clips what lies outside the holder.
  virtual void Draw(Canvas& canvas, int x, int y) = 0;
  // The form was laid out at `num`/`den` of its stored size. Pictures are
  // drawn at their own size unless their class says otherwise.
  virtual void Scale(int num, int den) {}

  // Set by the holder: the picture asks for a repaint (an animation frame).
  std::function<void()> onChange;
};

class PictureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Builds a picture from the class's own data; throws on malformed data.
using PictureFactory = std::function<std::unique_ptr<Picture>(std::span<const std::uint8_t> data)>;

// The file format a class reads, as the framework lists it ("GIF", "GIF
// Image"); classes known only by name leave it empty.
struct PictureFormat {
  std::string extension;
  std::string description;
};

void RegisterPictureClass(const std::string& className, PictureFactory factory, PictureFormat format = {});
// The format given with a registered class; empty for others.
PictureFormat PictureClassFormat(const std::string& className);
void UnregisterPictureClass(const std::string& className);
bool IsPictureClassRegistered(const std::string& className);

// Stored picture data: one length byte n, n bytes of class name, then the
// class's own data. A class that is not registered leaves the picture empty
// (nullptr); malformed data of a registered class throws.
std::unique_ptr<Picture> ReadPictureData(std::span<const std::uint8_t> stored);

}  // namespace ui
