// The LZW decoder: codes across sub-blocks, table growth, damaged data, and
// where it leaves the stream.
#include <gtest/gtest.h>

#include "gif/lzw.h"
#include "test_support.h"

namespace gif::testing {
namespace {

using Strings = std::vector<std::string>;

Bytes Pattern(size_t n, unsigned colors, uint32_t seed, unsigned runs) {
  // Runs of random length and colour, so that strings of every length occur.
  TRandom random(seed);
  Bytes out;
  while (out.size() < n) {
    const auto value = static_cast<uint8_t>(random.Next() % colors);
    const size_t run = 1 + random.Next() % runs;
    for (size_t i = 0; i < run && out.size() < n; ++i) out.push_back(value);
  }
  return out;
}

struct TCase {
  unsigned codeSize;
  size_t blockSize;
  bool interlaced;
  bool clearWhenFull;
};

class GifLzwRoundTrip : public ::testing::TestWithParam<TCase> {};

TEST_P(GifLzwRoundTrip, DecodesWhatWasEncoded) {
  const TCase c = GetParam();
  const unsigned colors = 1u << c.codeSize;
  for (const auto& [width, height] : std::vector<std::pair<uint16_t, uint16_t>>{{1, 1}, {7, 3}, {61, 47}, {300, 200}}) {
    const Bytes pixels = Pattern(size_t{width} * height, colors, width * 31 + height, c.codeSize * 3);
    TGifBuilder b;
    b.Header(width, height, static_cast<int>(std::max(colors, 2u)));
    b.Image({.width = width, .height = height, .interlaced = c.interlaced, .codeSize = c.codeSize,
             .blockSize = c.blockSize, .lzw = {.clearWhenFull = c.clearWhenFull}},
            pixels);
    b.Image({.width = 2, .height = 1, .codeSize = 2}, Bytes{3, 1}).Trailer();
    auto r = Load(b.Bytes_());
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.warnings, Strings{});
    ASSERT_EQ(r.picture->Images().Count(), 2);
    EXPECT_EQ(FramePixels(r.picture->Images()[0]), pixels) << width << "x" << height;
    EXPECT_EQ(FramePixels(r.picture->Images()[1]), (Bytes{3, 1}));
  }
}

// Sub-blocks of one byte make codes of 9 bits and more span three blocks.
INSTANTIATE_TEST_SUITE_P(All, GifLzwRoundTrip,
                         ::testing::Values(TCase{8, 255, false, true}, TCase{8, 1, false, true},
                                           TCase{8, 2, true, true}, TCase{8, 255, false, false},
                                           TCase{2, 7, false, true}, TCase{2, 255, true, false},
                                           TCase{4, 1, true, false}, TCase{5, 100, false, true}));

// One frame of width x height decoded straight from bytes that start at the
// initial code size.
struct TDecoded {
  Bytes pixels;
  Strings warnings;
  int64_t position;
};

TDecoded Decode(uint16_t width, uint16_t height, const Bytes& data, int transparentIndex = -1) {
  TGIFPicture picture;
  TDecoded out;
  picture.OnParseWarning = [&out](const TPersistent*, int, const std::string& message) {
    out.warnings.push_back(message);
  };
  TGIFFrame frame(picture);
  frame.Descriptor.Width = width;
  frame.Descriptor.Height = height;
  if (transparentIndex >= 0) {
    auto& gce = static_cast<TGIFGraphicControlExtension&>(
        frame.Extensions().Add(std::make_unique<TGIFGraphicControlExtension>(frame)));
    gce.Data.TransparentColorIndex = static_cast<uint8_t>(transparentIndex);
    frame.GraphicControlExtension = &gce;
    frame.Transparent = true;
  }
  TMemoryStream stream(data);
  DecodeRaster(frame, stream);
  out.pixels = FramePixels(frame);
  out.position = stream.Position();
  return out;
}

Bytes CodeBytes(unsigned codeSize, std::initializer_list<std::pair<unsigned, unsigned>> codes, size_t blockSize = 255) {
  return TGifBuilder().Codes(codeSize, codes, blockSize).Take();
}

TEST(GifLzw, StringBeingDefinedAndRepeatedClears) {
  // Code 6 is the next free entry when it arrives: "1" then "1" + "1".
  auto d = Decode(3, 1, CodeBytes(2, {{4, 3}, {1, 3}, {6, 3}, {5, 3}}));
  EXPECT_EQ(d.pixels, (Bytes{1, 1, 1}));
  // A clear right after the implicit one, and one in the middle.
  d = Decode(4, 1, CodeBytes(2, {{4, 3}, {4, 3}, {1, 3}, {2, 3}, {4, 3}, {3, 3}, {6, 3}, {5, 3}}));
  EXPECT_EQ(d.pixels, (Bytes{1, 2, 3, 3}));
  EXPECT_EQ(d.warnings, Strings{});
}

TEST(GifLzw, CodeSizeAboveEightCountsAsEight) {
  const Bytes pixels = Pattern(500, 256, 9, 4);
  Bytes data = TGifBuilder().Raw({9}).Raw(SubBlocks(LzwEncode(pixels, 8))).Take();
  EXPECT_EQ(Decode(50, 10, data).pixels, pixels);
  data[0] = 12;
  EXPECT_EQ(Decode(50, 10, data).pixels, pixels);
}

TEST(GifLzw, InterlacedRowsOfEveryHeight) {
  for (uint16_t height = 1; height <= 9; ++height) {
    Bytes pixels;
    for (uint16_t row = 0; row < height; ++row) pixels.insert(pixels.end(), 3, static_cast<uint8_t>(row));
    TGifBuilder b;
    b.Header(3, height).Image({.width = 3, .height = height, .interlaced = true}, pixels).Trailer();
    auto r = Load(b.Bytes_());
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(FramePixels(r.picture->Images()[0]), pixels) << height;
  }
}

TEST(GifLzw, StopsAtTheEndOfTheDataAndKeepsTheFillValue) {
  // 7-bit codes ending in the middle of the last byte: what is left is no
  // code, and nothing is said.
  auto d = Decode(6, 1, CodeBytes(6, {{64, 7}, {1, 7}, {2, 7}}), 9);
  EXPECT_EQ(d.pixels, (Bytes{1, 2, 9, 9, 9, 9}));
  EXPECT_EQ(d.warnings, Strings{});
  // 8-bit codes use up every bit: asking for another one is an under-run.
  d = Decode(6, 1, CodeBytes(7, {{128, 8}, {1, 8}, {2, 8}}), 9);
  EXPECT_EQ(d.pixels, (Bytes{1, 2, 9, 9, 9, 9}));
  EXPECT_EQ(d.warnings, Strings{"Decoder bit buffer under-run"});
  // No transparency: the fill is 0.
  d = Decode(4, 1, CodeBytes(7, {{128, 8}, {7, 8}}));
  EXPECT_EQ(d.pixels, (Bytes{7, 0, 0, 0}));
  // No data at all, not even the code size.
  d = Decode(2, 2, {}, 4);
  EXPECT_EQ(d.pixels, (Bytes{4, 4, 4, 4}));
  EXPECT_EQ(d.warnings, Strings{});
}

TEST(GifLzw, SubBlockLongerThanTheStream) {
  Bytes data = CodeBytes(7, {{128, 8}, {1, 8}, {2, 8}, {3, 8}});
  data.resize(data.size() - 1);  // drop the terminator...
  data[1] = 200;                 // ...and claim far more than there is
  auto d = Decode(5, 1, data);
  EXPECT_EQ(d.pixels, (Bytes{1, 2, 3, 0, 0}));
  EXPECT_EQ(d.warnings, Strings{"Premature end of data"});
  EXPECT_EQ(d.position, static_cast<int64_t>(data.size()));
}

TEST(GifLzw, LeavesTheStreamAfterTheFramesData) {
  // End code right after the last pixel, in a first sub-block, then a second
  // sub-block nobody needs: the stream ends up after the terminator.
  Bytes data = CodeBytes(7, {{128, 8}, {1, 8}, {2, 8}, {129, 8}}, 2);
  const size_t end = data.size();
  data.insert(data.end(), {0x3B, 0x3B});
  auto d = Decode(2, 1, data);
  EXPECT_EQ(d.pixels, (Bytes{1, 2}));
  EXPECT_EQ(d.position, static_cast<int64_t>(end));

  // Codes past the last pixel are skipped too, not read as blocks.
  data = CodeBytes(7, {{128, 8}, {1, 8}, {2, 8}, {3, 8}, {4, 8}, {129, 8}});
  d = Decode(2, 1, data);
  EXPECT_EQ(d.pixels, (Bytes{1, 2}));
  EXPECT_EQ(d.position, static_cast<int64_t>(data.size()));
  // Likewise a last string that runs past the end of the frame.
  d = Decode(3, 1, CodeBytes(2, {{4, 3}, {1, 3}, {1, 3}, {6, 3}, {5, 3}}));
  EXPECT_EQ(d.pixels, (Bytes{1, 1, 1}));
  EXPECT_EQ(d.warnings, Strings{});

  // The end code before the last pixel: the rest keeps the fill value.
  data = CodeBytes(7, {{128, 8}, {1, 8}, {129, 8}, {5, 8}});
  d = Decode(3, 1, data, 6);
  EXPECT_EQ(d.pixels, (Bytes{1, 6, 6}));
  EXPECT_EQ(d.position, static_cast<int64_t>(data.size()));
  // Even as the first code: it ends decoding instead of becoming a pixel.
  data = CodeBytes(7, {{128, 8}, {129, 8}});
  d = Decode(3, 1, data, 6);
  EXPECT_EQ(d.pixels, (Bytes{6, 6, 6}));
  EXPECT_EQ(d.position, static_cast<int64_t>(data.size()));
}

TEST(GifLzw, TableFullWithoutClear) {
  // Enough distinct pairs to fill the table several times over.
  const Bytes pixels = Pattern(200000, 256, 77, 2);
  const Bytes data = TGifBuilder().Raw({8}).Raw(SubBlocks(LzwEncode(pixels, 8, {.clearWhenFull = false}))).Take();
  auto d = Decode(400, 500, data);
  EXPECT_EQ(d.pixels, pixels);
  EXPECT_EQ(d.warnings, Strings{});
}

TEST(GifLzw, CodesBeyondTheNextFreeEntry) {
  // Code 12 is two past the next free entry (10): it stands for the previous
  // string and its first pixel, like the entry being defined.
  auto d = Decode(6, 1, CodeBytes(3, {{8, 4}, {1, 4}, {12, 4}, {2, 4}, {9, 4}}));
  EXPECT_EQ(d.pixels, (Bytes{1, 1, 1, 2, 0, 0}));
  EXPECT_EQ(d.warnings, Strings{});
}

TEST(GifLzw, TableEntriesThatLoop) {
  // Entry 11 ends up its own prefix.
  try {
    Decode(100, 1, CodeBytes(3, {{8, 4}, {1, 4}, {11, 4}, {11, 4}, {11, 4}, {9, 4}}));
    FAIL() << "decoded";
  } catch (const EGIFError& e) {
    EXPECT_STREQ(e.what(), "Circular decoder table entry");
  }
  // Entries 11 and 12 end up each other's prefix: a loop the self-reference
  // test does not see, stopped before the output stack overflows.
  try {
    Decode(100, 1, CodeBytes(3, {{8, 4}, {1, 4}, {12, 4}, {11, 4}, {1, 4}, {11, 4}, {9, 4}}));
    FAIL() << "decoded";
  } catch (const EGIFError& e) {
    EXPECT_STREQ(e.what(), "Circular decoder table entry");
  }
}

TEST(GifLzw, SizeLimits) {
  // 65535 x 65535 would be 4 GiB of indices: refused before allocating.
  TGifBuilder huge;
  huge.Header(10, 10).Descriptor(0, 0, 65535, 65535, 0).Raw({8, 0}).Trailer();
  auto r = Load(huge.Bytes_());
  EXPECT_EQ(r.error, "Image too large: a frame may hold at most 268435456 pixels");
  // So is a picture whose frames add up past the limit for the whole.
  TGifBuilder many;
  many.Header(16384, 16384);
  for (int i = 0; i < 5; ++i) many.Descriptor(0, 0, 16384, 16384, 0).Raw({8, 0});
  r = Load(many.Bytes_());
  EXPECT_EQ(r.error, "Image too large: the frames of a picture may hold at most 1073741824 pixels in all");
  EXPECT_EQ(r.picture->Images().Count(), 4);
  // A caller may lower the limit for the whole picture.
  TGIFPicture small;
  small.PixelLimit = 100;
  TGifBuilder two;
  two.Header(10, 10).Descriptor(0, 0, 10, 10, 0).Raw({8, 0}).Descriptor(0, 0, 1, 1, 0).Raw({8, 0});
  TMemoryStream stream(two.Bytes_());
  try {
    small.LoadFromStream(stream);
    FAIL();
  } catch (const EGIFError& e) {
    EXPECT_STREQ(e.what(), "Image too large: the frames of a picture may hold at most 100 pixels in all");
  }
  EXPECT_EQ(small.Images().Count(), 1);
}

// A frame far larger than its data can fill holds only what the data
// yields; its pixels read as the Part's whole buffer would, the rest being
// the fill index, interlaced or not.
TEST(GifLzw, FrameLargerThanItsDataCanFillHoldsWhatItDecodes) {
  constexpr uint16_t kWidth = 64, kHeight = 65535;
  Bytes start;
  for (uint8_t value : {1, 2, 3}) start.insert(start.end(), 100, value);
  for (const bool interlaced : {false, true}) {
    SCOPED_TRACE(interlaced);
    TGifBuilder b;
    b.Header(kWidth, kHeight, 4).GraphicControl(1, 0, 0);
    b.Descriptor(0, 0, kWidth, kHeight, interlaced ? 0x40 : 0);
    Bytes data = LzwEncode(start, 2);
    data.pop_back();  // no end code: the data just stops
    b.Raw({2}).Raw(SubBlocks(data)).Trailer();
    auto r = Load(b.Bytes_());
    ASSERT_EQ(r.error, "");
    const TGIFFrame& frame = r.picture->Images()[0];
    ASSERT_EQ(frame.FillIndex(), 0);
    // Rows as the Part's decoder leaves them: the decoded pixels in stream
    // order, then the fill, with interlaced stream rows 0, 1, ... at display
    // rows 0, 8, ...
    std::vector<int> seen(kHeight, 0);
    int madeRows = 0;  // only rows the data reached are held
    frame.ForEachRow([&](int y, const uint8_t* row) {
      ++seen[y];
      madeRows += row != nullptr;
      const size_t streamRow = interlaced ? (y % 8 == 0 ? y / 8 : kHeight) : y;
      for (size_t x = 0; x < kWidth; ++x) {
        const size_t k = streamRow * kWidth + x;
        const uint8_t expected = k < start.size() ? start[k] : 0;
        ASSERT_EQ(row ? row[x] : frame.FillIndex(), expected) << y << ", " << x;
      }
    });
    EXPECT_EQ(seen, std::vector<int>(kHeight, 1));
    EXPECT_EQ(madeRows, 5);
    // The whole buffer, when asked for, says the same.
    const auto pixels = frame.Pixels();
    ASSERT_EQ(pixels.size(), size_t{kWidth} * kHeight);
    EXPECT_EQ(pixels[(interlaced ? 8 : 1) * kWidth + 1], start[kWidth + 1]);
    EXPECT_EQ(pixels[kWidth * 4], interlaced ? 0 : start[kWidth * 4]);
  }
}

}  // namespace
}  // namespace gif::testing
