// The window's spinner and banner: the generated files have the properties
// the window relies on, the window description holds them, and they show
// on the window's controls as they should.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <tuple>

#include "gif/animator.h"
#include "gif/picture.h"
#include "gif/registration.h"
#include "test_support.h"
#include "ui/application.h"
#include "ui/controls.h"
#include "ui/form_description.h"
#include "ui/headless.h"
#include "ui/synchronise.h"

namespace gif::testing {
namespace {

// The blocks of a GIF stream as stored, where the engine's model keeps no
// trace: the order of the extensions, code sizes and sub-block counts.
struct TRawBlock {
  uint8_t kind;   // 0x21 extension, 0x2C image
  uint8_t label;  // extension label; image: the initial code size
  int subBlocks;
  size_t dataBytes;
};

std::vector<TRawBlock> RawBlocks(const std::vector<uint8_t>& gif) {
  std::vector<TRawBlock> blocks;
  size_t at = 13 + ((gif.at(10) & 0x80) ? 3 * (2 << (gif[10] & 7)) : 0);
  const auto subBlocks = [&](TRawBlock& block) {
    while (gif.at(at) != 0) {
      block.dataBytes += gif[at];
      ++block.subBlocks;
      at += 1 + gif[at];
    }
    ++at;
  };
  while (gif.at(at) != 0x3B) {
    TRawBlock block{gif[at], 0, 0, 0};
    if (block.kind == 0x21) {
      block.label = gif.at(at + 1);
      at += 2;
    } else {
      EXPECT_EQ(block.kind, 0x2C);
      EXPECT_EQ(gif.at(at + 9) & 0x80, 0) << "no local colour map";
      block.label = gif.at(at + 10);
      at += 11;
    }
    subBlocks(block);
    blocks.push_back(block);
  }
  EXPECT_EQ(at + 1, gif.size()) << "nothing after the trailer";
  return blocks;
}

int TransparentPixels(const TGIFFrame& frame) {
  const auto pixels = frame.Pixels();
  return static_cast<int>(std::count(pixels.begin(), pixels.end(), frame.TransparentColorIndex()));
}

// The file, after checking its size and its header: 89a, a global map of
// 256 entries at 8 bits, unsorted, the given background, no aspect.
std::vector<uint8_t> Picture(const char* name, size_t size, uint8_t background) {
  const auto bytes = ReadFile(SourceDir() / "resources/pictures" / name);
  EXPECT_EQ(bytes.size(), size);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF89a");
  EXPECT_EQ(bytes.at(10), 0xF7);
  EXPECT_EQ(bytes.at(11), background);
  EXPECT_EQ(bytes.at(12), 0);
  return bytes;
}

TEST(WindowPictures, TheSpinnerIsAsListed) {
  const auto bytes = Picture("spinner.gif", 2748, 221);

  const auto blocks = RawBlocks(bytes);
  ASSERT_EQ(blocks.size(), 2u + 6u * 2u);
  EXPECT_EQ(blocks[0].label, 0xFF) << "the looping block first";
  EXPECT_EQ(blocks[1].label, 0xFE);
  EXPECT_EQ(blocks[1].dataBytes, 17u) << "a comment of 17 bytes";
  for (int i = 0; i < 6; ++i) {
    const TRawBlock& control = blocks[2 + 2 * i];
    const TRawBlock& image = blocks[3 + 2 * i];
    EXPECT_EQ(control.label, 0xF9);
    EXPECT_EQ(image.kind, 0x2C);
    EXPECT_EQ(image.label, 8) << "initial code size";
    EXPECT_EQ(image.subBlocks, 2) << "frame " << i;
  }

  TLoaded loaded = Load(bytes);
  ASSERT_EQ(loaded.error, "");
  EXPECT_TRUE(loaded.warnings.empty());
  const TGIFPicture& spinner = *loaded.picture;
  EXPECT_EQ(spinner.Width(), 32);
  EXPECT_EQ(spinner.Height(), 32);
  EXPECT_EQ(spinner.Header().ColorMap().Count(), 256);
  ASSERT_EQ(spinner.Images().Count(), 6);
  const auto* loop = dynamic_cast<const TGIFLoopExtension*>(&spinner.Images()[0].Extensions()[0]);
  ASSERT_NE(loop, nullptr);
  EXPECT_EQ(loop->IdentifierText(), "NETSCAPE2.0");
  EXPECT_EQ(loop->Loops, 0);
  const uint16_t delays[] = {10, 10, 10, 10, 10, 20};
  for (int i = 0; i < 6; ++i) {
    const TGIFFrame& frame = spinner.Images()[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(frame.Left(), 3);
    EXPECT_EQ(frame.Top(), 2);
    EXPECT_EQ(frame.Width(), 27);
    EXPECT_EQ(frame.Height(), 27);
    EXPECT_FALSE(frame.Interlaced());
    ASSERT_NE(frame.GraphicControlExtension, nullptr);
    const TGIFGraphicControlExtension& gce = *frame.GraphicControlExtension;
    EXPECT_TRUE(gce.Transparent());
    EXPECT_FALSE(gce.UserInput());
    EXPECT_EQ(gce.TransparentColorIndex(), 255);
    EXPECT_EQ(gce.Delay(), delays[i]);
    EXPECT_EQ(gce.Disposal(), i < 5 ? 1 : 0);
    EXPECT_GE(TransparentPixels(frame), 505);
    EXPECT_LE(TransparentPixels(frame), 534);
  }
}

TEST(WindowPictures, TheBannerIsAsListed) {
  const auto bytes = Picture("banner.gif", 4511, 253);
  const auto blocks = RawBlocks(bytes);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].label, 0xFE);
  EXPECT_EQ(blocks[0].dataBytes, 17u);
  EXPECT_EQ(blocks[1].label, 0xF9);
  EXPECT_EQ(blocks[2].label, 8);
  EXPECT_EQ(blocks[2].subBlocks, 15);

  TLoaded loaded = Load(bytes);
  ASSERT_EQ(loaded.error, "");
  const TGIFPicture& banner = *loaded.picture;
  EXPECT_EQ(banner.Width(), 300);
  EXPECT_EQ(banner.Height(), 67);
  ASSERT_EQ(banner.Images().Count(), 1);
  const TGIFFrame& frame = banner.Images()[0];
  EXPECT_EQ(frame.Left(), 0);
  EXPECT_EQ(frame.Top(), 0);
  EXPECT_EQ(frame.Width(), 300);
  EXPECT_EQ(frame.Height(), 67);
  ASSERT_NE(frame.GraphicControlExtension, nullptr);
  EXPECT_TRUE(frame.GraphicControlExtension->Transparent());
  EXPECT_EQ(frame.GraphicControlExtension->TransparentColorIndex(), 255);
  EXPECT_EQ(frame.GraphicControlExtension->Delay(), 0);
  EXPECT_EQ(frame.GraphicControlExtension->Disposal(), 0);
  EXPECT_EQ(TransparentPixels(frame), 7972);
}

// The stored Picture.Data of each image control of the description.
std::map<std::string, std::vector<uint8_t>> StoredPictures() {
  std::ifstream file(SourceDir() / "resources/Form1.dfm", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), {});
  std::map<std::string, std::vector<uint8_t>> stored;
  std::function<void(const ui::ObjectDescription&)> walk = [&](const ui::ObjectDescription& d) {
    if (const ui::PropertyValue* data = d.Find("Picture.Data")) stored[d.name] = data->binary;
    for (const auto& child : d.children) walk(child);
  };
  walk(ui::ParseDescription(text));
  return stored;
}

TEST(WindowPictures, TheWindowDescriptionHoldsThem) {
  auto stored = StoredPictures();
  for (const auto& [name, file, size] : {std::tuple{"Image4", "spinner.gif", 2748u},
                                          std::tuple{"Image5", "banner.gif", 4511u}}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t>& data = stored[name];
    ASSERT_EQ(data.size(), 12 + size) << "the class name, then the GIF";
    EXPECT_EQ(std::string(data.begin(), data.begin() + 12), "\x0BTGIFPicture");
    EXPECT_EQ(std::vector<uint8_t>(data.begin() + 12, data.end()), ReadFile(SourceDir() / "resources/pictures" / file));
  }
}

class OnTheWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::Application::Instance();
    ui::headless::Reset();
    StartUp();
  }
  void TearDown() override { ShutDown(); }
};

TEST_F(OnTheWindow, TheBannerIsCutToItsBoxOverThePanel) {
  ui::Form form("Form1");
  form.clientWidth = 354;
  form.clientHeight = 185;
  auto& panel = form.Add<ui::Panel>("Panel1", &form);
  panel.SetBounds({0, 0, 353, 201});
  auto& image = form.Add<ui::Image>("Image5", &panel);
  image.SetBounds({24, 32, 289, 65});
  image.SetPicture(ui::ReadPictureData(StoredPictures()["Image5"]));
  auto* banner = dynamic_cast<TGIFPicture*>(image.GetPicture());
  ASSERT_NE(banner, nullptr);

  const ui::Bitmap32 shown = ui::headless::PaintImages(panel);
  const uint32_t face = shown.At(0, 0);
  const TGIFFrame& frame = banner->Images()[0];
  int transparentShown = 0;
  for (int y = 0; y < 65; ++y)
    for (int x = 0; x < 289; ++x) {
      const uint8_t index = frame.Pixels()[static_cast<size_t>(y) * 300 + x];
      const uint32_t pixel = shown.At(24 + x, 32 + y);
      if (index == 255) {
        transparentShown += pixel == face;
        continue;
      }
      const TGIFColor c = banner->Header().ColorMap().Color(index);
      ASSERT_EQ(pixel, 0xFF000000u | uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue) << x << "," << y;
    }
  EXPECT_GT(transparentShown, 5000);
  for (int y = 0; y < 67; ++y) EXPECT_EQ(shown.At(24 + 289, 32 + y), face) << "cut at the right";
  for (int x = 0; x < 300; ++x) EXPECT_EQ(shown.At(24 + x, 32 + 65), face) << "cut at the bottom";
  EXPECT_EQ(banner->PainterCount(), 0) << "one frame: no painter";
}

TEST_F(OnTheWindow, TheSpinnerPlaysOnceShownAndOnlyItsAreaChanges) {
  ui::Form form("Form1");
  form.clientWidth = 354;
  form.clientHeight = 185;
  auto& image = form.Add<ui::Image>("Image4", &form);
  image.SetBounds({304, 40, 33, 33});
  image.Hide();
  image.SetPicture(ui::ReadPictureData(StoredPictures()["Image4"]));
  auto* spinner = dynamic_cast<TGIFPicture*>(image.GetPicture());
  ASSERT_NE(spinner, nullptr);
  int changes = 0;
  spinner->onChange = [&] { ++changes; };

  const ui::Bitmap32 hidden = ui::headless::PaintImages(form);
  EXPECT_EQ(spinner->PainterCount(), 0) << "not painted yet, not playing";
  image.Show();
  const ui::Bitmap32 first = ui::headless::PaintImages(form);
  EXPECT_EQ(spinner->PainterCount(), 1);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (changes < 4 && std::chrono::steady_clock::now() < until) {
    ui::Application::Instance().ProcessMessages();
    ui::WaitForSynchronisedCall(5);
  }
  ASSERT_GE(changes, 4) << "frames follow on the UI thread";
  const ui::Bitmap32 later = ui::headless::PaintImages(form);
  const ui::Rect frameArea{304 + 3, 40 + 2, 27, 27};
  bool differs = false;
  for (int y = 0; y < later.height; ++y)
    for (int x = 0; x < later.width; ++x) {
      const bool inside = x >= frameArea.left && x < frameArea.right() && y >= frameArea.top &&
                          y < frameArea.bottom();
      if (!inside) {
        ASSERT_EQ(later.At(x, y), hidden.At(x, y)) << x << "," << y;
      }
      differs |= inside && later.At(x, y) != first.At(x, y);
    }
  EXPECT_TRUE(differs);

  // Hidden again it plays on, until the picture goes.
  image.Hide();
  EXPECT_EQ(spinner->PainterCount(), 1);
  image.SetPicture(nullptr);
}

}  // namespace
}  // namespace gif::testing
