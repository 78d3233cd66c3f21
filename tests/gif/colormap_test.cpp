// Colour tables: growth, bounds and the colour values handed to drawing.
#include <gtest/gtest.h>

#include "gif/colormap.h"
#include "test_support.h"

namespace gif::testing {
namespace {

TEST(GifColorMap, GrowsInSteps) {
  TGIFPicture picture;
  TGIFColorMap map(picture);
  EXPECT_EQ(map.BitsPerPixel(), 0);
  map.Add({1, 2, 3});
  EXPECT_EQ(map.Capacity(), 16);
  EXPECT_EQ(map.BitsPerPixel(), 1);
  for (int i = 1; i < 17; ++i) map.Add({static_cast<uint8_t>(i), 0, 0});
  EXPECT_EQ(map.Count(), 17);
  EXPECT_EQ(map.Capacity(), 32);
  EXPECT_EQ(map.BitsPerPixel(), 5);
  while (map.Count() < 33) map.Add({});
  EXPECT_EQ(map.Capacity(), 64);
  while (map.Count() < 256) map.Add({});
  EXPECT_EQ(map.Capacity(), 256);
  EXPECT_EQ(map.BitsPerPixel(), 8);
  try {
    map.Add({});
    FAIL();
  } catch (const EGIFError& e) {
    EXPECT_STREQ(e.what(), "Color table overflow");
  }
}

TEST(GifColorMap, LookupsOutsideTheMap) {
  TGIFPicture picture;
  std::vector<std::string> warnings;
  picture.OnParseWarning = [&](const TPersistent* sender, int severity, const std::string& message) {
    EXPECT_EQ(severity, 1);
    EXPECT_NE(sender, nullptr);
    warnings.push_back(message);
  };
  TGIFColorMap map(picture);
  try {
    map.Color(0);
    FAIL();
  } catch (const EGIFError& e) {
    EXPECT_STREQ(e.what(), "Color table is empty");
  }
  map.Add({10, 20, 30});
  map.Add({40, 50, 60});
  warnings.clear();
  EXPECT_EQ(map.SysColor(1), 40u | 50u << 8 | 60u << 16);
  EXPECT_EQ(map.Color(2), (TGIFColor{10, 20, 30}));
  EXPECT_EQ(map.Color(-1), (TGIFColor{10, 20, 30}));
  EXPECT_EQ(warnings, (std::vector<std::string>{"Invalid color index", "Invalid color index"}));

  map.Delete(0);
  EXPECT_EQ(map.Count(), 1);
  EXPECT_EQ(map.Color(0), (TGIFColor{40, 50, 60}));
  try {
    map.Delete(1);
    FAIL();
  } catch (const EGIFError& e) {
    EXPECT_STREQ(e.what(), "Invalid color index");
  }
}

TEST(GifColorMap, ReadsEntriesInFileOrder) {
  TGIFPicture picture;
  TGIFColorMap map(picture);
  TMemoryStream stream(std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7});
  map.LoadFromStream(stream, 2);
  EXPECT_EQ(map.Count(), 2);
  EXPECT_EQ(map.Color(1), (TGIFColor{4, 5, 6}));
  EXPECT_EQ(stream.Position(), 6);
  EXPECT_THROW(map.LoadFromStream(stream, 2), EGIFError);
  EXPECT_EQ(stream.Position(), 6);
}

}  // namespace
}  // namespace gif::testing
