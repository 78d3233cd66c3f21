#include "archive/dir_manager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "archive/archiver.h"
#include "archive/errors.h"
#include "archive/stream.h"
#include "zip_builder.h"

using za::testing::Archive;
using za::testing::Block;
using za::testing::Entry;
using za::testing::Put16;
using za::testing::Put32;
using za::testing::Put64;

namespace {

// Loads a directory from bytes, as the component does.
struct Loaded {
  explicit Loaded(std::string b, const za::TZADirOptions& options = {})
      : bytes(std::move(b)), stream(bytes.data(), bytes.size()), dir(&stream, options, false, true) {
    dir.LoadDirectory();
  }
  const za::TDirItem& operator[](int i) const { return dir.Items.GetItem(i); }
  std::string bytes;
  za::TZABufferStream stream;
  za::TZADirManager dir;
};

int LoadError(const std::string& bytes) {
  try {
    Loaded l(bytes);
  } catch (const za::EZAException& e) {
    return e.NativeError;
  }
  return -1;
}

Archive ThreeFiles() {
  Archive a;
  a.entries.push_back(Entry{"readme.txt", "hello"});
  a.entries.push_back(Entry{"dir/", ""});
  a.entries.back().attributes = 0x10;
  a.entries.push_back(Entry{"dir/data.bin", std::string(300, 'x')});
  a.entries[2].comment = "entry comment";
  return a;
}

TEST(LoadDirectoryTest, PlainArchiveTakesTheStraightPath) {
  Archive a = ThreeFiles();
  a.entries[0].centralExtra = Block(0x000A, std::string(32, '\1'));  // stored, not interpreted
  std::string bytes = a.Build();
  Loaded l(bytes);
  ASSERT_EQ(l.dir.Items.Count(), 3);
  EXPECT_FALSE(l.dir.Rebuilt);
  EXPECT_EQ(l.dir.PrefixLength, 0);
  EXPECT_FALSE(l.dir.HasZip64End);
  EXPECT_EQ(l[0].EntryName, u"readme.txt");
  EXPECT_EQ(l[1].EntryName, u"dir/");
  EXPECT_EQ(l[2].EntryName, u"dir/data.bin");
  EXPECT_EQ(l[2].Comment, "entry comment");
  EXPECT_EQ(l[2].Header.UncompressedSize, 300u);
  EXPECT_EQ(l[2].Header.Crc32, za::testing::Crc(std::string(300, 'x')));
  EXPECT_EQ(l[0].ExtraFields.Count(), 1u);
  EXPECT_EQ(l[0].ExtraFields[0].Tag, 0x000A);
  EXPECT_EQ(l[0].ExtraFields[0].Size, 32);
  EXPECT_EQ(l.dir.EndRecord.EntriesTotal, 3);
  // The directory starts right after the last entry's data.
  EXPECT_EQ(l.dir.DirectoryStart, static_cast<std::int64_t>(30 * 3 + 10 + 4 + 12 + 5 + 300));
}

TEST(LoadDirectoryTest, ArchiveCommentMustReachTheEndExactly) {
  Archive a = ThreeFiles();
  a.comment = std::string(100, 'c');
  Loaded commented(a.Build());
  EXPECT_EQ(commented.dir.ZipComment, std::string(100, 'c'));
  EXPECT_FALSE(commented.dir.Rebuilt);

  a.trailing = "!";
  Loaded trailing(a.Build());
  EXPECT_TRUE(trailing.dir.Rebuilt);
  ASSERT_EQ(trailing.dir.Items.Count(), 3);
  EXPECT_EQ(trailing[2].Comment, "");  // comments live only in the central directory
  EXPECT_EQ(trailing.dir.DirectoryStart, static_cast<std::int64_t>(trailing.bytes.size()));
}

TEST(LoadDirectoryTest, EndRecordInsideTheCommentWinsWhenItFitsExactly) {
  Archive a = ThreeFiles();
  std::string fake;
  Put32(fake, 0x06054B50);
  fake += std::string(16, '\0');  // an empty archive
  Put16(fake, 3);
  a.comment = "xx" + fake + "abc";
  Loaded l(a.Build());
  EXPECT_EQ(l.dir.Items.Count(), 0);
  EXPECT_EQ(l.dir.ZipComment, "abc");
  EXPECT_EQ(l.dir.PrefixLength, static_cast<std::int64_t>(l.bytes.size() - 25));
}

TEST(LoadDirectoryTest, EmptyArchiveIsAllPrefix) {
  Archive empty;
  Loaded plain(empty.Build());
  EXPECT_EQ(plain.bytes.size(), 22u);
  EXPECT_EQ(plain.dir.Items.Count(), 0);
  EXPECT_EQ(plain.dir.PrefixLength, 0);
  empty.prefix = std::string(1000, 'M');
  Loaded stub(empty.Build());
  EXPECT_EQ(stub.dir.PrefixLength, 1000);
}

TEST(LoadDirectoryTest, SelfExtractorWithOffsetsThatCountTheStub) {
  Archive a = ThreeFiles();
  a.prefix = std::string(1000, 'S');
  Loaded l(a.Build());
  EXPECT_EQ(l.dir.PrefixLength, 1000);
  EXPECT_EQ(l[0].Header.LocalHeaderOffset, 1000u);
}

TEST(LoadDirectoryTest, StubAddedInFrontMovesFileOffsetsButNotFolders) {
  Archive a = ThreeFiles();
  Loaded without(a.Build());
  a.prefix = std::string(5000, 'S');
  a.prefixInOffsets = false;
  Loaded l(a.Build());
  EXPECT_EQ(l.dir.PrefixLength, 5000);
  EXPECT_EQ(l[0].Header.LocalHeaderOffset, without[0].Header.LocalHeaderOffset + 5000);
  EXPECT_EQ(l[1].Header.LocalHeaderOffset, without[1].Header.LocalHeaderOffset);  // folder entry
  EXPECT_EQ(l[2].Header.LocalHeaderOffset, without[2].Header.LocalHeaderOffset + 5000);
}

TEST(LoadDirectoryTest, Zip64StructuresGiveSizesAndCount) {
  Archive a;
  a.entries.push_back(Entry{"big.bin", "0123456789"});
  a.entries[0].zip64 = true;
  a.entries.push_back(Entry{"small.txt", "abc"});
  a.zip64End = true;
  Loaded l(a.Build());
  EXPECT_TRUE(l.dir.HasZip64End);
  ASSERT_EQ(l.dir.Items.Count(), 2);
  EXPECT_TRUE(l[0].HasZip64Info);
  EXPECT_EQ(l[0].Header.UncompressedSize, 0xFFFFFFFFu);
  EXPECT_EQ(l[0].Zip64UncompressedSize, 10u);
  EXPECT_EQ(l[0].Zip64CompressedSize, 10u);
  EXPECT_EQ(l[0].Zip64LocalHeaderOffset, 0u);
  EXPECT_EQ(l[0].PackedSize(), 10u);
  EXPECT_EQ(l[1].EntryName, u"small.txt");
  EXPECT_EQ(l.dir.Zip64EndRecord.EntriesTotal, 2u);
}

TEST(LoadDirectoryTest, Zip64LocatorWithoutItsEndRecordFails) {
  Archive a = ThreeFiles();
  a.zip64End = true;
  std::string bytes = a.Build();
  std::size_t at = bytes.size() - 22 - 20 - 56;
  bytes[at] = 'X';  // the Zip64 end record loses its signature
  EXPECT_EQ(LoadError(bytes), 40);
  // A locator too close to the start for any Zip64 end record.
  std::string tiny(30, 'j');
  Put32(tiny, 0x07064B50);
  Put32(tiny, 0);
  Put64(tiny, 0);
  Put32(tiny, 1);
  Put32(tiny, 0x06054B50);
  tiny += std::string(16, '\0');
  Put16(tiny, 0);
  EXPECT_EQ(LoadError(tiny), 40);
}

// zip -fz made the archive; a 1,000-byte stub was put in front without
// adjusting its offsets, so the locator names a position that misses it.
TEST(LoadDirectoryTest, Zip64ArchiveBehindAStubItsOffsetsDoNotCount) {
  const char* root = std::getenv("ROVEND_SOURCE_DIR");
  std::ifstream in(std::string(root ? root : ROVEND_SOURCE_DIR) +
                       "/tests/data/malformed/zip_zip64_behind_stub_offsets_not_adjusted.zip",
                   std::ios::binary);
  std::string bytes(std::istreambuf_iterator<char>(in), {});
  ASSERT_FALSE(bytes.empty());
  za::TZABufferStream stream(bytes.data(), bytes.size());
  za::TZipArchiver zip;
  zip.OpenArchive(stream);
  EXPECT_TRUE(zip.DirManager()->HasZip64End);
  EXPECT_EQ(zip.DirManager()->PrefixLength, 1000);
  ASSERT_EQ(zip.Count(), 2);
  za::TZAMemoryStream readme, data;
  zip.ExtractItemToStream(0, readme);
  zip.ExtractItemToStream(1, data);
  EXPECT_EQ(std::string(readme.Data().begin(), readme.Data().end()), "hello, zip64\n");
  EXPECT_EQ(data.Data().size(), zip.Item(1).UnpackedSize());
  EXPECT_EQ(zip.Item(1).UnpackedSize(), 1350u);

  // Offsets held in Zip64 blocks move with the stub too.
  Archive a = ThreeFiles();
  a.entries[2].zip64 = true;
  a.zip64End = true;
  a.prefix = std::string(1000, 'S');
  a.prefixInOffsets = false;
  Loaded l(a.Build());
  EXPECT_EQ(l.dir.PrefixLength, 1000);
  EXPECT_EQ(l[2].LocalOffset(), l.bytes.find("dir/data.bin") - 30);
}

TEST(LoadDirectoryTest, UnreadableDirectoryIsRebuiltFromLocalHeaders) {
  Archive a = ThreeFiles();
  std::string good = a.Build();
  // A name length that runs past the end of the stream.
  std::string longName = good;
  std::size_t central = good.size() - 22 - (46 * 3 + 10 + 4 + 12 + 13);
  longName[central + 28] = '\xFF';
  longName[central + 29] = '\xFF';
  Loaded l(longName);
  EXPECT_TRUE(l.dir.Rebuilt);
  EXPECT_EQ(l.dir.Items.Count(), 3);

  // 0xFFFF entries without Zip64 structures.
  a.totalOverride = 0xFFFF;
  Loaded marked(a.Build());
  EXPECT_TRUE(marked.dir.Rebuilt);
  EXPECT_EQ(marked.dir.Items.Count(), 3);
}

TEST(LoadDirectoryTest, CountThatCannotFitIsNotAllocated) {
  Archive a = ThreeFiles();
  a.totalOverride = 60000;  // 46 bytes each would need far more than the directory holds
  Loaded l(a.Build());
  EXPECT_TRUE(l.dir.Rebuilt);
  EXPECT_EQ(l.dir.Items.Count(), 3);
  EXPECT_LT(l.dir.Items.Capacity(), 60000);

  Archive z = ThreeFiles();
  z.zip64End = true;
  std::string bytes = z.Build();
  std::size_t total = bytes.size() - 22 - 20 - 56 + 32;  // Zip64 total number of entries
  for (int i = 0; i < 4; ++i) bytes[total + i] = '\x7F';
  Loaded huge(bytes);
  EXPECT_TRUE(huge.dir.Rebuilt);
  EXPECT_EQ(huge.dir.Items.Count(), 3);
}

TEST(LoadDirectoryTest, NotAZipArchive) {
  EXPECT_EQ(LoadError("just some text, no zip here\n"), 35);
  EXPECT_EQ(LoadError(""), 35);
  za::EZAException e(35, nullptr);
  EXPECT_EQ(e.Message(), u"Invalid archive file. - Native error: 00035");
}

TEST(LoadDirectoryTest, RebuildSynthesisesHeadersFromLocalOnes) {
  Archive a;
  a.entries.push_back(Entry{"empty-folder", ""});
  a.entries.push_back(Entry{"file.txt", "data"});
  a.entries.push_back(Entry{"streamed.txt", "streamed data", 0, 8});  // data descriptor
  a.entries.push_back(Entry{std::string(261, 'n'), "long name"});
  a.trailing = "garbage";
  Loaded l(a.Build());
  ASSERT_TRUE(l.dir.Rebuilt);
  ASSERT_EQ(l.dir.Items.Count(), 3);  // the 261-byte name is skipped
  EXPECT_EQ(l[0].Header.ExternalAttributes, 0x10u);
  EXPECT_EQ(l[1].Header.ExternalAttributes, 0x20u);
  EXPECT_EQ(l[1].Header.VersionMadeBy, 20);
  EXPECT_EQ(l[2].Header.ExternalAttributes, 0x20u);
  EXPECT_EQ(l[2].Header.UncompressedSize, 13u);
  EXPECT_EQ(l[2].Header.Crc32, za::testing::Crc("streamed data"));
  EXPECT_EQ(l[2].Header.LocalHeaderOffset, static_cast<std::uint32_t>(30 + 12 + 30 + 8 + 4));
}

TEST(LoadDirectoryTest, TruncatedArchiveListsEveryLocalHeader) {
  Archive a;
  a.entries.push_back(Entry{"one", std::string(100, '1')});
  a.entries.push_back(Entry{"two", std::string(100, '2')});
  std::string bytes = a.Build();
  bytes.resize(30 + 3 + 100 + 30 + 3 + 50);  // the second entry's data is cut off
  Loaded l(bytes);
  ASSERT_EQ(l.dir.Items.Count(), 2);
  EXPECT_EQ(l[1].EntryName, u"two");
  // A local header whose name runs past the end gets an empty name.
  std::string cut = a.Build().substr(0, 30 + 3 + 100 + 31);
  Loaded m(cut);
  ASSERT_EQ(m.dir.Items.Count(), 2);
  EXPECT_EQ(m[1].EntryName, u"");
}

TEST(NameRuleTest, OemAndAnsiBytesGiveTheSameCyrillicName) {
  Archive oem;
  oem.entries.push_back(Entry{"\x8E\xA0\xA9\xAB", "x"});
  Loaded a(oem.Build());
  EXPECT_EQ(a[0].EntryName, u"Оайл");

  za::TZADirOptions ansiNames;
  ansiNames.OemNames = false;
  Archive ansi;
  ansi.entries.push_back(Entry{"\xCE\xE0\xE9\xEB", "x"});
  Loaded b(ansi.Build(), ansiNames);
  EXPECT_EQ(b[0].EntryName, u"Оайл");
}

TEST(NameRuleTest, ZeroByteEndsTheNameAndUtf8FlagIsNotHonoured) {
  Archive a;
  a.entries.push_back(Entry{std::string("cut\0rest", 8), "x"});
  a.entries.push_back(Entry{"\xE2\x82\xAC", "y", 0, 0x0800});  // UTF-8 "€", flagged
  Loaded l(a.Build());
  EXPECT_EQ(l[0].EntryName, u"cut");
  EXPECT_EQ(l[1].EntryName, u"тВм");  // the three bytes read as OEM 866
}

// What a command-line tool asks of the loader beyond the setup program:
// names flagged UTF-8 read as UTF-8, block padding after the end record,
// and the names of local headers the rebuild could not take in.
TEST(ToolOptionsTest, Utf8FlagPaddingAndDroppedHeaders) {
  za::TZADirOptions tool;
  tool.Utf8FlagNames = true;
  tool.PaddedEndRecord = true;
  Archive a;
  a.entries.push_back(Entry{"\xE2\x82\xAC", "y", 0, 0x0800});
  a.entries.push_back(Entry{"\x8E\xA0", "z"});  // unflagged: still the code pages
  a.trailing = std::string(700, '\0');
  Loaded l(a.Build(), tool);
  EXPECT_FALSE(l.dir.Rebuilt);
  EXPECT_EQ(l[0].EntryName, u"€");
  EXPECT_EQ(l[1].EntryName, u"Оа");
  // Padding that is not all zero is no padding.
  a.trailing = std::string(700, '\0') + "x";
  EXPECT_TRUE(Loaded(a.Build(), tool).dir.Rebuilt);

  Archive cut;
  cut.entries.push_back(Entry{"one", std::string(100, '1')});
  cut.entries.push_back(Entry{"two", std::string(1000, '2')});
  std::string bytes = cut.Build();
  bytes.resize(30 + 3 + 100 + 30 + 3 + 50);  // "two" claims more than the archive holds
  Loaded m(bytes, tool);
  ASSERT_EQ(m.dir.Items.Count(), 1);
  EXPECT_EQ(m.dir.RebuildDropped, std::vector<std::u16string>{u"two"});
}

TEST(NameRuleTest, UnicodeBlockReplacesTheStoredNameAndTheLastOneWins) {
  Archive a;
  a.entries.push_back(Entry{"plain.txt", "x"});
  a.entries[0].centralExtra = za::testing::UnicodeNameBlock(u"первый.txt") + za::testing::UnicodeNameBlock(u"второй.txt");
  a.entries.push_back(Entry{"keep.txt", "y"});
  a.entries[1].centralExtra = Block(0x554E, "NUCY\1\0\0\0ab");  // no "NUCX": an opaque block
  a.entries.push_back(Entry{"short.txt", "z"});
  a.entries[2].centralExtra = Block(0x554E, "NUCX\5\0\0\0ab");  // shorter than it says
  Loaded l(a.Build());
  EXPECT_EQ(l[0].EntryName, u"второй.txt");
  EXPECT_EQ(l.dir.Items.IndexOfName(u"ВТОРОЙ.TXT"), 0);
  EXPECT_EQ(l.dir.Items.IndexOfName(u"plain.txt"), -1);
  EXPECT_EQ(l[1].EntryName, u"keep.txt");
  EXPECT_EQ(l[1].ExtraFields.Count(), 1u);
  EXPECT_EQ(l[2].EntryName, u"short.txt");
}

TEST(NameRuleTest, NamesDifferingInCaseBothLoad) {
  Archive a;
  a.entries.push_back(Entry{"Same.txt", "1"});
  a.entries.push_back(Entry{"SAME.TXT", "2"});
  Loaded l(a.Build());
  ASSERT_EQ(l.dir.Items.Count(), 2);
  EXPECT_FALSE(l.dir.Rebuilt);
  EXPECT_EQ(l.dir.Items.IndexOfName(u"same.txt"), 1);
}

TEST(NameRuleTest, EmptyNameFollowedByAnotherEntryBreaksTheIndex) {
  Archive a;
  a.entries.push_back(Entry{"", "1"});
  a.entries.push_back(Entry{"b", "2"});
  EXPECT_EQ(LoadError(a.Build()), 59);  // in the directory, and again in the rebuild
}

TEST(BlockWalkTest, Zip64BlockSuppliesOnlyTheValuesItHolds) {
  Archive a;
  a.entries.push_back(Entry{"z", "x"});
  std::string bytes;
  std::string eight;
  Put64(eight, 5000000000ull);
  a.entries[0].centralExtra = Block(0x0001, eight);
  bytes = a.Build();
  // Both sizes all ones in the central header.
  std::size_t central = bytes.size() - 22 - (46 + 1 + 12);
  for (int i = 20; i < 28; ++i) bytes[central + i] = '\xFF';
  Loaded l(bytes);
  ASSERT_FALSE(l.dir.Rebuilt);
  EXPECT_TRUE(l[0].HasZip64Info);
  EXPECT_EQ(l[0].Zip64UncompressedSize, 5000000000ull);
  EXPECT_EQ(l[0].Zip64CompressedSize, 0u);
}

TEST(BlockWalkTest, AesBlockDecidesAlgorithmOnlyBelowVersion4114) {
  std::string aes;
  Put16(aes, 2);
  aes += "AE";
  aes.push_back(3);
  Put16(aes, 8);
  Archive a;
  a.entries.push_back(Entry{"aes", "x", 99, 1});
  a.entries[0].centralExtra = Block(0x9901, aes);
  a.entries.push_back(Entry{"late", "y", 99, 1, 0x4114});
  a.entries[1].centralExtra = Block(0x9901, aes);
  a.entries.push_back(Entry{"classic", "z", 8, 1});
  a.entries.push_back(Entry{"short", "w", 99, 1});
  a.entries[3].centralExtra = Block(0x9901, aes.substr(0, 6));
  Loaded l(a.Build());
  EXPECT_EQ(l[0].CryptoAlgorithm, za::caAES_256);
  EXPECT_EQ(l[0].ActualMethod, 8);
  EXPECT_EQ(l[1].ActualMethod, 99);
  EXPECT_EQ(l[1].ExtraFields.Count(), 1u);
  EXPECT_EQ(l[2].CryptoAlgorithm, za::caPkzipClassic);
  EXPECT_EQ(l[3].ActualMethod, 99);
}

TEST(BlockWalkTest, BlocksAreCutToTheFieldAndFragmentsDropped) {
  Archive a;
  a.entries.push_back(Entry{"cut", "x"});
  std::string declared;
  Put16(declared, 0x1234);
  Put16(declared, 100);
  a.entries[0].centralExtra = declared + "123456";  // 10 bytes, one block claiming 100
  a.entries[0].comment = "after";
  a.entries.push_back(Entry{"fragment", "y"});
  a.entries[1].centralExtra = Block(0x000A, "ab") + "\x01\x02";  // a 2-byte tail
  a.entries[1].comment = "still read";
  Loaded l(a.Build());
  ASSERT_FALSE(l.dir.Rebuilt);
  ASSERT_EQ(l[0].ExtraFields.Count(), 1u);
  EXPECT_EQ(l[0].ExtraFields[0].Size, 6);
  EXPECT_EQ(l[0].Comment, "after");
  EXPECT_EQ(l[1].ExtraFields.Count(), 1u);
  EXPECT_EQ(l[1].Comment, "still read");
}

}  // namespace
