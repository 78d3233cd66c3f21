// Pictures made by real tools (ImageMagick, giflib's own tools) decode to the
// same index rasters as giflib gives for them.
#include <gtest/gtest.h>

#include <cstdlib>

#include "reference_dump.h"
#include "test_support.h"

namespace gif::testing {
namespace {

bool Shell(const std::string& command) { return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0; }

bool Have(const char* tool) { return Shell(std::string("command -v ") + tool); }

void ExpectSameAsGiflib(const std::filesystem::path& file) {
  SCOPED_TRACE(file.filename().string());
  std::vector<TReferenceFrame> reference;
  ASSERT_EQ(ReferenceDecode(file.string(), reference), "");
  TGIFPicture picture;
  std::vector<std::string> warnings;
  picture.OnParseWarning = [&](const TPersistent*, int, const std::string& m) { warnings.push_back(m); };
  picture.LoadFromFile(file.string());
  EXPECT_EQ(warnings, std::vector<std::string>{});
  std::vector<const TGIFFrame*> images;
  for (const auto& frame : picture.Images())
    if (!frame->Empty()) images.push_back(frame.get());
  ASSERT_EQ(images.size(), reference.size());
  ASSERT_FALSE(images.empty());
  for (size_t i = 0; i < images.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    EXPECT_EQ(images[i]->Left(), reference[i].left);
    EXPECT_EQ(images[i]->Top(), reference[i].top);
    EXPECT_EQ(images[i]->Width(), reference[i].width);
    EXPECT_EQ(images[i]->Height(), reference[i].height);
    EXPECT_EQ(images[i]->Interlaced(), reference[i].interlaced);
    EXPECT_TRUE(FramePixels(*images[i]) == reference[i].pixels);
  }
}

class GifOracle : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"convert", "gif2rgb", "giftool"})
      ASSERT_TRUE(Have(tool)) << tool << " is missing (packages imagemagick, giflib-tools)";
  }
  std::string At(const std::string& name) const { return (dir_.Path() / name).string(); }
  void Make(const std::string& name, const std::string& command) {
    ASSERT_TRUE(Shell(command)) << command;
    files_.push_back(At(name));
  }
  TTempDir dir_;
  std::vector<std::string> files_;
};

TEST_F(GifOracle, ImageMagickPictures) {
  const std::string plasma = "convert -seed 7 -size 160x120 plasma:fractal ";
  Make("p256.gif", plasma + At("p256.gif"));
  Make("p256i.gif", plasma + "-interlace GIF " + At("p256i.gif"));
  Make("p2.gif", plasma + "-colors 2 " + At("p2.gif"));
  Make("p16.gif", plasma + "-colors 16 +dither " + At("p16.gif"));
  Make("p5i.gif", "convert -seed 3 -size 37x211 plasma: -colors 5 -interlace GIF " + At("p5i.gif"));
  Make("big.gif", "convert -seed 11 -size 1500x1000 plasma:fractal -colors 200 " + At("big.gif"));
  Make("grad.gif", "convert -size 640x480 gradient:red-blue -interlace GIF " + At("grad.gif"));
  // An animation that ImageMagick optimises into sub-rectangles with
  // transparency, disposal and a local colour map per frame.
  Make("anim.gif", "convert -seed 5 -delay 7 -size 96x64 plasma:fractal \\( +clone -roll +9+4 \\) "
                   "\\( +clone -roll +9+4 \\) \\( -size 96x64 xc:none -fill blue -draw 'circle 40,30 50,40' \\) "
                   "-loop 0 -layers OptimizeTransparency +map " + At("anim.gif"));
  Make("anim2.gif", "convert -delay 20 -size 50x40 xc:red -size 20x10 xc:lime -size 50x40 gradient: "
                    "-dispose Previous -loop 3 " + At("anim2.gif"));
  for (const auto& file : files_) ExpectSameAsGiflib(file);
}

TEST_F(GifOracle, GiflibPictures) {
  // giflib's own quantiser and encoder, then its editor rewriting the result
  // interlaced and with graphic control blocks.
  Make("in.rgb", "convert -seed 9 -size 333x222 plasma:fractal -depth 8 rgb:" + At("in.rgb"));
  // gif2rgb takes the colour count as a power of two.
  Make("g256.gif", "gif2rgb -c 8 -s 333 222 -1 " + At("in.rgb") + " > " + At("g256.gif"));
  Make("g8.gif", "gif2rgb -c 3 -s 333 222 -1 " + At("in.rgb") + " > " + At("g8.gif"));
  files_.erase(files_.begin());
  Make("g256i.gif", "giftool -i 1 < " + At("g256.gif") + " > " + At("g256i.gif"));
  Make("g8t.gif", "giftool -d 25 -x 2 < " + At("g8.gif") + " > " + At("g8t.gif"));
  for (const auto& file : files_) ExpectSameAsGiflib(file);
}

// Our own writer's output, streams that stretch the decoder (clear-less full
// tables, one-byte sub-blocks) and that giflib also reads.
TEST_F(GifOracle, StreamsFromOurWriter) {
  TRandom random(21);
  Bytes pixels(256 * 256);
  for (auto& p : pixels) p = static_cast<uint8_t>(random.Next() % 7 == 0 ? random.Next() : 3);
  const std::vector<TImage> images = {
      {.width = 256, .height = 256, .lzw = {.clearWhenFull = false}},
      {.width = 256, .height = 256, .interlaced = true, .blockSize = 1},
      {.left = 10, .top = 20, .width = 100, .height = 50, .localColors = 16, .codeSize = 4, .blockSize = 17},
  };
  int n = 0;
  for (TImage image : images) {
    Bytes frame(pixels.begin(), pixels.begin() + image.width * image.height);
    if (image.localColors)
      for (auto& p : frame) p &= 15;
    TGifBuilder b;
    b.Header(256, 256).Image(image, frame).Trailer();
    const auto path = dir_.Path() / ("own" + std::to_string(n++) + ".gif");
    WriteFile(path, b.Bytes_());
    ExpectSameAsGiflib(path);
  }
}

}  // namespace
}  // namespace gif::testing
