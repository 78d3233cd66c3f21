// Every damaged picture found so far, one file per fault: each loads or fails
// the way it should, and none crashes.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "test_support.h"

namespace gif::testing {
namespace {

struct TExpected {
  std::string error;  // empty: loads
  int frames;
  std::vector<std::string> warnings;
};

const std::map<std::string, TExpected>& Expectations() {
  static const std::map<std::string, TExpected> expected = {
      {"gif_huge_frame.gif", {"Image too large: a frame may hold at most 268435456 pixels", 0, {}}},
      {"gif_circular_table.gif", {"Circular decoder table entry", 0, {}}},
      {"gif_self_referencing_entry.gif", {"Circular decoder table entry", 0, {}}},
      {"gif_app_block_size_12.gif", {"Unsupported Application Extension block size", 0, {}}},
      {"gif_unknown_extension.gif", {"Unknown extension type", 1, {}}},
      {"gif_truncated_colormap.gif", {"Premature end of data", 0, {}}},
      {"gif_bad_signature.gif", {"Invalid GIF signature", 0, {}}},
      {"gif_loop_subblock_too_short.gif", {"Invalid GIF data", 0, {}}},
      {"gif_one_byte_subblocks.gif", {"", 1, {}}},
      {"gif_codes_after_last_pixel.gif", {"", 2, {}}},
      {"gif_end_code_first.gif", {"", 2, {}}},
      {"gif_frame_past_16bit_screen.gif", {"", 1, {}}},
      {"gif_code_beyond_next_entry.gif", {"", 1, {}}},
      {"gif_zero_sized_screen_and_frame.gif", {"", 2, {"Image exceeds Logical Screen size"}}},
      {"gif_interlaced_zero_width.gif", {"", 2, {"Image exceeds Logical Screen size"}}},
      {"gif_transparent_index_past_colormap.gif", {"", 1, {}}},
      {"gif_code_size_0.gif", {"", 1, {}}},
      {"gif_code_size_12.gif", {"", 1, {}}},
      {"gif_first_code_not_clear.gif", {"", 1, {}}},
      {"gif_tiny_huge_frames.gif", {"", 4, {}}},
      {"gif_cut_after_subblock.gif", {"", 1, {}}},
  };
  return expected;
}

TEST(GifMalformed, EachFileFailsOrLoadsAsExpected) {
  const auto folder = SourceDir() / "tests" / "data" / "malformed";
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("gif_", 0) != 0) continue;
    ++seen;
    const auto it = Expectations().find(name);
    ASSERT_NE(it, Expectations().end()) << name << " has no expectation";
    const Bytes bytes = ReadFile(entry.path());
    auto r = Load(bytes);
    EXPECT_EQ(r.error, it->second.error) << name;
    EXPECT_EQ(r.picture->Images().Count(), it->second.frames) << name;
    EXPECT_EQ(r.warnings, it->second.warnings) << name;
  }
  EXPECT_EQ(seen, static_cast<int>(Expectations().size()));
}

// Damage that decoding passes over silently unless asked to warn; the
// pixels are the same either way.
TEST(GifMalformed, DamagedDataIsReportedWhenAskedFor) {
  const std::map<std::string, std::vector<std::string>> damage = {
      {"gif_code_size_0.gif", {messages::BadCodeSize, messages::NoClearCode}},
      {"gif_code_size_12.gif", {messages::BadCodeSize, messages::NoClearCode, messages::MissingPixels}},
      {"gif_first_code_not_clear.gif", {messages::NoClearCode}},
      {"gif_code_beyond_next_entry.gif", {messages::CodeOutOfRange, messages::MissingPixels}},
      {"gif_cut_after_subblock.gif", {messages::MissingPixels}},
      {"gif_end_code_first.gif", {messages::MissingPixels}},
      {"gif_one_byte_subblocks.gif", {}},
      {"gif_codes_after_last_pixel.gif", {}},
  };
  const auto folder = SourceDir() / "tests" / "data" / "malformed";
  for (const auto& [name, expected] : damage) {
    const Bytes bytes = ReadFile(folder / name);
    TLoaded quiet = Load(bytes);
    TGIFPicture told;
    told.WarnOfDamagedData = true;
    std::vector<std::string> warnings;
    told.OnParseWarning = [&warnings](const TPersistent*, int, const std::string& m) { warnings.push_back(m); };
    TMemoryStream stream(bytes);
    told.LoadFromStream(stream);
    std::erase_if(warnings, [&quiet](const std::string& m) { return std::count(quiet.warnings.begin(), quiet.warnings.end(), m); });
    EXPECT_EQ(warnings, expected) << name;
    ASSERT_EQ(told.Images().Count(), quiet.picture->Images().Count()) << name;
    for (int i = 0; i < told.Images().Count(); ++i)
      EXPECT_EQ(FramePixels(told.Images()[i]), FramePixels(quiet.picture->Images()[i])) << name;
  }
}

TEST(GifMalformed, RepairedFaultsDecodeTheRightPixels) {
  const auto folder = SourceDir() / "tests" / "data" / "malformed";
  auto r = Load(ReadFile(folder / "gif_one_byte_subblocks.gif"));
  EXPECT_EQ(FramePixels(r.picture->Images()[0]), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  r = Load(ReadFile(folder / "gif_codes_after_last_pixel.gif"));
  EXPECT_EQ(FramePixels(r.picture->Images()[0]), (Bytes{1, 2}));
  EXPECT_EQ(FramePixels(r.picture->Images()[1]), (Bytes{1, 2}));
  r = Load(ReadFile(folder / "gif_end_code_first.gif"));
  EXPECT_EQ(FramePixels(r.picture->Images()[0]), (Bytes{0, 0}));
  r = Load(ReadFile(folder / "gif_zero_sized_screen_and_frame.gif"));
  EXPECT_TRUE(r.picture->Images()[0].Empty());
  EXPECT_EQ(r.picture->Width(), 2);
  r = Load(ReadFile(folder / "gif_frame_past_16bit_screen.gif"));
  EXPECT_EQ(r.picture->Width(), 65537);

  // Dithered, the transparent pixels past the map are not looked up.
  r = Load(ReadFile(folder / "gif_transparent_index_past_colormap.gif"));
  r.picture->OnParseWarning = [&r](const TPersistent*, int, const std::string& m) { r.warnings.push_back(m); };
  r.picture->PaintOptions = TGIFPaintOptions().Without(ptAutoDither);
  EXPECT_NE(r.picture->Images()[0].Bitmap(), nullptr);
  EXPECT_EQ(r.warnings, std::vector<std::string>{});
}

}  // namespace
}  // namespace gif::testing
