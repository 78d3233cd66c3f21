// Start-up and shut-down of the engine, and stored picture data finding its
// class by name.
#include <gtest/gtest.h>

#include "gif/picture.h"
#include "gif/registration.h"
#include "test_support.h"
#include "ui/headless.h"
#include "ui/icon.h"
#include "ui/picture.h"

namespace gif::testing {
namespace {

std::vector<uint8_t> Stored(const std::string& className, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> stored{static_cast<uint8_t>(className.size())};
  stored.insert(stored.end(), className.begin(), className.end());
  stored.insert(stored.end(), data.begin(), data.end());
  return stored;
}

std::vector<uint8_t> TwoFrames() {
  TGifBuilder b;
  b.Header(2, 2).Loop(0);
  b.GraphicControl(0x04, 10, 0).Image({.width = 2, .height = 2}, std::vector<uint8_t>(4, 100));
  b.GraphicControl(0x04, 10, 0).Image({.width = 2, .height = 2}, std::vector<uint8_t>(4, 200));
  return b.Trailer().Take();
}

// Each test starts and leaves the engine stopped.
class Registration : public ::testing::Test {
 protected:
  void TearDown() override {
    ui::headless::SetScreenColorBits(32);
    EXPECT_FALSE(ui::IsPictureClassRegistered("TGIFPicture"));
  }
};

TEST_F(Registration, StoredDataNamingTheClassLoadsAsAGIFOnceStarted) {
  const auto stored = Stored("TGIFPicture", TwoFrames());
  EXPECT_EQ(ui::ReadPictureData(stored), nullptr) << "not registered: the picture stays empty";
  StartUp();
  auto picture = ui::ReadPictureData(stored);
  auto* gif = dynamic_cast<TGIFPicture*>(picture.get());
  ASSERT_NE(gif, nullptr);
  EXPECT_EQ(gif->Images().Count(), 2);
  EXPECT_EQ(gif->Width(), 2);
  const ui::PictureFormat format = ui::PictureClassFormat("TGIFPicture");
  EXPECT_EQ(format.extension, "GIF");
  EXPECT_EQ(format.description, "GIF Image");
  EXPECT_NE(ClipboardFormat(), 0u);

  // Other classes keep their own readers; broken GIF data is an error.
  const auto icon = ReadFile(SourceDir() / "resources/pictures/check.ico");
  EXPECT_NE(dynamic_cast<ui::IconPicture*>(ui::ReadPictureData(Stored("TIcon", icon)).get()), nullptr);
  EXPECT_THROW(ui::ReadPictureData(Stored("TGIFPicture", {'G', 'I', 'F', '8', '9', 'a', 1})), EGIFError);
  ShutDown();
}

TEST_F(Registration, StartUpAndShutDownWorkOnceEach) {
  StartUp();
  StartUp();
  ShutDown();
  EXPECT_TRUE(ui::IsPictureClassRegistered("TGIFPicture")) << "one start-up still stands";
  ShutDown();
  EXPECT_FALSE(ui::IsPictureClassRegistered("TGIFPicture"));
  ShutDown();
  StartUp();
  EXPECT_FALSE(ui::IsPictureClassRegistered("TGIFPicture")) << "an extra shut-down is owed first";
  StartUp();
  EXPECT_TRUE(ui::IsPictureClassRegistered("TGIFPicture"));
  ShutDown();
}

TEST_F(Registration, ALowColourDisplayDithersEveryFrame) {
  for (const int bits : {32, 24, 16, 8, 4}) {
    ui::headless::SetScreenColorBits(bits);
    StartUp();
    EXPECT_EQ(LowColorDisplay(), bits <= 8) << bits;
    TLoaded loaded = Load(TwoFrames());
    const ui::Bitmap8* bitmap = loaded.picture->Images()[0].Bitmap();
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->colorCount, bits <= 8 ? 216 : 256) << bits;
    ShutDown();
  }
}

}  // namespace
}  // namespace gif::testing
