// The block structure: signature, frame sequence, extensions, registries,
// tolerance of stray bytes, and what a failed load leaves behind.
#include <gtest/gtest.h>

#include <cstring>

#include "gif/picture.h"
#include "test_support.h"

namespace gif::testing {
namespace {

using Strings = std::vector<std::string>;
using ByteList = std::vector<uint8_t>;

const std::vector<uint8_t> kFourPixels = {1, 2, 3, 0};

// A 2 x 2 picture with one frame.
TGifBuilder OneFrame(const char* signature = "GIF89a") {
  TGifBuilder b;
  b.Header(2, 2, 4, 0, signature).Image({.width = 2, .height = 2, .codeSize = 2}, kFourPixels);
  return b;
}

TEST(GifParser, LoadsHeaderAndFrame) {
  TGifBuilder b = OneFrame();
  auto r = Load(b.Trailer().Bytes_());
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(r.warnings.empty());
  const TGIFPicture& p = *r.picture;
  EXPECT_EQ(p.Width(), 2);
  EXPECT_EQ(p.Height(), 2);
  EXPECT_EQ(std::string(p.Header().Signature.begin(), p.Header().Signature.end()), "GIF89a");
  EXPECT_EQ(p.Header().ColorMap().Count(), 4);
  EXPECT_EQ(p.Header().ColorMap().Color(3), (TGIFColor{255, 255, 255}));
  ASSERT_EQ(p.Images().Count(), 1);
  EXPECT_EQ(FramePixels(p.Images()[0]), kFourPixels);
  EXPECT_EQ(&p.Images()[0].ActiveColorMap(), &p.Header().ColorMap());
}

TEST(GifParser, SignatureMayBeLowerCaseOrFollowFourBytesOfPrefix) {
  for (const char* signature : {"gif89a", "GiF87a", "GIF12x"}) {
    TGifBuilder b = OneFrame(signature);
    auto r = Load(b.Trailer().Bytes_());
    EXPECT_EQ(r.error, "") << signature;
    EXPECT_EQ(r.picture->Images().Count(), 1) << signature;
  }
  TGifBuilder prefixed;
  prefixed.Raw({0xDE, 0xAD, 0xBE, 0xEF}).Raw(OneFrame().Trailer().Bytes_());
  auto r = Load(prefixed.Bytes_());
  EXPECT_EQ(r.error, "");
  EXPECT_TRUE(r.warnings.empty());
  EXPECT_EQ(FramePixels(r.picture->Images()[0]), kFourPixels);

  // Five bytes of prefix are one too many; so is a prefix of three.
  for (int prefix : {3, 5}) {
    TGifBuilder b;
    for (int i = 0; i < prefix; ++i) b.Raw({'x'});
    b.Raw(OneFrame().Trailer().Bytes_());
    EXPECT_EQ(Load(b.Bytes_()).error, "Invalid GIF signature") << prefix;
  }
  EXPECT_EQ(Load(std::vector<uint8_t>{'G', 'I', 'F'}).error, "Premature end of data");
}

TEST(GifParser, FailedLoadRestoresTheStreamAndKeepsEarlierFrames) {
  TGifBuilder b;
  b.Raw({'j', 'u', 'n', 'k', 'j', 'u', 'n', 'k'});  // the caller's bytes before the GIF
  b.Raw(OneFrame().Bytes_()).Raw({0x21, 0x77, 0x00}).Trailer();
  TGIFPicture picture;
  int lastPercent = -1;
  std::vector<TProgressStage> stages;
  picture.OnProgress = [&](TGIFPicture&, TProgressStage stage, int percent, const std::string& message) {
    EXPECT_EQ(message, "Loading...");
    stages.push_back(stage);
    lastPercent = percent;
  };
  TMemoryStream stream(b.Bytes_());
  stream.SetPosition(8);
  try {
    picture.LoadFromStream(stream);
    FAIL() << "loaded";
  } catch (const EGIFError& e) {
    EXPECT_STREQ(e.what(), "Unknown extension type");
  }
  EXPECT_EQ(stream.Position(), 8);
  EXPECT_EQ(picture.Images().Count(), 1);
  EXPECT_EQ(stages, (std::vector<TProgressStage>{TProgressStage::psStarting, TProgressStage::psRunning,
                                                 TProgressStage::psEnding}));
  EXPECT_EQ(lastPercent, 0);

  // A second load replaces everything, and a good one ends at 100 %.
  TGifBuilder good = OneFrame();
  TMemoryStream goodStream(good.Trailer().Bytes_());
  picture.LoadFromStream(goodStream);
  EXPECT_EQ(picture.Images().Count(), 1);
  EXPECT_EQ(lastPercent, 100);
  EXPECT_EQ(goodStream.Position(), goodStream.Size());
}

TEST(GifParser, TruncatedStructuresFailWithPrematureEnd) {
  const std::vector<uint8_t> whole = OneFrame().Trailer().Take();
  // Signature, screen descriptor, global map (12 bytes), image descriptor.
  for (size_t cut : {5u, 12u, 20u, 28u, 34u}) {
    auto r = Load(std::span(whole).first(cut));
    EXPECT_EQ(r.error, "Premature end of data") << cut;
  }
}

TEST(GifParser, StrayBytesBetweenBlocks) {
  // Zero bytes between frames are skipped.
  TGifBuilder zeros;
  zeros.Raw(OneFrame().Bytes_()).Raw({0, 0, 0});
  zeros.Image({.width = 2, .height = 2, .codeSize = 2}, kFourPixels).Raw({0}).Trailer();
  auto r = Load(zeros.Bytes_());
  EXPECT_EQ(r.error, "");
  EXPECT_TRUE(r.warnings.empty());
  EXPECT_EQ(r.picture->Images().Count(), 2);

  // An unknown block ends the sequence; the trailer check then sees it too.
  TGifBuilder unknown;
  unknown.Raw(OneFrame().Bytes_()).Raw({0x55}).Raw(OneFrame().Bytes_()).Trailer();
  r = Load(unknown.Bytes_());
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.warnings, (Strings{"Unknown GIF block type", "Invalid Image trailer"}));
  EXPECT_EQ(r.picture->Images().Count(), 1);

  // A zero after an extension ends that frame's extensions: the frame stays,
  // empty, holding what was read; the next frame is read as usual.
  TGifBuilder afterExtension;
  afterExtension.Header(2, 2, 4).Comment("hello").Raw({0});
  afterExtension.Image({.width = 2, .height = 2, .codeSize = 2}, kFourPixels).Trailer();
  r = Load(afterExtension.Bytes_());
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.warnings, (Strings{"Invalid extension introducer"}));
  ASSERT_EQ(r.picture->Images().Count(), 2);
  const TGIFFrame& empty = r.picture->Images()[0];
  EXPECT_TRUE(empty.Empty());
  ASSERT_EQ(empty.Extensions().Count(), 1);
  EXPECT_EQ(dynamic_cast<const TGIFCommentExtension&>(empty.Extensions()[0]).Text, (Strings{"hello"}));
  EXPECT_FALSE(r.picture->Images()[1].Empty());
}

TEST(GifParser, EndsWithoutTrailerOrWithExtensionsAfterTheLastImage) {
  auto r = Load(OneFrame().Take());
  EXPECT_EQ(r.error, "");
  EXPECT_TRUE(r.warnings.empty());
  EXPECT_EQ(r.picture->Images().Count(), 1);

  TGifBuilder tail = OneFrame();
  tail.Comment("after").Trailer();
  r = Load(tail.Bytes_());
  EXPECT_EQ(r.error, "");
  EXPECT_TRUE(r.warnings.empty());
  ASSERT_EQ(r.picture->Images().Count(), 2);
  EXPECT_TRUE(r.picture->Images()[1].Empty());
  EXPECT_EQ(r.picture->Images()[1].Extensions().Count(), 1);
}

TEST(GifParser, SeveralGraphicControlExtensions) {
  TGifBuilder b;
  b.Header(2, 2, 4);
  b.GraphicControl(0x04, 7, 3);         // keep, not transparent, delay 7
  b.GraphicControl(0x09, 50, 2);        // background, transparent
  b.Image({.width = 2, .height = 2, .codeSize = 2}, kFourPixels).Trailer();
  auto r = Load(b.Bytes_());
  ASSERT_EQ(r.error, "");
  const TGIFFrame& f = r.picture->Images()[0];
  EXPECT_TRUE(f.Transparent);
  ASSERT_NE(f.GraphicControlExtension, nullptr);
  EXPECT_EQ(f.GraphicControlExtension, &f.Extensions()[0]);
  EXPECT_EQ(f.GraphicControlExtension->Delay(), 7);
  EXPECT_EQ(f.TransparentColorIndex(), 3);
  EXPECT_EQ(f.GraphicControlExtension->Disposal(), dispKeep);

  // Deleting the first leaves the second in charge.
  TGIFFrame& frame = r.picture->Images()[0];
  frame.Extensions().Delete(0);
  EXPECT_EQ(frame.GraphicControlExtension->Delay(), 50);

  // A body cut short by the end of the stream is kept with a warning.
  TGifBuilder cut;
  cut.Header(2, 2, 4).Raw({0x21, 0xF9, 4, 1, 9});
  r = Load(cut.Bytes_());
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.warnings, (Strings{"Premature end of data"}));
  ASSERT_EQ(r.picture->Images().Count(), 1);
  const TGIFFrame& partial = r.picture->Images()[0];
  EXPECT_EQ(partial.GraphicControlExtension->Delay(), 9);
  EXPECT_FALSE(partial.Transparent);
}

const uint8_t* Id(const char* text) { return reinterpret_cast<const uint8_t*>(text); }

TEST(GifParser, ApplicationBlocksByIdentifierAndSize) {
  TGifBuilder b;
  b.Header(2, 2, 4);
  b.Raw({0x21, 0xFF, 11}).Raw(std::span(Id("ANIMEXTS1.0"), 11)).Raw({5, 9, 3, 0, 0, 0, 0});  // id 9: loop count
  b.Raw({0x21, 0xFF, 11}).Raw(std::span(Id("NETSCAPE2.0"), 11)).Raw({5, 2, 0x10, 0x20, 0, 0, 3, 7, 0, 0, 0});
  b.Raw({0x21, 0xFF, 10}).Raw(std::span(Id("XMP DataXY"), 10)).Raw({2, 'a', 'b', 1, 'c', 0});
  b.Raw({0x21, 0xFF, 11}).Raw(std::span(Id("ICCRGBG1012"), 11)).Raw({3, 1, 2, 3, 0});
  b.Image({.width = 2, .height = 2, .codeSize = 2}, kFourPixels).Trailer();
  auto r = Load(b.Bytes_());
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(r.warnings.empty());
  const TGIFExtensionList& ext = r.picture->Images()[0].Extensions();
  ASSERT_EQ(ext.Count(), 4);
  EXPECT_EQ(dynamic_cast<const TGIFLoopExtension&>(ext[0]).Loops, 3);
  const auto& netscape = dynamic_cast<const TGIFLoopExtension&>(ext[1]);
  EXPECT_EQ(netscape.BufferSize, 0x2010u);
  EXPECT_EQ(netscape.Loops, 0);
  const auto& ten = dynamic_cast<const TGIFUnknownAppExtension&>(ext[2]);
  EXPECT_EQ(ten.Identifier[9], 'Y');
  EXPECT_EQ(ten.Identifier[10], 0);
  ASSERT_EQ(ten.Blocks.size(), 2u);
  EXPECT_EQ(ten.Blocks[1].Data, (ByteList{'c'}));
  const auto& icc = dynamic_cast<const TGIFUnknownAppExtension&>(ext[3]);
  EXPECT_EQ(icc.IdentifierText(), "ICCRGBG1012");
  EXPECT_EQ(icc.Blocks[0].Data, (ByteList{1, 2, 3}));
}

TEST(GifParser, ApplicationBlocksThatCannotBeRead) {
  const auto load = [](std::initializer_list<int> block) {
    TGifBuilder b;
    b.Header(2, 2, 4).Raw(block);
    return Load(b.Bytes_()).error;
  };
  // Below 10.
  EXPECT_EQ(load({0x21, 0xFF, 9, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 0}),
            "Unsupported Application Extension block size");
  EXPECT_EQ(load({0x21, 0xFF, 0, 0}), "Unsupported Application Extension block size");
  // Above 11: the data after the identifier cannot be told apart.
  EXPECT_EQ(load({0x21, 0xFF, 12, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 'x', 3, 1, 0, 0, 0}),
            "Unsupported Application Extension block size");
  // A looping sub-block too short for its id.
  EXPECT_EQ(load({0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 2, 1, 0, 0}),
            "Invalid GIF data");
  EXPECT_EQ(load({0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 4, 2, 0, 0, 0, 0}),
            "Invalid GIF data");
  // Cut inside the identifier.
  EXPECT_EQ(load({0x21, 0xFF, 11, 'N', 'E', 'T'}), "Premature end of data");
  EXPECT_EQ(load({0x21, 0xFF, 10, 'N', 'E', 'T'}), "Premature end of data");
  EXPECT_EQ(load({0x21, 0xFF}), "Premature end of data");
  EXPECT_EQ(load({0x21}), "Unknown extension type");
}

TEST(GifParser, TextExtensions) {
  TGifBuilder b;
  b.Header(2, 2, 4);
  b.Raw({0x21, 0xFE, 5, 'o', 'n', 0, 'e', '!', 3, 't', 'w', 'o', 0});
  b.Raw({0x21, 0x01, 12, 1, 0, 2, 0, 30, 0, 40, 0, 8, 16, 1, 0, 2, 'h', 'i', 0});
  b.Image({.width = 2, .height = 2, .codeSize = 2}, kFourPixels).Trailer();
  auto r = Load(b.Bytes_());
  ASSERT_EQ(r.error, "");
  const TGIFExtensionList& ext = r.picture->Images()[0].Extensions();
  ASSERT_EQ(ext.Count(), 2);
  EXPECT_EQ(dynamic_cast<const TGIFCommentExtension&>(ext[0]).Text, (Strings{"on", "two"}));
  const auto& text = dynamic_cast<const TGIFTextExtension&>(ext[1]);
  EXPECT_EQ(text.Data.Width, 30);
  EXPECT_EQ(text.Data.CellHeight, 16);
  EXPECT_EQ(text.Data.TextColorIndex, 1);
  EXPECT_EQ(text.Text, (Strings{"hi"}));
  EXPECT_EQ(ext[1].Version(), 2);
}

TEST(GifParser, ExtensionHeaderIsChecked) {
  TGIFPicture picture;
  TGIFFrame frame(picture);
  TGIFCommentExtension comment(frame);
  TMemoryStream wrongIntroducer(std::vector<uint8_t>{0x22, 0xFE, 0});
  EXPECT_THROW(
      {
        try {
          comment.LoadFromStream(wrongIntroducer);
        } catch (const EGIFError& e) {
          EXPECT_STREQ(e.what(), "Invalid extension introducer");
          throw;
        }
      },
      EGIFError);
  TMemoryStream wrongLabel(std::vector<uint8_t>{0x21, 0xF9, 0});
  try {
    comment.LoadFromStream(wrongLabel);
    FAIL();
  } catch (const EGIFError& e) {
    EXPECT_STREQ(e.what(), "Internal error: Extension Instance does not match Extension Label");
  }
}

// A class of our own, registered late, wins over the built-in one.
class TTaggedComment final : public TGIFExtension {
 public:
  using TGIFExtension::TGIFExtension;
  static const TGIFExtensionClass& StaticClass() {
    static const TGIFExtensionClass cls{
        "TTaggedComment", [](TGIFFrame& f) -> std::unique_ptr<TGIFExtension> { return std::make_unique<TTaggedComment>(f); },
        [](const TGIFExtensionClass& self, TStream&) { return &self; }};
    return cls;
  }
  uint8_t ExtensionType() const override { return 0x02; }
  const TGIFExtensionClass& Class() const override { return StaticClass(); }
  int bytes = 0;

 protected:
  void LoadBody(TStream& stream) override {
    uint8_t size;
    while (stream.Read(&size, 1) == 1 && size) {
      bytes += size;
      stream.SetPosition(stream.Position() + size);
    }
  }
};

TEST(GifParser, RegistriesFindTheLastRegisteredClass) {
  TGifBuilder b;
  b.Header(2, 2, 4).Raw({0x21, 0x02, 3, 1, 2, 3, 0}).Image({.width = 2, .height = 2, .codeSize = 2}, kFourPixels);
  EXPECT_EQ(Load(b.Bytes_()).error, "Unknown extension type");
  TExtensionList::Instance().Add(0x02, TTaggedComment::StaticClass());
  auto r = Load(b.Bytes_());
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(dynamic_cast<const TTaggedComment&>(r.picture->Images()[0].Extensions()[0]).bytes, 3);

  TGifBuilder app;
  app.Header(2, 2, 4).Raw({0x21, 0xFF, 11}).Raw(std::span(Id("ROVENDAPP01"), 11)).Raw({3, 1, 5, 0, 0});
  r = Load(app.Bytes_());
  EXPECT_NE(dynamic_cast<const TGIFUnknownAppExtension*>(&r.picture->Images()[0].Extensions()[0]), nullptr);
  TAppExtensionList::Instance().Add("ROVENDAPP01", TGIFLoopExtension::StaticClass());
  r = Load(app.Bytes_());
  EXPECT_EQ(dynamic_cast<const TGIFLoopExtension&>(r.picture->Images()[0].Extensions()[0]).Loops, 5);
}

TEST(GifParser, FrameSizesAndTheLogicalScreen) {
  // Width 0 takes the logical screen's size, with one warning.
  TGifBuilder zero;
  zero.Header(3, 2, 4).Descriptor(0, 0, 0, 1, 0);
  zero.Raw({2}).Raw(SubBlocks(LzwEncode(std::vector<uint8_t>(6, 2), 2))).Trailer();
  auto r = Load(zero.Bytes_());
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.warnings, (Strings{"Image exceeds Logical Screen size"}));
  const TGIFFrame& f = r.picture->Images()[0];
  EXPECT_EQ(f.Width(), 3);
  EXPECT_EQ(f.Height(), 2);
  EXPECT_EQ(FramePixels(f), std::vector<uint8_t>(6, 2));

  // A frame partly outside the logical screen widens it after loading, also
  // past what 16 bits hold.
  TGifBuilder outside;
  outside.Header(4, 4, 4).Image({.left = 3, .top = 1, .width = 2, .height = 4, .codeSize = 2}, std::vector<uint8_t>(8, 1));
  outside.Image({.left = 65000, .top = 0, .width = 1000, .height = 1, .codeSize = 2}, std::vector<uint8_t>(1000, 1));
  outside.Trailer();
  r = Load(outside.Bytes_());
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(r.warnings.empty());
  EXPECT_EQ(r.picture->Width(), 66000);
  EXPECT_EQ(r.picture->Height(), 5);
}

TEST(GifParser, LocalColorMapAndTransparentFill) {
  TGifBuilder b;
  b.Header(2, 2, 0).GraphicControl(0x01, 0, 3);
  b.Image({.width = 2, .height = 2, .localColors = 8, .codeSize = 3}, std::vector<uint8_t>{7, 6, 5, 4});
  auto r = Load(b.Trailer().Bytes_());
  ASSERT_EQ(r.error, "");
  const TGIFFrame& f = r.picture->Images()[0];
  EXPECT_EQ(&f.ActiveColorMap(), &f.ColorMap());
  EXPECT_EQ(f.ColorMap().Count(), 8);
  EXPECT_TRUE(f.Transparent);
  EXPECT_EQ(FramePixels(f), (std::vector<uint8_t>{7, 6, 5, 4}));

  // No map at all: the active map is the empty local one.
  TGifBuilder none;
  none.Header(2, 2, 0).Image({.width = 2, .height = 2, .codeSize = 2}, kFourPixels);
  r = Load(none.Bytes_());
  EXPECT_TRUE(r.picture->Images()[0].ActiveColorMap().Empty());
}

}  // namespace
}  // namespace gif::testing
