// Volumes as files: a set made by zip -s, read from a folder that the POSIX
// stand-in takes for a removable drive (one disk in it at a time, swapped by
// the headless user), and from a fixed folder with a volume gone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "archive/archiver.h"
#include "memory_volumes.h"
#include "native_error.h"
#include "sys/wide_file.h"
#include "temp_dir.h"
#include "ui/headless.h"

namespace fs = std::filesystem;

namespace {

using za::testing::Have;

class SpannedFilesTest : public za::testing::TempDirTest {
 protected:
  void SetUp() override {
    ui::headless::Reset();
    for (const char* d : {"in", "set", "drive", "out"}) fs::create_directory(dir_ / d);
    Write("in/noise.bin", za::testing::Noise(170000, 7));  // stored: its data crosses three volumes
    std::string text;
    for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i) + "\n";
    Write("in/text.txt", text);
  }
  void TearDown() override {
    sys::WideSetRemovableFolder(u"");
    ui::headless::Reset();
  }
  // The set a.z01 ... a.zip in set/; the number of volumes.
  int MakeSet() {
    std::string command = "cd " + Path("in") + " && zip -q -0 -s 64k " + Path("set/a.zip") + " noise.bin text.txt";
    EXPECT_EQ(std::system(command.c_str()), 0);
    int volumes = 0;
    for (auto& e : fs::directory_iterator(dir_ / "set")) volumes += e.is_regular_file();
    return volumes;
  }
  std::string Disk(int number, int volumes) const {
    if (number == volumes) return Read("set/a.zip");
    return Read("set/a.z0" + std::to_string(number));
  }
  bool SameAsInput(const std::string& name) const { return Read("out/" + name) == Read("in/" + name); }
  // Written as spanned disks of 64 KiB, the volumes made in tmp/.
  void SpanInDisksOf64K(za::TZipArchiver& zip) {
    zip.SetSpanningMode(za::smSpanning);
    zip.SpanningOptions().VolumeSize = za::vsCustom;
    zip.SpanningOptions().SetCustomVolumeSize(65536);
    zip.SetTempDir(WidePath("tmp"));
  }
  // The disk a box asks for: the first, "#N", or the last.
  static int DiskAskedFor(const std::string& text, int volumes) {
    if (text == "Please insert the first disk") return 1;
    if (text.rfind("Please insert disk #", 0) == 0) return std::atoi(text.c_str() + 20);
    return volumes;
  }
  // Opens drive/a.zip as a spanned set and extracts it into out/, the
  // headless user putting in the disk each box asks for; the inputs must
  // come back.
  void ExtractInsertingDisks(za::TZipArchiver& zip, std::function<std::string(int)> disk, int volumes) {
    ui::headless::SetDialogResponder([this, disk, volumes](const ui::headless::DialogRecord& box) {
      Write("drive/a.zip", disk(DiskAskedFor(box.text, volumes)));
      return ui::DialogResult::Ok;
    });
    zip.SetFileName(WidePath("drive/a.zip"));
    zip.OpenArchive(za::kZAModeReadOnly);
    EXPECT_EQ(zip.SpanningMode(), za::smSpanning);
    zip.SetBaseDir(WidePath("out"));
    zip.ExtractFiles(u"*.*", 10431, u"");
    EXPECT_TRUE(SameAsInput("noise.bin"));
    EXPECT_TRUE(SameAsInput("text.txt"));
  }
};

TEST_F(SpannedFilesTest, DisksOfASetAreSwappedInOneRemovableDriveThroughTheBoxes) {
  if (!Have("zip")) GTEST_SKIP() << "zip missing";
  int volumes = MakeSet();
  ASSERT_EQ(volumes, 4);
  sys::WideSetRemovableFolder(WidePath("drive"));
  Write("drive/a.zip", Disk(1, volumes));  // the first disk is in the drive
  za::TZipArchiver zip;
  ExtractInsertingDisks(zip, [&](int disk) { return Disk(disk, volumes); }, volumes);
  std::vector<std::string> texts;
  for (const auto& box : ui::headless::ShownDialogs()) {
    texts.push_back(box.text);
    EXPECT_EQ(box.options.buttons, ui::DialogButtons::OkCancel) << box.text;
  }
  // The last disk holds the directory; the stored noise runs over the first
  // three, the text from the third onto the last.
  EXPECT_EQ(texts, (std::vector<std::string>{"Please insert the last disk", "Please insert the first disk",
                                             "Please insert disk #2", "Please insert disk #3",
                                             "Please insert the last disk"}));

  // Cancel in a box refuses the disk: the batch ends without a further box.
  fs::remove_all(dir_ / "out");
  fs::create_directory(dir_ / "out");
  ui::headless::Reset();
  ui::headless::SetDialogResponder([](const ui::headless::DialogRecord&) { return ui::DialogResult::Cancel; });
  zip.ExtractFiles(u"*.*", 10431, u"");
  ASSERT_EQ(ui::headless::ShownDialogs().size(), 1u);
  EXPECT_FALSE(fs::exists(dir_ / "out" / "noise.bin"));
  EXPECT_FALSE(fs::exists(dir_ / "out" / "text.txt"));
}

TEST_F(SpannedFilesTest, AVolumeGoneFromASplitSetEndsTheBatchWithoutABox) {
  if (!Have("zip")) GTEST_SKIP() << "zip missing";
  ASSERT_EQ(MakeSet(), 4);
  fs::remove(dir_ / "set" / "a.z02");
  za::TZipArchiver zip;
  zip.SetFileName(WidePath("set/a.zip"));
  zip.OpenArchive();
  EXPECT_EQ(zip.SpanningMode(), za::smSplitting);
  zip.SetBaseDir(WidePath("out"));
  zip.ExtractFiles(u"*.*", 10431, u"");
  EXPECT_TRUE(ui::headless::ShownDialogs().empty());
  EXPECT_FALSE(fs::exists(dir_ / "out" / "noise.bin"));  // its data runs through a.z02
  EXPECT_FALSE(fs::exists(dir_ / "out" / "text.txt"));   // never tried: the batch ended
}

// Written disk by disk into the removable drive, each volume as a.zip on its
// own blank disk asked for by a box; read back with the disks swapped in by
// the reading side's boxes, and by 7z as the same volumes named a.z01 ...
TEST_F(SpannedFilesTest, ASpannedArchiveIsWrittenDiskByDiskAndReadBack) {
  sys::WideSetRemovableFolder(WidePath("drive"));
  fs::create_directory(dir_ / "tmp");
  std::vector<std::string> disks;  // taken out of the drive, in order
  std::vector<std::string> asked;
  ui::headless::SetDialogResponder([&](const ui::headless::DialogRecord& box) {
    asked.push_back(box.text);
    disks.push_back(Read("drive/a.zip"));
    fs::remove(dir_ / "drive" / "a.zip");  // a blank disk
    return ui::DialogResult::Ok;
  });
  {
    za::TZipArchiver zip;
    SpanInDisksOf64K(zip);
    zip.SetFileName(WidePath("drive/a.zip"));
    zip.OpenArchive();
    zip.BeginUpdate();
    for (const char* name : {"noise.bin", "text.txt"}) {
      std::string data = Read(std::string("in/") + name);
      zip.AddFromBuffer(std::u16string(name, name + std::char_traits<char>::length(name)), data.data(), data.size());
    }
    zip.EndUpdate();
  }
  disks.push_back(Read("drive/a.zip"));
  const int volumes = static_cast<int>(disks.size());
  ASSERT_GE(volumes, 3);
  ASSERT_EQ(static_cast<int>(asked.size()), volumes - 1);
  for (int i = 0; i < volumes - 1; ++i) EXPECT_EQ(asked[i], "Please insert blank disk #" + std::to_string(i + 2));
  for (const std::string& disk : disks) EXPECT_LE(disk.size(), 65536u);
  EXPECT_EQ(disks[0].substr(0, 4), std::string("PK\x07\x08", 4));
  EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));

  if (Have("7z")) {
    for (int i = 0; i < volumes; ++i)
      Write(i + 1 == volumes ? "set/a.zip" : "set/a.z0" + std::to_string(i + 1), disks[i]);
    EXPECT_EQ(std::system(("7z t '" + Path("set/a.zip") + "' >/dev/null 2>&1").c_str()), 0);
  }

  ui::headless::Reset();
  za::TZipArchiver zip;
  ExtractInsertingDisks(zip, [&](int disk) { return disks[disk - 1]; }, volumes);
}

// A blank disk refused ends the commit with an error and no file of the
// attempt left in the drive or the temporary folder; a stub that does not
// fit the first disk is native error 47.
TEST_F(SpannedFilesTest, ARefusedBlankDiskEndsTheSpannedWriteWithAnError) {
  sys::WideSetRemovableFolder(WidePath("drive"));
  fs::create_directory(dir_ / "tmp");
  ui::headless::SetDialogResponder([&](const ui::headless::DialogRecord&) { return ui::DialogResult::Cancel; });
  std::string noise = Read("in/noise.bin");
  {
    za::TZipArchiver zip;
    SpanInDisksOf64K(zip);
    zip.SetFileName(WidePath("drive/b.zip"));
    zip.OpenArchive();
    EXPECT_THROW(zip.AddFromBuffer(u"noise.bin", noise.data(), noise.size()), za::Exception);
  }
  EXPECT_EQ(ui::headless::ShownDialogs().size(), 1u);
  EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));
  for (auto& e : fs::directory_iterator(dir_ / "drive")) EXPECT_NE(e.path().extension(), ".tmp") << e.path();

  // The size of a disk detected from its free space: here all fits the
  // first one, a plain archive with no box.
  ui::headless::Reset();
  {
    za::TZipArchiver zip;
    zip.SetSpanningMode(za::smSpanning);
    zip.SetTempDir(WidePath("tmp"));
    zip.SetFileName(WidePath("drive/d.zip"));
    zip.OpenArchive();
    zip.AddFromBuffer(u"noise.bin", noise.data(), noise.size());
  }
  EXPECT_TRUE(ui::headless::ShownDialogs().empty());
  EXPECT_EQ(Read("drive/d.zip").substr(0, 4), std::string("PK\x03\x04", 4));
  if (Have("unzip")) EXPECT_EQ(std::system(("unzip -tqq '" + Path("drive/d.zip") + "' >/dev/null 2>&1").c_str()), 0);

  Write("stub.exe", std::string(70000, 'S'));
  za::TZipArchiver zip;
  SpanInDisksOf64K(zip);
  zip.SetSFXStub(WidePath("stub.exe"));
  zip.SetFileName(WidePath("drive/c.exe"));
  zip.OpenArchive();
  EXPECT_EQ(za::testing::NativeErrorOf([&] { zip.AddFromBuffer(u"n", noise.data(), 1000); }), 47);
  EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));
}

}  // namespace

// A disk too full for its volume (a label file takes room on each blank
// disk) is reported through OnDiskFull. Room made there has the volume
// written again; a cancel ends the write, leaving no file of the attempt on
// the disk or in the temporary folder.
TEST_F(SpannedFilesTest, ADiskTooFullIsReportedAndWrittenAgainOnceThereIsRoom) {
  sys::WideSetRemovableFolder(WidePath("drive"), 65536);
  fs::create_directory(dir_ / "tmp");
  Write("drive/label", std::string(20000, 'L'));
  EXPECT_EQ(sys::WideFreeSpace(WidePath("drive")), 65536 - 20000);
  fs::remove(dir_ / "drive" / "label");
  std::string noise = Read("in/noise.bin");
  std::string text = Read("in/text.txt");
  std::vector<std::string> disks;
  std::vector<std::int32_t> full;
  bool giveUp = false;
  auto span = [&](za::TZipArchiver& zip, const std::string& name) {
    SpanInDisksOf64K(zip);
    zip.OnRequestBlankVolume = [&, name](za::TZABaseArchiver*, std::int32_t, std::u16string&, bool&) {
      disks.push_back(Read("drive/" + name));
      fs::remove(dir_ / "drive" / name);
      Write("drive/label", std::string(20000, 'L'));
    };
    zip.OnDiskFull = [&](za::TZABaseArchiver*, std::int32_t volume, const std::u16string&, bool& cancel) {
      full.push_back(volume);
      fs::remove(dir_ / "drive" / "label");
      cancel = giveUp;
    };
    zip.SetFileName(WidePath("drive/" + name));
    zip.OpenArchive();
    zip.BeginUpdate();
    zip.AddFromBuffer(u"noise.bin", noise.data(), noise.size());
    zip.AddFromBuffer(u"text.txt", text.data(), text.size());
    zip.EndUpdate();
  };
  {
    za::TZipArchiver zip;
    span(zip, "a.zip");
  }
  disks.push_back(Read("drive/a.zip"));
  const int volumes = static_cast<int>(disks.size());
  ASSERT_GE(volumes, 3);
  // Every disk after the first had too little room at first and got its
  // volume once the label was gone.
  std::vector<std::int32_t> expected;
  for (int v = 2; v <= volumes; ++v)
    if (disks[v - 1].size() > 65536 - 20000) expected.push_back(v);
  EXPECT_FALSE(expected.empty());
  EXPECT_EQ(full, expected);
  EXPECT_TRUE(ui::headless::ShownDialogs().empty());
  {
    za::TZipArchiver zip;
    ExtractInsertingDisks(zip, [&](int disk) { return disks[disk - 1]; }, volumes);
  }

  // A blank first disk, and a cancel when the second is too full.
  for (auto& e : fs::directory_iterator(dir_ / "drive")) fs::remove(e.path());
  full.clear();
  disks.clear();
  giveUp = true;
  ui::headless::Reset();
  {
    za::TZipArchiver zip;
    EXPECT_THROW(span(zip, "b.zip"), za::Exception);
  }
  EXPECT_EQ(full, std::vector<std::int32_t>{2});
  EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));
  for (auto& e : fs::directory_iterator(dir_ / "drive")) EXPECT_NE(e.path().extension(), ".tmp") << e.path();
}
