// Multi-volume archives from memory: volume names, the streams over volumes,
// split sets of both naming schemes, and spanned disks swapped in one drive.
#include "archive/volumes.h"

#include <gtest/gtest.h>

#include "memory_volumes.h"
#include "native_error.h"
#include "split_builder.h"

using za::testing::Entry;
using za::testing::MemoryVolumes;

namespace {

std::vector<Entry> Entries() {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + " of the text\n";
  return {Entry::Deflated("big.bin", za::testing::Noise(700, 1)), Entry("stored.bin", za::testing::Noise(260, 2)),
          Entry("small.txt", "small"), Entry("empty.txt", ""), Entry::Deflated("dir/text.txt", text)};
}

std::vector<std::string> Plain(const std::vector<Entry>& entries) {
  std::vector<std::string> out;
  for (const Entry& e : entries) out.push_back(e.hasPlain ? e.plain : e.data);
  return out;
}

std::unique_ptr<za::TZAStream> Memory(const std::string& bytes) {
  auto s = std::make_unique<za::TZAMemoryStream>();
  s->Data().assign(bytes.begin(), bytes.end());
  return s;
}

using za::testing::NativeErrorOf;

TEST(VolumeNamesTest, BothSchemes) {
  std::u16string stem;
  std::uint32_t number = 0;
  ASSERT_TRUE(za::ZANumberedVolume(u"d/x.zip.004", stem, number));
  EXPECT_EQ(stem, u"d/x.zip");
  EXPECT_EQ(number, 4u);
  EXPECT_TRUE(za::ZANumberedVolume(u"x.1000", stem, number));
  EXPECT_EQ(number, 1000u);
  for (const char16_t* name : {u"x.zip", u"x.01", u"x.000", u"x.00a", u"d.001/x", u"x.1234567890"})
    EXPECT_FALSE(za::ZANumberedVolume(name, stem, number)) << std::string(name, name + 4);
  EXPECT_EQ(za::ZANumberedVolumeName(u"x.zip", 0), u"x.zip.001");
  EXPECT_EQ(za::ZANumberedVolumeName(u"x.zip", 999), u"x.zip.1000");

  EXPECT_EQ(za::ZASplitVolumeName(u"d\\a.b.zip", 0, 3), u"d\\a.b.z01");
  EXPECT_EQ(za::ZASplitVolumeName(u"a.zip", 99, 200), u"a.z100");
  EXPECT_EQ(za::ZASplitVolumeName(u"a.zip", 3, 3), u"a.zip");
  EXPECT_EQ(za::ZASplitVolumeName(u"d.x/a", 0, 1), u"d.x/a.z01");
  EXPECT_EQ(za::ZALastSplitVolumeName(u"a.z07"), u"a.zip");
  EXPECT_EQ(za::ZALastSplitVolumeName(u"a.Z123"), u"a.zip");
  EXPECT_EQ(za::ZALastSplitVolumeName(u"setup.EXE"), u"setup.zip");
  EXPECT_EQ(za::ZALastSplitVolumeName(u"a.zip"), u"a.zip");
  EXPECT_EQ(za::ZALastSplitVolumeName(u"a.zz"), u"a.zz");
  EXPECT_TRUE(za::ZAHasExeExtension(u"C:\\a.Exe"));
  EXPECT_FALSE(za::ZAHasExeExtension(u"a.exe\\b.zip"));
}

TEST(VolumeStreamTest, ReadsRunOnIntoTheNextVolumeAndStopAtOneThatGivesNothing) {
  std::vector<std::string> volumes = {"abc", "de", "", "fgh"};
  std::vector<std::int32_t> opened;
  za::TZAVolumeStream s([&](std::int32_t n) {
    opened.push_back(n);
    return Memory(volumes[static_cast<std::size_t>(n)]);
  });
  s.SetLastVolume(3);
  s.Select(0);
  s.SetPosition(1);
  char buf[16] = {};
  EXPECT_EQ(s.Read(buf, 10), 4);  // "bcde", then the empty volume ends it
  EXPECT_EQ(std::string(buf, 4), "bcde");
  EXPECT_EQ(s.Volume(), 2);
  s.Select(3);
  EXPECT_EQ(s.Read(buf, 10), 3);  // the last volume ends the read
  EXPECT_EQ(opened, (std::vector<std::int32_t>{0, 1, 2, 3}));
  s.Select(3);  // already current: not opened again
  EXPECT_EQ(opened.size(), 4u);
  EXPECT_THROW(s.Select(4), za::EReadError);
  EXPECT_EQ(s.Write("x", 1), 0);
}

TEST(JoinedStreamTest, PiecesReadAsOneStreamOpeningOneAtATime) {
  std::vector<std::string> pieces = {"ab", "", "cde", "f"};
  int opens = 0;
  za::TZAJoinedStream s(
      [&](std::int32_t n) {
        ++opens;
        return Memory(pieces[static_cast<std::size_t>(n)]);
      },
      {2, 0, 3, 1});
  EXPECT_EQ(s.Size(), 6);
  char buf[16] = {};
  s.SetPosition(1);
  EXPECT_EQ(s.Read(buf, 16), 5);
  EXPECT_EQ(std::string(buf, 5), "bcdef");
  EXPECT_EQ(opens, 3);
  EXPECT_EQ(s.Seek(-3, za::TZASeekOrigin::soEnd), 3);
  EXPECT_EQ(s.Read(buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "de");
  EXPECT_EQ(s.Seek(-7, za::TZASeekOrigin::soEnd), -1);
  // A piece shorter than it was when counted ends the read there.
  pieces[2] = "c";
  s.SetPosition(0);
  EXPECT_EQ(s.Read(buf, 16), 3);
}

struct SplitCase {
  std::size_t volumeSize;
  bool zip64;
};

class SplitArchiveTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitArchiveTest, EveryEntryComesBackOpenedByEachNameOfBothSchemes) {
  za::testing::SplitArchive a;
  a.entries = Entries();
  a.volumeSize = GetParam().volumeSize;
  a.zip64 = GetParam().zip64;
  std::vector<std::string> volumes = a.Build();
  ASSERT_GT(volumes.size(), 2u);
  std::u16string last = u"x.zip." + std::u16string(volumes.size() < 10 ? u"00" : u"0");
  for (char c : std::to_string(volumes.size())) last.push_back(static_cast<char16_t>(c));
  struct Opening {
    std::map<std::u16string, std::string> files;
    std::u16string name;
    bool advanced;
  };
  for (const Opening& o : {Opening{za::testing::ZipNamed(u"d/a", volumes), u"d/a.zip", false},
                           Opening{za::testing::ZipNamed(u"d/a", volumes), u"d/a.z01", false},
                           Opening{za::testing::Numbered(u"x.zip", volumes), u"x.zip.001", true},
                           Opening{za::testing::Numbered(u"x.zip", volumes), last, true}}) {
    SCOPED_TRACE(std::string(o.name.begin(), o.name.end()));
    MemoryVolumes zip;
    zip.files = o.files;
    zip.SpanningOptions().AdvancedNaming = !o.advanced;  // the probe finds the scheme itself
    zip.SetFileName(o.name);
    zip.OpenArchive();
    EXPECT_EQ(zip.SpanningMode(), za::smSplitting);
    EXPECT_EQ(zip.SpanningOptions().AdvancedNaming, o.advanced);
    EXPECT_TRUE(zip.MultiVolume());
    EXPECT_EQ(zip.LastVolume(), static_cast<std::int32_t>(volumes.size() - 1));
    ASSERT_EQ(zip.Count(), 5);
    EXPECT_EQ(zip.Item(4).EntryName, u"dir/text.txt");
    EXPECT_EQ(zip.Contents(), Plain(a.entries));
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SplitArchiveTest,
                         ::testing::Values(SplitCase{40, false}, SplitCase{100, false}, SplitCase{333, false},
                                           SplitCase{60, true}, SplitCase{500, true}));

TEST(SplitPiecesTest, AnArchiveCutAtAnyByteOpensByItsFirstAndLastPieces) {
  za::testing::Archive a;
  a.entries = Entries();
  std::string whole = a.Build();
  std::vector<std::string> pieces;
  for (std::size_t at = 0; at < whole.size(); at += 50) pieces.push_back(whole.substr(at, 50));
  std::u16string lastName = u"b.zip.0" + std::u16string(pieces.size() < 10 ? u"0" : u"");
  for (char c : std::to_string(pieces.size())) lastName.push_back(static_cast<char16_t>(c));
  for (const std::u16string& name : {std::u16string(u"b.zip.001"), lastName}) {
    MemoryVolumes zip;
    zip.files = za::testing::Numbered(u"b.zip", pieces);
    zip.SetFileName(name);
    zip.OpenArchive();
    EXPECT_EQ(zip.SpanningMode(), za::smSplitting);
    EXPECT_TRUE(zip.SpanningOptions().AdvancedNaming);
    EXPECT_FALSE(zip.MultiVolume());  // one stream, offsets from its start
    EXPECT_EQ(zip.Contents(), Plain(a.entries));
  }
  // One piece is a whole archive; a numbered name without pieces beside it
  // is an archive of its own.
  for (const char16_t* name : {u"c.zip.001", u"report.2024"}) {
    MemoryVolumes one;
    one.files[name] = whole;
    one.SetFileName(name);
    one.OpenArchive();
    EXPECT_EQ(one.Count(), 5);
    EXPECT_EQ(one.Contents(), Plain(a.entries));
  }
}

// The questions that come without handlers, recorded; a failure is aborted.
struct RecordedDialogs : za::TZAUserDialogs {
  za::TZAAction ConfirmFailure(const std::u16string& text, bool) override {
    failures.push_back(text);
    return za::fxaAbort;
  }
  TOverwriteAnswer ConfirmOverwrite(const std::u16string&) override { return oaNo; }
  bool AskPassword(const std::u16string&, std::string&) override { return false; }
  std::vector<std::u16string> failures;
};

TEST(SplitArchiveTest, AMissingVolumeIsRefusedAndAbortsTheBatchWithoutADialog) {
  za::testing::SplitArchive a;
  a.entries = Entries();
  a.volumeSize = 100;
  MemoryVolumes zip;
  RecordedDialogs dialogs;
  zip.SetDialogs(&dialogs);
  zip.files = za::testing::ZipNamed(u"a", a.Build());
  zip.files.erase(u"a.z05");  // in the data of the first entry
  zip.SetFileName(u"a.zip");
  zip.OpenArchive();
  std::vector<std::u16string> done;
  zip.OnFileProgress = [&](za::TZABaseArchiver*, const std::u16string& name, double, za::TZAProcessOperation,
                           za::TZAProgressPhase phase, bool&) {
    if (phase == za::ppStart) done.push_back(name);
  };
  zip.TestFiles(u"*.*", 10431, u"");
  EXPECT_EQ(done, std::vector<std::u16string>{u"big.bin"});  // nothing after it was tried
  EXPECT_TRUE(dialogs.failures.empty());
  EXPECT_EQ(NativeErrorOf([&] { zip.ExtractItemToStream(0, *std::make_unique<za::TNullStream>()); }), za::neVolumeRefused);

  // The pieces of the other scheme: a missing one is refused as it is opened.
  MemoryVolumes pieces;
  pieces.files = za::testing::Numbered(u"b.zip", a.Build());
  pieces.files.erase(u"b.zip.002");
  pieces.SetFileName(u"b.zip.003");
  EXPECT_EQ(NativeErrorOf([&] { pieces.OpenArchive(); }), za::neVolumeRefused);
}

TEST(SplitArchiveTest, AVolumeThatCannotBeOpenedOrLiesPastTheLastFailsItsEntryOnly) {
  za::testing::SplitArchive a;
  a.entries = Entries();
  a.volumeSize = 450;
  std::vector<std::string> volumes = a.Build();
  // The second entry's header said to lie on volume 99, past the last.
  std::string all;
  for (const std::string& v : volumes) all += v;
  const std::string central("PK\x01\x02", 4);
  std::size_t at = all.find(central, all.find(central) + 4) + 34;
  for (std::string& v : volumes) {
    if (at < v.size()) {
      v[at] = 99;
      break;
    }
    at -= v.size();
  }
  MemoryVolumes zip;
  zip.files = za::testing::ZipNamed(u"a", volumes);
  zip.SetFileName(u"a.zip");
  zip.OpenArchive();
  ASSERT_EQ(zip.Item(1).Header.DiskNumberStart, 99);
  EXPECT_EQ(NativeErrorOf([&] { zip.ExtractItemToStream(1, *std::make_unique<za::TNullStream>()); }), za::neCorruptedEntry);
  // A volume that is there but cannot be read is refused as a missing one
  // is, with the engine's error rather than the stream's.
  zip.unreadable = u"a.z01";
  EXPECT_EQ(NativeErrorOf([&] { zip.ExtractItemToStream(0, *std::make_unique<za::TNullStream>()); }), za::neVolumeRefused);
}

TEST(SplitArchiveTest, RequestEventsMayNameAVolumeThatWasMoved) {
  za::testing::SplitArchive a;
  a.entries = Entries();
  a.volumeSize = 450;
  MemoryVolumes zip;
  zip.files = za::testing::ZipNamed(u"a", a.Build());
  ASSERT_EQ(zip.files.size(), 5u);
  zip.files[u"moved/a.z02"] = zip.files[u"a.z02"];
  zip.files.erase(u"a.z02");
  std::vector<std::string> events;
  zip.OnRequestFirstVolume = [&](za::TZABaseArchiver*, std::u16string& name, bool&) {
    events.push_back("first " + std::string(name.begin(), name.end()));
  };
  zip.OnRequestLastVolume = [&](za::TZABaseArchiver*, std::u16string& name, bool&) {
    events.push_back("last " + std::string(name.begin(), name.end()));
  };
  zip.OnRequestMiddleVolume = [&](za::TZABaseArchiver*, std::int32_t number, std::u16string& name, bool&) {
    events.push_back(std::to_string(number) + " " + std::string(name.begin(), name.end()));
    if (name == u"a.z02") name = u"moved/a.z02";
  };
  zip.SetFileName(u"a.zip");
  zip.OpenArchive();
  EXPECT_EQ(zip.Contents(), Plain(a.entries));
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events[0], "4 a.z04");  // the directory starts there
  EXPECT_EQ(events[1], "last a.zip");
  EXPECT_EQ(events[2], "first a.z01");
  EXPECT_EQ(events[3], "2 a.z02");
  EXPECT_NE(std::find(zip.opened.begin(), zip.opened.end(), u"moved/a.z02"), zip.opened.end());

  // Cancel refuses the volume.
  zip.OnRequestMiddleVolume = [](za::TZABaseArchiver*, std::int32_t, std::u16string&, bool& cancel) {
    cancel = true;
  };
  EXPECT_EQ(NativeErrorOf([&] { zip.Contents(); }), za::neVolumeRefused);
}

// One drive, one disk in it at a time: each box is answered by inserting the
// disk it asks for (the last one for "not found"), or by Cancel.
struct DiskSwapper : RecordedDialogs {
  DiskSwapper(MemoryVolumes& zip, std::vector<std::string> disks) : zip(zip), disks(std::move(disks)) {}
  bool ConfirmVolume(const std::u16string& text) override {
    asked.push_back(std::string(text.begin(), text.end()));
    if (static_cast<int>(asked.size()) == cancelAt) return false;
    std::size_t disk = disks.size() - 1;
    if (text == u"Please insert the first disk") disk = 0;
    const std::u16string numbered = u"Please insert disk #";
    if (text.compare(0, numbered.size(), numbered) == 0)
      disk = std::stoul(std::string(text.begin() + static_cast<std::ptrdiff_t>(numbered.size()), text.end())) - 1;
    if (emptyDrive > 0) {
      --emptyDrive;
      zip.files.erase(kDrive);
    } else {
      zip.files[kDrive] = disks[disk];
    }
    return true;
  }
  static constexpr const char16_t* kDrive = u"A:\\set.zip";
  MemoryVolumes& zip;
  std::vector<std::string> disks;
  std::vector<std::string> asked;
  int cancelAt = -1;
  int emptyDrive = 0;  // answers that leave the drive empty
};

TEST(SpannedArchiveTest, DisksAreAskedForOneAtATimeUntilTheFileIsThere) {
  za::testing::SplitArchive a;
  a.entries = Entries();
  a.volumeSize = 550;
  std::vector<std::string> disks = a.Build();
  ASSERT_EQ(disks.size(), 4u);
  MemoryVolumes zip;
  zip.removable = true;
  DiskSwapper user(zip, disks);
  zip.SetDialogs(&user);
  user.emptyDrive = 1;
  zip.SetFileName(DiskSwapper::kDrive);
  zip.OpenArchive(za::kZAModeReadOnly);  // the drive is empty: OpenArchive() would make a new archive
  EXPECT_EQ(zip.SpanningMode(), za::smSpanning);
  EXPECT_EQ(zip.Contents(), Plain(a.entries));
  const std::vector<std::string> expected = {
      "Please insert the last disk",
      "File 'A:\\set.zip' not found on inserted disk. Please insert last disk with required file",
      "Please insert disk #3",  // the directory starts there
      "Please insert the last disk",
      "Please insert the first disk",
      "Please insert disk #2",
      "Please insert disk #3",
  };
  ASSERT_GE(user.asked.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(user.asked.begin(), user.asked.begin() + 7), expected);
  EXPECT_TRUE(user.failures.empty());

  // With the first disk in the drive the last one is asked for; Cancel
  // refuses it.
  MemoryVolumes again;
  again.removable = true;
  again.files[DiskSwapper::kDrive] = disks[0];
  DiskSwapper refusing(again, disks);
  refusing.cancelAt = 1;
  again.SetDialogs(&refusing);
  again.SetFileName(DiskSwapper::kDrive);
  EXPECT_EQ(NativeErrorOf([&] { again.OpenArchive(za::kZAModeReadOnly); }), za::neVolumeRefused);
  EXPECT_EQ(refusing.asked, std::vector<std::string>{"Please insert the last disk"});
}

}  // namespace
