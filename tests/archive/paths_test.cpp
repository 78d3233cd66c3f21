#include "../../archive/src/paths.h"

#include <gtest/gtest.h>

#include "archive/items.h"

namespace {

using namespace za::paths;

TEST(PathsTest, NameAndFolderPartsFollowTheSeparatorSetAsked) {
  // An event name keeps a "/" that a file path would cut at.
  EXPECT_EQ(NamePart(u"a\\b/c", kEventCuts), u"b/c");
  EXPECT_EQ(NamePart(u"a\\b/c"), u"c");
  EXPECT_EQ(FolderPart(u"C:name", kEventCuts), u"C:");
  EXPECT_EQ(FolderPart(u"plain"), u"");
  EXPECT_EQ(NamePart(u"dir\\"), u"");
  // Name and folder always put the path back together.
  for (std::u16string_view p : {u"x", u"a/b\\c:d", u"\\\\srv\\share\\f", u""})
    EXPECT_EQ(std::u16string(FolderPart(p)) + std::u16string(NamePart(p)), p);
}

TEST(PathsTest, DrivesAndSharesByTheSeparatorsGiven) {
  EXPECT_EQ(DriveLength(u"c:\\x"), 2u);
  EXPECT_EQ(DriveLength(u"1:\\x"), 0u);
  EXPECT_EQ(DriveLength(u"\\\\srv\\share\\x"), 11u);
  EXPECT_EQ(DriveLength(u"\\\\srv"), 5u);  // no share: all of it
  EXPECT_EQ(DriveLength(u"//srv/share/x"), 11u);
  EXPECT_EQ(DriveLength(u"//srv/share/x", kBackslash), 0u);
  EXPECT_TRUE(IsAbsolute(u"/x"));
  EXPECT_TRUE(IsAbsolute(u"D:x"));
  EXPECT_FALSE(IsAbsolute(u"x/y"));
}

TEST(PathsTest, TrailingSeparatorsAndFolderEntries) {
  EXPECT_EQ(WithoutTrailingSeparator(u"a/b/"), u"a/b");
  EXPECT_EQ(WithoutTrailingSeparator(u"a\\"), u"a");
  EXPECT_EQ(WithoutTrailingSeparator(u""), u"");
  EXPECT_EQ(Backslashed(u"a/b"), u"a\\b");
  EXPECT_EQ(Slashed(u"a\\b"), u"a/b");
  za::TDirItem item;
  item.EntryName = u"dir\\";
  EXPECT_FALSE(item.IsFolder());  // only a stored "/" marks a folder by name
  item.EntryName = u"dir/";
  EXPECT_TRUE(item.IsFolder());
  item.EntryName = u"file";
  item.Header.ExternalAttributes = 0x10;
  EXPECT_TRUE(item.IsFolder());
}

}  // namespace
