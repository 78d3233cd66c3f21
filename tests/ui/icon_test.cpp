#include "ui/icon.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace ui {
namespace {

std::vector<std::uint8_t> CheckIcon() {
  const char* root = ROVEND_SOURCE_DIR;
  std::ifstream file(std::string(root) + "/resources/pictures/check.ico", std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

void Put16(std::vector<std::uint8_t>& v, size_t at, std::uint32_t x) {
  v[at] = x & 0xFF;
  v[at + 1] = (x >> 8) & 0xFF;
}
void Put32(std::vector<std::uint8_t>& v, size_t at, std::uint32_t x) {
  Put16(v, at, x & 0xFFFF);
  Put16(v, at + 2, x >> 16);
}

// A one-image icon of 2 x 2 at 24 bits: red, green / blue, masked out.
std::vector<std::uint8_t> TinyIcon24() {
  std::vector<std::uint8_t> v(6 + 16 + 40 + 2 * 8 + 2 * 4, 0);
  Put16(v, 2, 1);
  Put16(v, 4, 1);
  Put32(v, 6 + 8, 40 + 16 + 8);
  Put32(v, 6 + 12, 22);
  size_t h = 22;
  Put32(v, h, 40);
  Put32(v, h + 4, 2);
  Put32(v, h + 8, 4);
  Put16(v, h + 12, 1);
  Put16(v, h + 14, 24);
  size_t px = h + 40;
  // Bottom row first: blue, then (masked) white.
  v[px + 0] = 255;
  v[px + 3] = 255, v[px + 4] = 255, v[px + 5] = 255;
  // Top row: red, green.
  v[px + 8 + 2] = 255;
  v[px + 8 + 4] = 255;
  size_t mask = px + 16;
  v[mask] = 0x40;  // bottom row, second pixel transparent
  return v;
}

TEST(IconPicture, ReadsTheStatusMark) {
  IconPicture icon(CheckIcon());
  EXPECT_EQ(icon.ImageCount(), 2);
  ASSERT_EQ(icon.Width(), 24);
  ASSERT_EQ(icon.Height(), 24);
  // Corners lie outside the round badge; the middle of the tick is white.
  EXPECT_EQ(icon.Image().At(0, 0) >> 24, 0u);
  EXPECT_EQ(icon.Image().At(23, 23) >> 24, 0u);
  EXPECT_EQ(icon.Image().At(10, 15), 0xFFFFFFFFu);
  // The badge is green: opaque, green above red and blue.
  std::uint32_t badge = icon.Image().At(12, 4);
  EXPECT_EQ(badge >> 24, 255u);
  EXPECT_GT((badge >> 8) & 0xFF, (badge >> 16) & 0xFF);
  EXPECT_GT((badge >> 8) & 0xFF, badge & 0xFF);
}

TEST(IconPicture, ReadsRowsBottomUpAndHonoursTheMask) {
  IconPicture icon(TinyIcon24());
  EXPECT_EQ(icon.Image().At(0, 0), 0xFFFF0000u);
  EXPECT_EQ(icon.Image().At(1, 0), 0xFF00FF00u);
  EXPECT_EQ(icon.Image().At(0, 1), 0xFF0000FFu);
  EXPECT_EQ(icon.Image().At(1, 1), 0u);
}

TEST(IconPicture, RefusesMalformedData) {
  std::vector<std::uint8_t> good = TinyIcon24();
  std::vector<std::vector<std::uint8_t>> cases;
  cases.push_back({});
  cases.push_back(std::vector<std::uint8_t>(good.begin(), good.begin() + 20));  // cut in the directory
  cases.push_back(std::vector<std::uint8_t>(good.begin(), good.end() - 1));     // image runs past the end
  auto bad = good;
  Put16(bad, 2, 2);  // a cursor, not an icon
  cases.push_back(bad);
  bad = good;
  Put16(bad, 4, 0);  // no image
  cases.push_back(bad);
  bad = good;
  Put32(bad, 6 + 12, 0xFFFFFFF0u);  // offset wraps
  cases.push_back(bad);
  bad = good;
  Put32(bad, 22 + 4, 100000);  // absurd width
  cases.push_back(bad);
  bad = good;
  Put16(bad, 22 + 14, 8);  // palette images are not read
  cases.push_back(bad);
  bad = good;
  Put32(bad, 22 + 16, 1);  // compressed
  cases.push_back(bad);
  for (size_t i = 0; i < cases.size(); ++i) EXPECT_THROW(IconPicture{cases[i]}, PictureError) << "case " << i;
}

TEST(ReadPictureData, FindsTheClassByName) {
  std::vector<std::uint8_t> stored = {5, 'T', 'I', 'c', 'o', 'n'};
  auto icon = CheckIcon();
  stored.insert(stored.end(), icon.begin(), icon.end());
  auto picture = ReadPictureData(stored);
  ASSERT_NE(dynamic_cast<IconPicture*>(picture.get()), nullptr);
  EXPECT_EQ(ReadPictureData({}), nullptr);
  EXPECT_THROW(ReadPictureData(std::vector<std::uint8_t>{9, 'T', 'I'}), PictureError);
  std::vector<std::uint8_t> other = {4, 'T', 'B', 'm', 'p', 1, 2, 3};
  EXPECT_EQ(ReadPictureData(other), nullptr);

  RegisterPictureClass("TBmp", [](std::span<const std::uint8_t> data) -> std::unique_ptr<Picture> {
    EXPECT_EQ(data.size(), 3u);
    return std::make_unique<IconPicture>(CheckIcon());
  });
  EXPECT_NE(ReadPictureData(other), nullptr);
  UnregisterPictureClass("TBmp");
  EXPECT_EQ(ReadPictureData(other), nullptr);
}

TEST(MemoryCanvas, BlendsPremultipliedPixelsWithinTheClip) {
  MemoryCanvas canvas(4, 1, 0xFF000000u | 0x808080u);
  Bitmap32 bitmap(4, 1);
  bitmap.At(0, 0) = Premultiply(255, 0, 0, 255);
  bitmap.At(1, 0) = Premultiply(255, 255, 255, 0);
  bitmap.At(2, 0) = Premultiply(255, 255, 255, 128);
  bitmap.At(3, 0) = Premultiply(0, 0, 255, 255);
  canvas.SetClipRect({0, 0, 3, 1});
  canvas.DrawBitmap(0, 0, bitmap);
  EXPECT_EQ(canvas.Surface().At(0, 0), 0xFFFF0000u);
  EXPECT_EQ(canvas.Surface().At(1, 0), 0xFF808080u);
  EXPECT_EQ(canvas.Surface().At(2, 0), 0xFFC0C0C0u);  // half white over grey
  EXPECT_EQ(canvas.Surface().At(3, 0), 0xFF808080u);  // outside the clip
  canvas.SetClipRect({-5, -5, 100, 100});
  canvas.DrawBitmap(3, 0, bitmap);  // only its first pixel lands on the surface
  EXPECT_EQ(canvas.Surface().At(3, 0), 0xFFFF0000u);
}

}  // namespace
}  // namespace ui
