// Extraction over a file the user already has: whatever makes an entry
// fail, the file stays exactly as it was and nothing of the attempt is left
// beside it; an entry that decodes replaces it. Built for Windows too, so
// that the replacing is tried on the system it is meant for.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archiver.h"
#include "temp_dir.h"
#include "zip_builder.h"

using za::testing::Archive;
using za::testing::Entry;
namespace fs = std::filesystem;

namespace {

constexpr fs::perms kWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;

class ReplaceTest : public za::testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    fs::create_directory(dir_ / "out");
    zip.OnProcessFileFailure = [this](za::TZABaseArchiver*, const std::u16string&, za::TZAProcessOperation,
                                      std::int32_t native, std::int32_t, const std::u16string&,
                                      za::TZAAction& action) {
      failures.push_back(native);
      action = za::fxaIgnore;
    };
    zip.OnPassword = [this](za::TZABaseArchiver*, const std::u16string&, std::string&, bool& skip) {
      ++prompts;
      skip = true;
    };
  }

  // Puts "MINE" at out/f.txt, a day old, read-only when asked, and extracts
  // an archive of `entry` (under the name f.txt) over it.
  void ExtractOver(Entry entry, bool readOnly = false, std::uint32_t localHeaderOffset = 0) {
    entry.name = "f.txt";
    Archive a;
    a.entries.push_back(entry);
    std::string bytes = a.Build();
    if (localHeaderOffset) bytes.replace(bytes.find("PK\x01\x02") + 42, 4, za::testing::Le32(localHeaderOffset));
    Write("a.zip", bytes);
    fs::path mine = dir_ / "out" / "f.txt";
    if (fs::exists(mine)) fs::permissions(mine, kWrite, fs::perm_options::add);
    Write("out/f.txt", "MINE");
    fs::last_write_time(mine, fs::last_write_time(mine) - std::chrono::hours(24));
    if (readOnly) fs::permissions(mine, kWrite, fs::perm_options::remove);
    mineTime = fs::last_write_time(mine);
    failures.clear();
    prompts = 0;
    zip.SetFileName(WidePath("a.zip"));
    zip.OpenArchive();
    zip.SetBaseDir(WidePath("out"));
    zip.ExtractFiles(u"*.*", 10431, u"");
    zip.CloseArchive();
  }
  bool ReadOnly() const { return (fs::status(dir_ / "out" / "f.txt").permissions() & kWrite) == fs::perms::none; }
  // The file is the user's, untouched.
  bool MineKept(bool readOnly) const {
    return Read("out/f.txt") == "MINE" && fs::last_write_time(dir_ / "out" / "f.txt") == mineTime &&
           ReadOnly() == readOnly;
  }
  // Everything in out/ but f.txt.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ / "out"))
      if (e.path().filename() != "f.txt") names.push_back(e.path().filename().string());
    return names;
  }

  za::TZipArchiver zip;
  std::vector<int> failures;
  int prompts = 0;
  fs::file_time_type mineTime;
};

TEST_F(ReplaceTest, FailedEntryKeepsTheFileItWasToReplace) {
  Entry badCrc{"", "damaged"};
  badCrc.crcOverride = 1;
  Entry deflate64{"", "data", 9};
  Entry unknownMethod{"", "data", 12};
  Entry encrypted = za::testing::ClassicEncrypted("", "secret", "right");
  Entry big = Entry::Deflated("", std::string(3'000'000, 'b'));
  struct Case {
    const char* what;
    Entry entry;
    std::string password;
    bool corruptedWanted;
    bool cancel;
    std::vector<int> failures;
    int prompts;
  } cases[] = {
      {"CRC-32 mismatch", badCrc, "", false, false, {8}, 0},
      {"unsupported method", unknownMethod, "", false, false, {8}, 0},
      {"Deflate64, damaged output wanted", deflate64, "", true, false, {55}, 0},
      {"wrong password, prompt skipped", encrypted, "wrong", false, false, {}, 1},
      {"no password, prompt skipped", encrypted, "", false, false, {}, 1},
      {"cancelled while decoding", big, "", false, true, {}, 0},
  };
  for (const Case& c : cases) {
    for (bool readOnly : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (readOnly ? ", read-only" : ""));
      zip.SetPassword(c.password);
      zip.SetExtractCorruptedFiles(c.corruptedWanted);
      zip.OnFileProgress = [&c](za::TZABaseArchiver*, const std::u16string&, double progress,
                                za::TZAProcessOperation, za::TZAProgressPhase phase, bool& cancel) {
        if (c.cancel && phase == za::ppProcess && progress > 10) cancel = true;
      };
      ExtractOver(c.entry, readOnly);
      EXPECT_EQ(failures, c.failures);
      EXPECT_EQ(prompts, c.prompts);
      EXPECT_TRUE(MineKept(readOnly));
      EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    }
  }
}

// The disk is full where the run gives the program a file-size limit
// (ROVEND_FILE_SIZE_LIMIT bytes): writes past it fail.
TEST_F(ReplaceTest, FullDiskKeepsTheFileItWasToReplace) {
  const char* limit = std::getenv("ROVEND_FILE_SIZE_LIMIT");
  if (!limit) GTEST_SKIP() << "run without a file-size limit";
  int asked = 0;
  zip.OnDiskFull = [&](za::TZABaseArchiver*, std::int32_t, const std::u16string&, bool& cancel) {
    ++asked;
    cancel = true;
  };
  for (bool readOnly : {false, true}) {
    SCOPED_TRACE(readOnly ? "read-only" : "writable");
    asked = 0;
    ExtractOver(Entry::Deflated("", std::string(2 * std::strtoull(limit, nullptr, 10), 'f')), readOnly);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(failures, std::vector<int>{});
    EXPECT_TRUE(MineKept(readOnly));
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
  }
}

TEST_F(ReplaceTest, UnreadableArchiveLeavesTheCallAndKeepsTheFile) {
  // A local header past the end of the archive: the read error is no
  // failure of the entry and leaves ExtractFiles.
  EXPECT_THROW(ExtractOver(Entry{"", "data"}, false, 0x7FFFFFF0), za::EReadError);
  EXPECT_EQ(failures, std::vector<int>{});
  EXPECT_TRUE(MineKept(false));
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

TEST_F(ReplaceTest, DecodedEntryReplacesTheFile) {
  Entry plain{"", "archived"};
  plain.attributes = 0x21;  // read-only from the archive
  Entry badCrc{"", "damaged"};
  badCrc.crcOverride = 1;
  struct Case {
    const char* what;
    Entry entry;
    bool corruptedWanted;
    std::string content;
    bool readOnlyAfter;
  } cases[] = {
      {"good entry", plain, false, "archived", true},
      {"damaged entry kept as asked", badCrc, true, "damaged", false},
  };
  for (const Case& c : cases) {
    for (bool readOnly : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (readOnly ? ", over a read-only file" : ""));
      zip.SetExtractCorruptedFiles(c.corruptedWanted);
      ExtractOver(c.entry, readOnly);
      EXPECT_EQ(failures, std::vector<int>{});
      EXPECT_EQ(Read("out/f.txt"), c.content);
      EXPECT_NE(fs::last_write_time(dir_ / "out" / "f.txt"), mineTime);
      EXPECT_EQ(ReadOnly(), c.readOnlyAfter);
      EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    }
  }
}

TEST_F(ReplaceTest, PasswordGivenAtThePromptReplacesTheFile) {
  zip.SetPassword("wrong");
  zip.OnPassword = [this](za::TZABaseArchiver*, const std::u16string&, std::string& password, bool&) {
    ++prompts;
    password = "right";
  };
  ExtractOver(za::testing::ClassicEncrypted("", "secret", "right"));
  EXPECT_EQ(prompts, 1);
  EXPECT_EQ(Read("out/f.txt"), "secret");
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

TEST_F(ReplaceTest, FileKeptWhenItCannotBeReplaced) {
  // Nothing can take the place of a folder: the entry fails and the file
  // decoded for it goes.
  Archive a;
  a.entries.push_back(Entry{"taken", "x"});
  Write("a.zip", a.Build());
  fs::create_directory(dir_ / "out" / "taken");
  Write("out/taken/inside.txt", "MINE");
  zip.SetFileName(WidePath("a.zip"));
  zip.OpenArchive();
  zip.SetBaseDir(WidePath("out"));
  zip.ExtractFiles(u"*.*", 10431, u"");
  EXPECT_EQ(failures, std::vector<int>{19});
  EXPECT_EQ(Read("out/taken/inside.txt"), "MINE");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "out"), fs::directory_iterator()), 1);
}

}  // namespace
