#include "archive/items.h"

#include <gtest/gtest.h>

#include <random>

#include "archive/errors.h"
#include "native_error.h"
#include "sys/codepage.h"

using za::TDirItem;
using za::TZADirArray;
using za::TZAEntryName;

namespace {

using za::testing::NativeErrorOf;

TEST(DirArrayTest, GrowsByDoublingStepsUpToTenThousand) {
  TZADirArray a;
  a.SetCount(1);
  EXPECT_EQ(a.Capacity(), 1000);
  std::vector<int> reallocatedAt;
  int last = a.Capacity();
  for (int n = 2; n <= 30000; ++n) {
    a.SetCount(n);
    if (a.Capacity() != last) reallocatedAt.push_back(n), last = a.Capacity();
  }
  EXPECT_EQ(reallocatedAt, (std::vector<int>{1001, 3001, 7001, 15001, 25001}));
  EXPECT_EQ(a.Capacity(), 35000);
  a.SetCount(0);
  EXPECT_EQ(a.Capacity(), 0);

  TZADirArray b;
  b.SetCount(5000);  // one step that does not reach the count takes the count
  EXPECT_EQ(b.Capacity(), 5000);
}

TEST(DirArrayTest, IndexChecksRaiseTheirOwnNumbers) {
  TZADirArray a;
  a.SetCount(2);
  a.SetName(0, u"a");
  a.SetName(1, u"b");
  EXPECT_EQ(NativeErrorOf([&] { a.GetItem(2); }), za::neItemIndexRead);
  EXPECT_EQ(NativeErrorOf([&] { a.ItemAt(-1); }), za::neItemIndexWrite);
  EXPECT_EQ(NativeErrorOf([&] { a.SetItem(2, TDirItem{}); }), za::neItemIndex);
  EXPECT_EQ(NativeErrorOf([&] { a.Delete(5); }), za::neItemIndexDelete);
}

TEST(DirArrayTest, NameIndexFollowsNamesCaseInsensitively) {
  TZADirArray a;
  a.SetCount(3);
  a.SetName(0, u"Readme.TXT");
  a.SetName(1, u"README.txt");  // differs only in case: both stay
  a.SetName(2, u"Папка/Файл");
  EXPECT_EQ(a.NameIndex().Count(), 3);
  EXPECT_EQ(a.NameIndex()[2], u"папка/файл");
  EXPECT_EQ(a.IndexOfName(u"readme.txt"), 1);  // the later of equal keys
  EXPECT_EQ(a.IndexOfName(u"ПАПКА/ФАЙЛ"), 2);
  a.SetName(1, u"other");  // renaming keeps its slot
  EXPECT_EQ(a.IndexOfName(u"README.TXT"), 0);
  EXPECT_EQ(a.IndexOfName(u"OTHER"), 1);
  a.Delete(0);
  EXPECT_EQ(a.Count(), 2);
  EXPECT_EQ(a.GetItem(0).EntryName, u"other");
  EXPECT_EQ(a.IndexOfName(u"other"), 0);
  EXPECT_EQ(a.IndexOfName(u"readme.txt"), -1);
}

TEST(DirArrayTest, OutOfStepIndexIsReported) {
  TZADirArray a;
  a.SetCount(2);
  a.SetName(0, u"");
  // The fresh entry's empty key is found at entry 0.
  EXPECT_EQ(NativeErrorOf([&] { a.SetName(1, u"b"); }), za::neNameListRename);
  TZADirArray b;
  b.SetCount(3);
  b.SetName(0, u"a");
  TDirItem item;
  item.EntryName = u"c";
  EXPECT_EQ(NativeErrorOf([&] { b.SetItem(2, item); }), za::neNameListInsert);
}

TEST(DirArrayTest, NamesKeptByTheDirectoryStayWholeThroughCopiesDropsAndRenames) {
  // Every third name is beyond Latin-1, so the directory keeps both forms.
  auto nameOf = [](int i) { return (i % 3 ? u"folder/" : u"п\u00e9pka/") +
                                   std::u16string(static_cast<std::size_t>(i % 300), u'x') + u"/" +
                                   sys::Utf8ToWide(std::to_string(i)); };
  TDirItem copy;
  std::vector<TDirItem> moved;
  {
    TZADirArray a;
    // Enough names to fill several of the directory's blocks, one of them
    // dropped as a loader leaves out an entry it does not keep.
    const int n = 3000;
    for (int i = 0; i < n; ++i) {
      a.SetCount(a.Count() + 1);
      // Half of the plain ASCII names are placed from their bytes, as a
      // loader places them.
      std::u16string name = nameOf(i);
      if (i % 2 && i % 3)
        a.SetNarrowName(a.Count() - 1, std::string(name.begin(), name.end()));
      else
        a.SetName(a.Count() - 1, name);
      if (i % 7 == 3) a.DropLast();
    }
    int k = 0;
    for (int i = 0; i < n; ++i) {
      if (i % 7 == 3) continue;
      ASSERT_EQ(a.GetItem(k).EntryName, nameOf(i));
      ++k;
    }
    // Renames from the name's own characters, kept in bytes and in UTF-16.
    std::u16string scratch;
    EXPECT_TRUE(a.GetItem(1).EntryName.Narrow());
    EXPECT_FALSE(a.GetItem(5).EntryName.Narrow());  // the seventh name
    for (auto [k, i] : {std::pair{1, 1}, std::pair{5, 6}}) {
      a.SetName(k, a.GetItem(k).EntryName.ViewIn(scratch).substr(7));
      EXPECT_EQ(a.GetItem(k).EntryName, nameOf(i).substr(7));
    }
    copy = a.GetItem(2);
    TDirItem& last = a.ItemAt(a.Count() - 1);
    last.EntryName = last.EntryName.ViewIn(scratch).substr(1);
    EXPECT_EQ(last.EntryName, nameOf(n - 2).substr(1));  // the last of them was dropped
    moved.push_back(a.GetItem(0));
    a.SetCount(0);  // the directory's names go
    a.SetCount(1);
    a.SetName(0, u"again");
    EXPECT_EQ(a.GetItem(0).EntryName, u"again");
    // A name given again from bytes renames the entry; the lookup finds it.
    a.SetNarrowName(0, "Once/More");
    EXPECT_EQ(a.GetItem(0).EntryName, u"Once/More");
    EXPECT_EQ(a.IndexOfName(u"once/more"), 0);
    EXPECT_EQ(a.IndexOfName(u"again"), -1);
  }
  EXPECT_EQ(copy.EntryName, nameOf(2));
  EXPECT_EQ(moved[0].EntryName, nameOf(0));
  TDirItem fresh;
  EXPECT_TRUE(fresh.EntryName.empty());
  EXPECT_FALSE(fresh.IsFolder());
  fresh.EntryName = u"a/";
  EXPECT_TRUE(fresh.IsFolder());
  fresh.EntryName = u"";
  EXPECT_TRUE(fresh.EntryName.empty());
}

// A name is kept in bytes while every unit is below 0x100; either way it
// reads, compares and copies as the UTF-16 it was given.
TEST(DirArrayTest, NamesReadAlikeInBytesAndInUtf16) {
  const std::u16string latin = u"caf\u00e9/\u00ff.txt", wide = u"caf\u0100/\u00ff.txt";
  TZAEntryName a(latin), b(wide), c(latin);
  EXPECT_TRUE(a.Narrow());
  EXPECT_EQ(a.NarrowView(), "caf\xe9/\xff.txt");
  EXPECT_FALSE(b.Narrow());
  EXPECT_EQ(a, c);
  EXPECT_FALSE(a == b);  // the same length, one unit apart
  EXPECT_EQ(a, latin);
  EXPECT_FALSE(a == wide);
  EXPECT_EQ(b, wide);
  EXPECT_EQ(a[3], u'\u00e9');
  EXPECT_EQ(b[3], u'\u0100');
  EXPECT_EQ(a.back(), u't');
  std::u16string scratch, copied = u"left over";
  EXPECT_EQ(a.ViewIn(scratch), latin);
  EXPECT_EQ(b.ViewIn(scratch), wide);
  a.CopyTo(copied);
  EXPECT_EQ(copied, latin);
  b = a;
  EXPECT_EQ(b, latin);
  EXPECT_TRUE(b.Narrow());
  EXPECT_EQ(a.str() + u"!", latin + u"!");
  // Lookups fold the case of both forms alike.
  TZADirArray dir;
  dir.SetCount(2);
  dir.SetName(0, latin);
  dir.SetName(1, u"\u0414ir/a.txt");
  EXPECT_EQ(dir.IndexOfName(u"CAF\u00c9/\u00ff.TXT"), 0);
  EXPECT_EQ(dir.IndexOfName(u"\u0434IR/A.TXT"), 1);
}

TEST(DirArrayTest, WritingSourcesAreCopiedWithTheEntryAndAbsentWhenRead) {
  TDirItem read;
  EXPECT_TRUE(read.Source().SourceFileName.empty());
  EXPECT_FALSE(read.Source().SourceStream);
  TDirItem added;
  added.SetSource().SourceFileName = u"/tmp/a.txt";
  added.SetSource().EntryPassword = "secret";
  TDirItem copy = added;
  added.DropSource();
  EXPECT_EQ(copy.Source().SourceFileName.view(), u"/tmp/a.txt");
  EXPECT_EQ(copy.Source().EntryPassword.view(), "secret");
  EXPECT_TRUE(added.Source().SourceFileName.empty());
}

TEST(DirArrayTest, SeldomUsedMembersShareOneBlockThatCopiesDeeply) {
  TDirItem plain;
  EXPECT_EQ(std::uint64_t{plain.Zip64CompressedSize}, 0u);
  EXPECT_TRUE(plain.Comment.empty());
  plain.Header.CompressedSize = plain.Header.LocalHeaderOffset = 0xFFFFFFFF;
  plain.Zip64CompressedSize = 6000000000ull;
  plain.Zip64LocalHeaderOffset = 1;
  plain.Zip64LocalHeaderOffset += 0x100000000ull;
  plain.Comment = "note";
  plain.SetSource().EntryPassword = "secret";
  EXPECT_EQ(plain.PackedSize(), 6000000000ull);  // not cut to 32 bits
  EXPECT_EQ(plain.LocalOffset(), 0x100000001ull);

  // One entry's value given to another is the value, never the block.
  TDirItem other;
  other.Zip64CompressedSize = plain.Zip64CompressedSize;
  TDirItem copy = plain;
  TDirItem moved = std::move(plain);
  plain = copy;
  copy.Zip64CompressedSize = 7;
  copy.Comment = "changed";
  copy.DropSource();
  EXPECT_EQ(std::uint64_t{other.Zip64CompressedSize}, 6000000000ull);
  EXPECT_EQ(std::uint64_t{plain.Zip64CompressedSize}, 6000000000ull);
  EXPECT_EQ(plain.Comment, "note");
  EXPECT_EQ(moved.Comment, "note");
  EXPECT_EQ(moved.Source().EntryPassword.view(), "secret");
  EXPECT_EQ(copy.Comment, "changed");
  EXPECT_EQ(copy.LocalOffset(), 0x100000001ull);
  EXPECT_TRUE(copy.Source().EntryPassword.empty());
}

TEST(DirArrayTest, AssignCopiesBlocksDeeply) {
  TZADirArray a;
  a.SetCount(1);
  TDirItem item;
  item.EntryName = u"x";
  const std::uint8_t data[] = {1, 2, 3};
  item.ExtraFields.Add(0x000A, data, 3);
  a.SetItem(0, item);
  TZADirArray b;
  b.Assign(a);
  a.ItemAt(0).ExtraFields.Clear();
  ASSERT_EQ(b.GetItem(0).ExtraFields.Count(), 1u);
  za::ExtraBlock block = b.GetItem(0).ExtraFields[0];
  EXPECT_EQ(block.Tag, 0x000A);
  EXPECT_EQ(block.Size, 3);
  EXPECT_EQ(block.Data[2], 3);
  EXPECT_EQ(b.IndexOfName(u"X"), 0);
}

TEST(StringHashTest, KeyHashRotatesAndXors) {
  EXPECT_EQ(za::TZAStringHash::KeyHash(u""), 0u);
  EXPECT_EQ(za::TZAStringHash::KeyHash(u"ab"), ((0x61u << 2) ^ 0x62u));
  EXPECT_EQ(za::TZAStringHash::KeyHash(u"abc"), 0x7FBu);
  // Bits leaving at the top come back at the bottom.
  EXPECT_EQ(za::TZAStringHash::KeyHash(u"\xC000" + std::u16string(15, u'\0')), 0x3000u);
}

TEST(StringHashTest, LatestOfEqualKeysWinsAndEraseTakesIt) {
  za::TZAStringHash h(7);
  h.Insert(u"k", 1);
  h.Insert(u"k", 2);
  h.Insert(u"other", 3);
  EXPECT_EQ(h.Lookup(u"k"), 2);
  h.Erase(u"k");
  EXPECT_EQ(h.Lookup(u"k"), 1);
  EXPECT_EQ(h.Lookup(u"K"), -1);
  h.Reset();
  EXPECT_EQ(h.Lookup(u"other"), -1);
}

TEST(HashedStringListTest, HashIsBuiltLazilyAndRegrown) {
  za::TZAHashedStringList list;
  for (int i = 0; i < 5000; ++i) list.Add(u"n" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) + std::u16string(i / 26 + 1, u'x'));
  EXPECT_FALSE(list.HashValid());
  EXPECT_EQ(list.IndexOf(u"NA" + std::u16string(1, u'X')), 0);
  EXPECT_EQ(list.Hash()->BucketCount(), 5000u);
  for (int i = 0; i < 20001; ++i) list.Add(u"more" + std::u16string(1, static_cast<char16_t>(i)));
  EXPECT_FALSE(list.Hash());  // over five strings per bucket: dropped
  EXPECT_EQ(list.IndexOf(u"MORE" + std::u16string(1, static_cast<char16_t>(20000))), 25000);
  list.Delete(0);
  EXPECT_FALSE(list.HashValid());
  EXPECT_EQ(list.IndexOf(u"more" + std::u16string(1, static_cast<char16_t>(20000))), 24999);
}

TEST(UnicodeExtendedInfoTest, ParsesOnlyCompleteNucxBlocks) {
  za::TUnicodeExtendedInfo info;
  const std::uint8_t good[] = {'N', 'U', 'C', 'X', 2, 0, 0, 0, 0x1F, 0x04, 0x3B, 0x04};
  ASSERT_TRUE(info.ParseBlock(good, sizeof good));
  EXPECT_EQ(info.Name, u"Пл");
  EXPECT_FALSE(info.ParseBlock(good, sizeof good - 1));  // shorter than 8 + 2L
  const std::uint8_t negative[] = {'N', 'U', 'C', 'X', 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_FALSE(info.ParseBlock(negative, sizeof negative));
  const std::uint8_t other[] = {'u', 'p', 'x', 'x', 0, 0, 0, 0};
  EXPECT_FALSE(info.ParseBlock(other, sizeof other));
}

TEST(ArchiveItemTest, SplitsNameAndPathAndComputesRatio) {
  TDirItem item;
  item.EntryName = u"dir/sub/file.txt";
  item.Header.CompressedSize = 25;
  item.Header.UncompressedSize = 100;
  item.Header.Flags = 1;
  za::TZAArchiveItem out;
  za::FillArchiveItem(item, out);
  EXPECT_EQ(out.ItemName, u"file.txt");
  EXPECT_EQ(out.ItemPath, u"dir\\sub\\");
  EXPECT_DOUBLE_EQ(out.Ratio, 75.0);
  EXPECT_TRUE(out.IsEncrypted);

  item.EntryName = u"folder/";
  item.Header.CompressedSize = item.Header.UncompressedSize = 0xFFFFFFFF;
  item.Zip64CompressedSize = 6000000000ull;
  item.Zip64UncompressedSize = 5000000000ull;
  za::FillArchiveItem(item, out);
  EXPECT_EQ(out.ItemName, u"folder");
  EXPECT_EQ(out.ItemPath, u"");
  EXPECT_EQ(out.PackedSize, 6000000000ull);
  EXPECT_DOUBLE_EQ(out.Ratio, 0.0);  // a negative ratio becomes 0

  item.Header.UncompressedSize = 0;
  za::FillArchiveItem(item, out);
  EXPECT_DOUBLE_EQ(out.Ratio, 100.0);
}


// The index against a plain search of the entries, through every change
// that moves a name: runs of equal keys in the table are long here (many
// names differ only in case), so removing one must keep the rest found.
TEST(DirArrayTest, NameIndexKeepsUpWithEveryChange) {
  TZADirArray a;
  std::mt19937 random(7);
  auto nameOf = [&](int k) {
    std::u16string name = u"dir/n" + std::u16string(1, static_cast<char16_t>(u'a' + k % 13));
    if (random() % 2) name[0] = u'D';
    if (random() % 3 == 0) name += u"\u0416";  // lower case: U+0436
    return name;
  };
  const int n = 3000;
  a.SetCount(n);
  for (int i = 0; i < n; ++i) a.SetName(i, nameOf(i));
  EXPECT_FALSE(a.NameIndex().Built());  // naming entries as a loader does makes no table
  auto expected = [&](std::u16string_view name) {
    std::u16string key = sys::WideLower(name);
    std::int32_t last = -1;
    for (std::int32_t i = 0; i < a.Count(); ++i)
      if (sys::WideLower(a.GetItem(i).EntryName.str()) == key) last = i;
    return last;
  };
  auto check = [&] {
    for (int k = 0; k < 13; ++k)
      for (std::u16string name : {u"DIR/N" + std::u16string(1, static_cast<char16_t>(u'A' + k)),
                                  u"dir/n" + std::u16string(1, static_cast<char16_t>(u'a' + k)) + u"\u0436"})
        ASSERT_EQ(a.IndexOfName(name), expected(name)) << k;
  };
  check();
  EXPECT_TRUE(a.NameIndex().Built());
  for (int round = 0; round < 400; ++round) {
    std::int32_t i = static_cast<std::int32_t>(random() % static_cast<unsigned>(a.Count()));
    switch (random() % 4) {
      case 0: {
        std::u16string name = nameOf(static_cast<int>(random()));
        // Renaming an entry whose name a later one shares is refused.
        if (expected(a.GetItem(i).EntryName.str()) == i)
          a.SetName(i, name);
        else
          EXPECT_EQ(NativeErrorOf([&] { a.SetName(i, name); }), za::neNameListRename);
        break;
      }
      case 1: {
        TDirItem item;
        item.EntryName = nameOf(static_cast<int>(random()));
        a.SetItem(i, item);
        break;
      }
      case 2: a.DropLast(); break;
      default: a.Delete(i); break;
    }
    if (round % 20 == 0) check();
  }
  check();
  EXPECT_EQ(a.NameIndex().Count(), a.Count());
}

}  // namespace
