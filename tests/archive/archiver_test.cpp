#include "archive/archiver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "native_error.h"
#include "temp_dir.h"
#include "zip_builder.h"

using za::EZAException;
using za::TZipArchiver;

namespace {

class ArchiverTest : public za::testing::TempDirTest {};

using za::testing::NativeErrorOf;

std::string SmallArchive() {
  za::testing::Archive a;
  a.entries.push_back(za::testing::Entry{"a.txt", "alpha"});
  a.entries.push_back(za::testing::Entry{"b.txt", "beta"});
  return a.Build();
}

TEST(ArchiverPropertiesTest, DefaultsEqualTheStoredValues) {
  TZipArchiver zip;
  EXPECT_FALSE(zip.ExtractCorruptedFiles());
  EXPECT_EQ(zip.CompressionLevel(), za::clFastest);
  EXPECT_EQ(zip.CompressionMode(), 1);
  EXPECT_EQ(zip.CompressionMethod(), 8);
  EXPECT_EQ(zip.CurrentVersion(), u"5.01 ");
  EXPECT_EQ(zip.SpanningMode(), za::smNone);
  EXPECT_EQ(zip.SpanningOptions().VolumeSize, za::vsAutoDetect);
  EXPECT_EQ(zip.Options().OverwriteMode, za::omAlways);
  EXPECT_EQ(zip.Options().SearchAttr, 10431);
  EXPECT_EQ(zip.Options().StorePath, za::spRelativePath);
  EXPECT_EQ(zip.Options().ShareMode, za::smShareDenyNone);
  EXPECT_TRUE(zip.Options().OEMFileNames && zip.Options().FlushBuffers && zip.Options().CreateDirs &&
              zip.Options().ReplaceReadOnly && zip.Options().SetAttributes && zip.Options().Recurse);
  EXPECT_EQ(zip.Zip64Mode(), za::zmDisabled);
  EXPECT_TRUE(zip.UnicodeFilenames());
  EXPECT_EQ(zip.EncryptionMethod(), za::caPkzipClassic);
  EXPECT_TRUE(zip.RepairEnabled());

  TZipArchiver stored;
  za::ApplyZipArchiver1StoredProperties(stored);
  EXPECT_EQ(stored.Name(), u"ZipArchiver1");
  EXPECT_EQ(stored.CompressionMode(), zip.CompressionMode());
  EXPECT_EQ(stored.CompressionLevel(), zip.CompressionLevel());
  EXPECT_EQ(stored.CurrentVersion(), u"5.01 ");
  EXPECT_EQ(stored.Zip64Mode(), za::zmDisabled);
  EXPECT_FALSE(stored.InMemory());
  for (std::size_t i = 0; i < za::kZipArchiver1StoredPropertyCount; ++i) {
    const auto& p = za::kZipArchiver1StoredProperties[i];
    EXPECT_TRUE(stored.SetPublishedProperty(p.Name, p.Value)) << p.Name;
  }
  EXPECT_FALSE(stored.SetPublishedProperty("NoSuchProperty", "1"));
  EXPECT_FALSE(stored.SetPublishedProperty("Options.OEMFileNames", "maybe"));
  EXPECT_TRUE(stored.SetPublishedProperty("Options.SearchAttr", "$28BF"));
  EXPECT_EQ(stored.Options().SearchAttr, 0x28BF);
}

TEST(ArchiverPropertiesTest, CompressionLevelAndModeFollowEachOther) {
  TZipArchiver zip;
  zip.SetCompressionMode(5);
  EXPECT_EQ(zip.CompressionLevel(), za::clNormal);
  zip.SetCompressionLevel(za::clMax);
  EXPECT_EQ(zip.CompressionMode(), 9);
  zip.SetCompressionLevel(za::clNone);
  EXPECT_EQ(zip.CompressionMode(), 0);
  EXPECT_EQ(zip.CompressionMethod(), 0);
  zip.SetName(u"Z");
  std::u16string message;
  EXPECT_EQ(NativeErrorOf([&] { zip.SetCompressionMode(10); }, &message), za::neCompressionMode);
  EXPECT_EQ(message, u"Z: Invalid compression mode. Mode must be in [0-9] range - Native error: 00005");
  EXPECT_EQ(zip.CompressionMode(), 0);
  EXPECT_EQ(zip.CompressionLevel(), za::clNone);
}

TEST(ArchiverPropertiesTest, SmallSetterRules) {
  TZipArchiver zip;
  zip.SetCurrentVersion(u"9.99");
  EXPECT_EQ(zip.CurrentVersion(), u"5.01 ");
  zip.SetEncryptionMethod(za::caAES_256);
  zip.SetPassword("secret");  // the first password resets the method
  EXPECT_EQ(zip.EncryptionMethod(), za::caPkzipClassic);
  zip.SetEncryptionMethod(za::caAES_128);
  zip.SetPassword("other");
  EXPECT_EQ(zip.EncryptionMethod(), za::caAES_128);
  zip.SpanningOptions().SetCustomVolumeSize(100);
  EXPECT_EQ(zip.SpanningOptions().CustomVolumeSize(), 65536);
  zip.SpanningOptions().VolumeSize = za::vs1_44MB;
  EXPECT_EQ(zip.SpanningOptions().VolumeSizeBytes(), 1457664);
  za::TZABaseArchiver base;
  EXPECT_EQ(base.CompressionMethod(), 8);
}

TEST_F(ArchiverTest, OpensReadsAndClosesAnArchiveFile) {
  Write("small.zip", SmallArchive());
  TZipArchiver zip;
  int opened = 0;
  zip.AfterOpen = [&](za::TZABaseArchiver* sender) { opened += sender == &zip; };
  zip.SetFileName(WidePath("small.zip"));
  zip.OpenArchive();
  EXPECT_TRUE(zip.Active());
  EXPECT_EQ(zip.OpenMode(), za::kZAModeReadWrite);
  EXPECT_EQ(opened, 1);
  ASSERT_EQ(zip.Count(), 2);
  EXPECT_EQ(zip.Item(1).EntryName, u"b.txt");
  zip.CloseArchive();
  EXPECT_FALSE(zip.Active());
  EXPECT_EQ(zip.DirManager(), nullptr);
  EXPECT_EQ(zip.ArchiveStream(), nullptr);
  EXPECT_EQ(NativeErrorOf([&] { zip.Item(0); }), za::neArchiveNotOpen);
  EXPECT_EQ(Read("small.zip"), SmallArchive());  // reading writes nothing
  zip.CloseArchive();                             // harmless when closed
}

// A batch says which entry it is at, for handlers that would otherwise
// find it by name; a selection by a mask that takes every name leaves no
// entry of an earlier selection selected that the attributes refuse.
TEST_F(ArchiverTest, BatchNamesTheEntryItIsAtAndSelectsAfresh) {
  za::testing::Archive a;
  a.entries.push_back(za::testing::Entry{"a.txt", "alpha"});
  za::testing::Entry hidden{"h.txt", "hidden"};
  hidden.attributes = 0x22;
  a.entries.push_back(hidden);
  a.entries.push_back(za::testing::Entry{"c.txt", "gamma"});
  Write("batch.zip", a.Build());
  TZipArchiver zip;
  zip.SetFileName(WidePath("batch.zip"));
  zip.OpenArchive(za::kZAModeReadOnly);
  std::vector<std::int32_t> seen;
  zip.OnConfirmProcessFile = [&](za::TZABaseArchiver*, const std::u16string& name, za::TZAProcessOperation,
                                 bool&) {
    seen.push_back(zip.BatchEntry());
    EXPECT_EQ(zip.Item(zip.BatchEntry()).EntryName, name);
  };
  EXPECT_EQ(zip.BatchEntry(), -1);
  zip.TestFiles(u"*.*", 0x3F, u"");  // hidden ones too
  EXPECT_EQ(seen, (std::vector<std::int32_t>{0, 1, 2}));
  seen.clear();
  zip.TestFiles(u"*", 0x21, u"");  // not the hidden one, selected before
  EXPECT_EQ(seen, (std::vector<std::int32_t>{0, 2}));
  EXPECT_EQ(zip.BatchEntry(), -1);
}

// A load filter makes only the entries it keeps, in directory order, with
// a name index that finds them; the rest are counted, and the archive
// cannot be written back without them.
TEST_F(ArchiverTest, LoadFilterKeepsOnlyTheNamedEntries) {
  za::testing::Archive a;
  for (const char* name : {"a.txt", "dir/b.txt", "c.txt", "dir/B.TXT", "e.txt"})
    a.entries.push_back(za::testing::Entry{name, name});
  Write("many.zip", a.Build());
  TZipArchiver zip;
  zip.SetLoadFilter([](std::u16string_view name) { return name.find(u"b.") != std::u16string_view::npos ||
                                                         name.find(u"B.") != std::u16string_view::npos; });
  zip.SetFileName(WidePath("many.zip"));
  zip.OpenArchive(za::kZAModeReadOnly);
  ASSERT_EQ(zip.Count(), 2);
  EXPECT_EQ(zip.Item(0).EntryName, u"dir/b.txt");
  EXPECT_EQ(zip.Item(1).EntryName, u"dir/B.TXT");
  EXPECT_EQ(zip.DirManager()->EntriesLeftOut, 3u);
  EXPECT_EQ(zip.DirManager()->Items.NameIndex().Count(), 2);
  EXPECT_EQ(zip.DirManager()->Items.IndexOfName(u"DIR/b.txt"), 1);  // the latest of equal names
  EXPECT_EQ(zip.DirManager()->Items.IndexOfName(u"a.txt"), -1);
  za::TZAMemoryStream data;
  zip.ExtractItemToStream(1, data);
  EXPECT_EQ(std::string(data.Data().begin(), data.Data().end()), "dir/B.TXT");
  EXPECT_EQ(NativeErrorOf([&] { zip.BeginUpdate(); }), za::neReadOnlyUpdate);
  zip.CloseArchive();

  zip.SetLoadFilter({});
  zip.OpenArchive(za::kZAModeReadOnly);
  EXPECT_EQ(zip.Count(), 5);
  EXPECT_EQ(zip.DirManager()->EntriesLeftOut, 0u);
}

TEST_F(ArchiverTest, ReadOnlyFileOpensReadOnly) {
  Write("ro.zip", SmallArchive());
  chmod(Path("ro.zip").c_str(), 0444);
  TZipArchiver zip;
  zip.SetFileName(WidePath("ro.zip"));
  zip.OpenArchive();
  EXPECT_EQ(zip.OpenMode(), za::kZAModeReadOnly);
  EXPECT_EQ(zip.Count(), 2);
}

TEST_F(ArchiverTest, MissingFileIsCreatedAsAnEmptyArchive) {
  TZipArchiver zip;
  zip.SetFileName(WidePath("new.zip"));
  zip.OpenArchive();
  EXPECT_EQ(zip.OpenMode(), za::kZAModeCreate);
  EXPECT_EQ(zip.Count(), 0);
  zip.CloseArchive();
  EXPECT_EQ(Read("new.zip"), za::testing::Archive{}.Build());
  zip.OpenArchive();
  EXPECT_EQ(zip.OpenMode(), za::kZAModeReadWrite);
  EXPECT_EQ(zip.Count(), 0);
}

TEST_F(ArchiverTest, OpenErrors) {
  TZipArchiver zip;
  zip.SetName(u"Z");
  zip.SetFileName(WidePath("sub") + u"\\");
  EXPECT_EQ(NativeErrorOf([&] { zip.OpenArchive(); }), za::neBlankFileName);
  EXPECT_EQ(NativeErrorOf([&] { zip.OpenArchive(za::kZAModeReadOnly); }), za::neBlankFileNameMode);
  std::u16string message;
  zip.SetFileName(WidePath("absent.zip"));
  EXPECT_EQ(NativeErrorOf([&] { zip.OpenArchive(za::kZAModeReadOnly); }, &message), za::neArchiveNotFound);
  EXPECT_EQ(message, u"Z: File \"" + WidePath("absent.zip") + u"\" not found - Native error: 00012");
  Write("present.zip", SmallArchive());
  zip.SetFileName(WidePath("present.zip"));
  zip.SetInMemory(true);
  EXPECT_EQ(NativeErrorOf([&] { zip.OpenArchive(za::kZAModeReadWrite); }), za::neInMemoryFromFile);
  zip.SetInMemory(false);
  Write("text.zip", "not an archive at all");
  zip.SetFileName(WidePath("text.zip"));
  EXPECT_EQ(NativeErrorOf([&] { zip.OpenArchive(); }, &message), za::neInvalidArchive);
  EXPECT_EQ(message, u"Invalid archive file. - Native error: 00035");
  EXPECT_FALSE(zip.Active());
  zip.CloseArchive();
  EXPECT_EQ(zip.DirManager(), nullptr);
}

TEST_F(ArchiverTest, RepairSwitchOffRefusesADamagedArchive) {
  Write("damaged.zip", SmallArchive() + "tail");
  TZipArchiver zip;
  zip.SetFileName(WidePath("damaged.zip"));
  zip.SetRepairEnabled(false);
  EXPECT_EQ(NativeErrorOf([&] { zip.OpenArchive(); }), za::neArchiveDamaged);
  zip.SetRepairEnabled(true);
  zip.OpenArchive();
  EXPECT_TRUE(zip.DirManager()->Rebuilt);
  EXPECT_EQ(zip.Count(), 2);
}

TEST_F(ArchiverTest, SpanningModeCannotChangeWhileOpen) {
  TZipArchiver zip;
  zip.SetInMemory(true);
  zip.OpenArchive();
  try {
    zip.SetSpanningMode(za::smSplitting);
    FAIL();
  } catch (const za::Exception& e) {
    EXPECT_EQ(e.Message(), u"Cannot set spanning mode on open archive");
  }
  EXPECT_EQ(zip.SpanningMode(), za::smNone);
}

TEST_F(ArchiverTest, InMemoryArchiveMovesToAFile) {
  TZipArchiver zip;
  zip.SetInMemory(true);
  zip.OpenArchive();
  EXPECT_EQ(zip.OpenMode(), za::kZAModeCreate);
  EXPECT_EQ(NativeErrorOf([&] { zip.SetInMemory(false); }), za::neBlankFileNameInMemory);
  zip.SetFileName(WidePath("mem.zip"));
  zip.SetInMemory(false);
  EXPECT_FALSE(zip.InMemory());
  EXPECT_TRUE(zip.Active());
  EXPECT_EQ(zip.OpenMode(), za::kZAModeReadWrite);
  EXPECT_EQ(Read("mem.zip").size(), 22u);
  zip.SetInMemory(true);
  EXPECT_TRUE(zip.Active());
  EXPECT_EQ(zip.Count(), 0);
}

TEST(ArchiverStreamTest, ArchiveInACallersStream) {
  std::string bytes = SmallArchive();
  za::TZABufferStream stream(bytes.data(), bytes.size());
  {
    TZipArchiver zip;
    zip.OpenArchive(stream);
    ASSERT_EQ(zip.Count(), 2);
    EXPECT_EQ(zip.Item(0).EntryName, u"a.txt");
  }
  EXPECT_EQ(stream.Size(), static_cast<std::int64_t>(bytes.size()));  // still the caller's
  za::TZAMemoryStream fresh;
  {
    TZipArchiver zip;
    zip.OpenArchive(fresh, true);
    zip.CloseArchive();
  }
  EXPECT_EQ(fresh.Size(), 22);
}

}  // namespace
