#pragma once
// A minimal reader of Windows icon files: the first image of the directory,
// 32 bits per pixel with alpha or 24 bits with the AND mask.
#include <span>

#include "ui/picture.h"

namespace ui {

class IconPicture final : public Picture {
 public:
  // Throws PictureError when the data is not an icon it can read.
  explicit IconPicture(std::span<const std::uint8_t> data);
  int Width() const override { return image_.width; }
  int Height() const override { return image_.height; }
  void Draw(Canvas& canvas, int x, int y) override { canvas.DrawBitmap(x, y, shown_.width ? shown_ : image_); }
  // An icon grows with the layout, as its box does, so that a status mark
  // stays the size of its cell.
  void Scale(int num, int den) override;
  const Bitmap32& Image() const { return image_; }
  int ImageCount() const { return count_; }

 private:
  Bitmap32 image_;
  Bitmap32 shown_;  // image_ resampled to the layout's scale; empty at 1:1
  int count_ = 0;
};

}  // namespace ui
