#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <thread>
#include <tuple>

#include "archive/archiver.h"
#include "sys/codepage.h"
#include "temp_dir.h"
#include "ui/headless.h"
#include "zip_builder.h"

using za::testing::Archive;
using za::testing::Entry;
namespace fs = std::filesystem;

namespace {

// Scripted answers for the questions asked without a handler.
struct ScriptedDialogs : za::TZAUserDialogs {
  za::TZAAction ConfirmFailure(const std::u16string& text, bool withRetry) override {
    failures.push_back(text);
    retryOffered = withRetry;
    return failureAnswer;
  }
  TOverwriteAnswer ConfirmOverwrite(const std::u16string& text) override {
    overwrites.push_back(text);
    return overwriteAnswer;
  }
  bool AskPassword(const std::u16string&, std::string&) override { return false; }
  std::vector<std::u16string> failures, overwrites;
  bool retryOffered = false;
  za::TZAAction failureAnswer = za::fxaIgnore;
  TOverwriteAnswer overwriteAnswer = oaNo;
};

// 2025-01-01 12:00:00 local, as a file time.
std::time_t EntryTime() {
  std::tm tm{};
  tm.tm_year = 125;
  tm.tm_mon = 0;
  tm.tm_mday = 1;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

class ExtractTest : public za::testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    fs::create_directory(dir_ / "out");
    zip.SetDialogs(&dialogs);
    zip.SetName(u"Z");
  }
  void Open(const Archive& a) {
    Write("a.zip", a.Build());
    zip.SetFileName(WidePath("a.zip"));
    zip.OpenArchive();
    zip.SetBaseDir(WidePath("out"));
  }
  void ExtractAll() { zip.ExtractFiles(u"*.*", 10431, u""); }
  bool Exists(const std::string& p) const { return fs::exists(dir_ / "out" / p); }
  std::string Out(const std::string& p) const { return Read("out/" + p); }
  void Stamp(const std::string& p, std::time_t t) const {
    struct timespec ts[2] = {{t, 0}, {t, 0}};
    utimensat(AT_FDCWD, Path("out/" + p).c_str(), ts, 0);
  }
  // Failures seen by a handler: native errors in order.
  void RecordFailures(za::TZAAction answer = za::fxaIgnore) {
    zip.OnProcessFileFailure = [this, answer](za::TZABaseArchiver*, const std::u16string& name,
                                              za::TZAProcessOperation op, std::int32_t native, std::int32_t,
                                              const std::u16string& message, za::TZAAction& action) {
      EXPECT_EQ(op, za::poExtract);
      EXPECT_EQ(action, za::fxaIgnore);
      failures.push_back(native);
      failedNames.push_back(name);
      messages.push_back(message);
      action = answer;
    };
  }
  za::TZipArchiver zip;
  ScriptedDialogs dialogs;
  std::vector<int> failures;
  std::vector<std::u16string> failedNames, messages;
};

Archive Tree() {
  Archive a;
  a.entries.push_back(Entry{"root.txt", "root"});
  a.entries.push_back(Entry{"dir/", ""});
  a.entries.back().attributes = 0x10;
  a.entries.push_back(Entry::Deflated("dir/sub/deep.txt", std::string(10000, 'd')));
  a.entries.push_back(Entry{"dir/readonly.txt", "ro"});
  a.entries.back().attributes = 0x21;
  a.entries.push_back(Entry{"flagged-folder", ""});
  a.entries.back().attributes = 0x10;
  return a;
}

TEST_F(ExtractTest, WritesFilesFoldersTimesAndAttributes) {
  Open(Tree());
  ExtractAll();
  EXPECT_EQ(Out("root.txt"), "root");
  EXPECT_EQ(Out("dir/sub/deep.txt"), std::string(10000, 'd'));
  EXPECT_TRUE(fs::is_directory(dir_ / "out" / "dir"));
  EXPECT_FALSE(Exists("flagged-folder"));  // a folder by its attribute only: just the folders above it
  struct stat st;
  ASSERT_EQ(stat(Path("out/root.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, EntryTime());
  ASSERT_EQ(stat(Path("out/dir/readonly.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
}

TEST_F(ExtractTest, MasksAndExclusions) {
  Open(Tree());
  zip.ExtractFiles(u"*.TXT", 10431, u"dir/sub/*");
  EXPECT_TRUE(Exists("root.txt"));
  EXPECT_TRUE(Exists("dir/readonly.txt"));  // found by its last component
  EXPECT_FALSE(Exists("dir/sub/deep.txt"));
  fs::remove_all(dir_ / "out");
  zip.ExtractFiles(u"*.txt", 10431, u"dir\\sub\\*");  // "\" never excludes inside a folder
  EXPECT_TRUE(Exists("dir/sub/deep.txt"));
  fs::remove_all(dir_ / "out");
  zip.Options().Recurse = false;
  zip.ExtractFiles(u"*.txt", 10431, u"");
  EXPECT_TRUE(Exists("root.txt"));
  EXPECT_FALSE(Exists("dir/readonly.txt"));
  zip.Options().Recurse = true;
  fs::remove_all(dir_ / "out");
  zip.ExtractFiles(u"C:*.txt", 10431, u"");  // the drive is ignored
  EXPECT_TRUE(Exists("root.txt"));
  fs::remove_all(dir_ / "out");
  zip.Options().StorePath = za::spFullPathWithDrive;
  zip.ExtractFiles(u"C:*.txt", 10431, u"");
  EXPECT_FALSE(Exists("root.txt"));
}

// The masks that take every name are walked without a search per entry;
// the attributes still leave out what the search leaves out, in the same
// order as a mask that names each entry.
TEST_F(ExtractTest, EveryNameMasksKeepTheAttributeRuleAndTheOrder) {
  Archive a = Tree();
  a.entries.push_back(Entry{"hidden.txt", "h"});
  a.entries.back().attributes = 0x22;
  a.entries.push_back(Entry{"system.txt", "s"});
  a.entries.back().attributes = 0x24;
  Open(a);
  const std::vector<std::int32_t> all{0, 1, 2, 3, 4, 5, 6};
  const std::vector<std::int32_t> plain{0, 1, 2, 3, 4};
  for (const char16_t* mask : {u"*", u"*.*", u"?*"}) {
    EXPECT_EQ(zip.FindIndexes(mask, u"", 0x3F), all) << "mask " << sys::WideToUtf8(mask);
    EXPECT_EQ(zip.FindIndexes(mask, u"", 0x10), plain) << "mask " << sys::WideToUtf8(mask);
  }
  EXPECT_EQ(zip.FindIndexes(u"*", u"dir/*", 0x3F), (std::vector<std::int32_t>{0, 1, 4, 5, 6}));
  zip.Options().Recurse = false;
  EXPECT_EQ(zip.FindIndexes(u"*", u"", 0x3F), (std::vector<std::int32_t>{0, 1, 4, 5, 6}));
  zip.Options().Recurse = true;
  zip.ExtractFiles(u"*.*", 0x10, u"");
  EXPECT_TRUE(Exists("root.txt"));
  EXPECT_TRUE(Exists("dir/readonly.txt"));
  EXPECT_FALSE(Exists("hidden.txt"));
  EXPECT_FALSE(Exists("system.txt"));
}

TEST_F(ExtractTest, MaskLongerThanTheSearchRecordSelectsNothing) {
  Open(Tree());
  za::TZAArchiveItem rec;
  EXPECT_TRUE(zip.FindFirst(std::u16string(260, u'*'), rec, u"", 10431));
  EXPECT_FALSE(zip.FindFirst(std::u16string(261, u'*'), rec, u"", 10431));
  EXPECT_TRUE(zip.FindFirst(u"root.txt", rec, u"", 10431));
  EXPECT_EQ(rec.ItemName, u"root.txt");
  EXPECT_FALSE(zip.FindNext(rec));
}

TEST_F(ExtractTest, EmptyMaskRaisesOnlyTheOverallEvents) {
  Open(Tree());
  std::vector<std::pair<double, za::TZAProgressPhase>> overall;
  zip.OnOverallProgress = [&](za::TZABaseArchiver*, double p, za::TZAProcessOperation, za::TZAProgressPhase phase,
                              bool&) { overall.emplace_back(p, phase); };
  int files = 0;
  zip.OnFileProgress = [&](auto...) { ++files; };
  zip.ExtractFiles(u"", 10431, u"");
  ASSERT_EQ(overall.size(), 2u);
  EXPECT_EQ(overall[0], std::make_pair(0.0, za::ppStart));
  EXPECT_EQ(overall[1], std::make_pair(100.0, za::ppEnd));
  EXPECT_EQ(files, 0);
  // Folder entries need their bit in the search attributes; read-only never excludes.
  std::vector<std::u16string> seen;
  zip.OnConfirmProcessFile = [&](za::TZABaseArchiver*, const std::u16string& name, za::TZAProcessOperation,
                                 bool&) { seen.push_back(name); };
  zip.ExtractFiles(u"*.*", 0, u"");
  EXPECT_EQ(seen, (std::vector<std::u16string>{u"root.txt", u"dir\\sub\\deep.txt", u"dir\\readonly.txt"}));
}

TEST_F(ExtractTest, OverwriteModes) {
  Archive a;
  a.entries.push_back(Entry{"f.txt", "archived"});
  Open(a);
  auto existing = [&](std::time_t t) {
    Write("out/f.txt", "existing");
    Stamp("f.txt", t);
  };
  const std::time_t s = EntryTime();
  struct Case {
    za::TZAOverwriteMode mode;
    std::time_t existingTime;
    bool replaced;
  } cases[] = {{za::omAlways, s, true},       {za::omNever, s - 100, false},   {za::omIfNewer, s - 100, true},
               {za::omIfNewer, s, false},     {za::omIfNewer, s + 100, false}, {za::omIfOlder, s + 100, true},
               {za::omIfOlder, s, false},     {za::omIfOlder, s - 100, false}};
  for (const Case& c : cases) {
    existing(c.existingTime);
    zip.Options().OverwriteMode = c.mode;
    ExtractAll();
    EXPECT_EQ(Out("f.txt"), c.replaced ? "archived" : "existing") << int(c.mode) << " " << c.existingTime - s;
  }
  // A prompt through the handler, which may also redirect the output.
  zip.Options().OverwriteMode = za::omPrompt;
  existing(s);
  zip.OnConfirmOverwrite = [&](za::TZABaseArchiver*, const std::u16string& source, std::u16string& dest,
                               bool& confirm) {
    EXPECT_EQ(source, u"f.txt");
    EXPECT_EQ(dest, WidePath("out") + u"\\f.txt");
    dest = WidePath("out") + u"\\other.txt";
    confirm = true;
  };
  ExtractAll();
  EXPECT_EQ(Out("other.txt"), "archived");
  EXPECT_EQ(Out("f.txt"), "existing");
  // The default question: Yes to All changes the mode for good.
  zip.OnConfirmOverwrite = nullptr;
  dialogs.overwriteAnswer = za::TZAUserDialogs::oaYesToAll;
  ExtractAll();
  ASSERT_EQ(dialogs.overwrites.size(), 1u);
  EXPECT_EQ(dialogs.overwrites[0], u"Overwrite file \"" + WidePath("out") + u"\\f.txt\" with \"f.txt\"");
  EXPECT_EQ(zip.Options().OverwriteMode, za::omAlways);
  EXPECT_EQ(Out("f.txt"), "archived");
}

TEST_F(ExtractTest, ReadOnlyFilesStayUnlessReplacingIsAllowed) {
  Archive a;
  a.entries.push_back(Entry{"ro.txt", "archived"});
  Open(a);
  Write("out/ro.txt", "existing");
  chmod(Path("out/ro.txt").c_str(), 0444);
  zip.Options().ReplaceReadOnly = false;
  RecordFailures();
  ExtractAll();
  EXPECT_EQ(Out("ro.txt"), "existing");
  EXPECT_TRUE(failures.empty());
  zip.Options().ReplaceReadOnly = true;
  ExtractAll();
  EXPECT_EQ(Out("ro.txt"), "archived");
}

TEST_F(ExtractTest, CancelAtEachPhase) {
  Archive a;
  a.entries.push_back(Entry{"one.txt", "1"});
  a.entries.push_back(Entry::Deflated("two.txt", std::string(3'000'000, '2')));
  a.entries.push_back(Entry{"three.txt", "3"});
  Open(a);
  bool ended = false;
  zip.OnOverallProgress = [&](za::TZABaseArchiver*, double, za::TZAProcessOperation, za::TZAProgressPhase phase,
                              bool& cancel) {
    if (phase == za::ppStart) cancel = true;
    if (phase == za::ppEnd) ended = true;
  };
  ExtractAll();
  EXPECT_FALSE(Exists("one.txt"));
  EXPECT_TRUE(ended);

  zip.OnOverallProgress = nullptr;
  zip.OnFileProgress = [&](za::TZABaseArchiver*, const std::u16string& name, double, za::TZAProcessOperation,
                           za::TZAProgressPhase phase, bool& cancel) {
    if (name == u"two.txt" && phase == za::ppStart) cancel = true;
  };
  ExtractAll();
  EXPECT_TRUE(Exists("one.txt"));
  EXPECT_FALSE(Exists("two.txt"));
  EXPECT_FALSE(Exists("three.txt"));

  fs::remove_all(dir_ / "out");
  zip.OnFileProgress = [&](za::TZABaseArchiver*, const std::u16string& name, double progress,
                           za::TZAProcessOperation, za::TZAProgressPhase phase, bool& cancel) {
    if (name == u"two.txt" && phase == za::ppProcess && progress > 10) cancel = true;
  };
  ExtractAll();
  EXPECT_TRUE(Exists("one.txt"));
  EXPECT_FALSE(Exists("two.txt"));  // the partial output is deleted
  EXPECT_FALSE(Exists("three.txt"));
}

Archive WithBadEntry() {
  Archive a;
  a.entries.push_back(Entry{"bad.txt", "bad"});
  a.entries.back().crcOverride = 1;
  a.entries.push_back(Entry{"good.txt", "good"});
  return a;
}

TEST_F(ExtractTest, FailureAnswersRetryIgnoreAbort) {
  Open(WithBadEntry());
  int attempts = 0;
  zip.OnConfirmProcessFile = [&](za::TZABaseArchiver*, const std::u16string& name, za::TZAProcessOperation,
                                 bool&) { attempts += name == u"bad.txt"; };
  zip.OnProcessFileFailure = [&](za::TZABaseArchiver*, const std::u16string&, za::TZAProcessOperation,
                                 std::int32_t native, std::int32_t code, const std::u16string& message,
                                 za::TZAAction& action) {
    EXPECT_EQ(native, 8);
    EXPECT_EQ(code, 4);
    EXPECT_EQ(message,
              u"Z: Invalid size or check sum of file or unsupported compression format - Native error: 00008");
    action = attempts < 2 ? za::fxaRetry : za::fxaIgnore;
  };
  ExtractAll();
  EXPECT_EQ(attempts, 2);
  EXPECT_FALSE(Exists("bad.txt"));  // no partial output after Ignore
  EXPECT_TRUE(Exists("good.txt"));

  fs::remove_all(dir_ / "out");
  RecordFailures(za::fxaAbort);
  ExtractAll();  // returns normally
  EXPECT_EQ(failures, std::vector<int>{8});
  EXPECT_FALSE(Exists("good.txt"));
}

TEST_F(ExtractTest, CorruptedEntryKeptWhenAccepted) {
  Open(WithBadEntry());
  zip.SetExtractCorruptedFiles(true);
  RecordFailures();
  ExtractAll();
  EXPECT_TRUE(failures.empty());
  EXPECT_EQ(Out("bad.txt"), "bad");
  struct stat st;
  ASSERT_EQ(stat(Path("out/bad.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, EntryTime());
}

TEST_F(ExtractTest, CorruptedEntryKeptIsNamedAsDamaged) {
  Open(WithBadEntry());
  zip.SetExtractCorruptedFiles(true);
  std::vector<bool> damaged;
  zip.OnFileProgress = [&](za::TZABaseArchiver* z, const std::u16string&, double, za::TZAProcessOperation,
                           za::TZAProgressPhase phase, bool&) {
    if (phase == za::ppEnd) damaged.push_back(z->LastEntryDamaged());
  };
  ExtractAll();
  EXPECT_EQ(damaged, (std::vector<bool>{true, false}));
}

// With the faster inflater on, sound, damaged and lying entries give the
// same files, reports and failures as with zlib alone, whether the damaged
// ones are kept or not: the data limit included (a size declared short
// stops the output there).
TEST_F(ExtractTest, FastInflateLeavesFilesReportsAndFailuresAsZlibDoes) {
  std::string text;
  for (std::uint32_t x = 7; text.size() < 2200000; x = x * 1103515245 + 12345)
    text += "entry " + std::to_string(x >> 20) + (x & 0x100 ? " zone\n" : " host ");
  Archive a;
  a.entries.push_back(Entry::Deflated("sound.txt", text));
  a.entries.push_back(Entry::Deflated("crc.txt", text));
  a.entries.back().crcOverride = 1;
  a.entries.push_back(Entry::Deflated("damaged.txt", text));
  a.entries.back().data[a.entries.back().data.size() / 2] ^= 0x21;
  a.entries.push_back(Entry::Deflated("short.txt", text));
  a.entries.back().sizeOverride = 1500000;
  a.entries.push_back(Entry::Deflated("small.txt", "small"));
  Open(a);
  std::vector<std::string> events;
  zip.OnFileProgress = [&](za::TZABaseArchiver*, const std::u16string& name, double percent,
                           za::TZAProcessOperation, za::TZAProgressPhase phase, bool&) {
    events.push_back(std::string(name.begin(), name.end()) + " " + std::to_string(phase) + " " +
                     std::to_string(percent));
  };
  RecordFailures();
  for (bool keep : {false, true}) {
    std::vector<std::string> seen[2], files[2];
    std::vector<int> failed[2];
    for (bool fast : {false, true}) {
      fs::remove_all(dir_ / "out");
      fs::create_directory(dir_ / "out");
      events.clear();
      failures.clear();
      zip.SetExtractCorruptedFiles(keep);
      zip.SetFastInflate(fast);
      ExtractAll();
      seen[fast] = events;
      failed[fast] = failures;
      for (const char* name : {"sound.txt", "crc.txt", "damaged.txt", "short.txt", "small.txt"})
        files[fast].push_back(Exists(name) ? Out(name) : "(none)");
    }
    EXPECT_EQ(seen[1], seen[0]) << "kept: " << keep;
    EXPECT_EQ(failed[1], failed[0]) << "kept: " << keep;
    EXPECT_EQ(files[1], files[0]) << "kept: " << keep;
    EXPECT_EQ(files[1][0], text);
    EXPECT_EQ(failed[1].size(), keep ? 0u : 3u);
  }
}

// The first entry's local header lies past the end of the archive.
TEST_F(ExtractTest, ReadErrorLeavesTheBatchUnlessItFailsTheEntryAlone) {
  Archive a;
  a.entries.push_back(Entry{"lost.txt", "lost"});
  a.entries.push_back(Entry{"kept.txt", "kept"});
  std::string bytes = a.Build();
  std::size_t central = bytes.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  std::uint32_t past = static_cast<std::uint32_t>(bytes.size() + 5000);
  for (int k = 0; k < 4; ++k) bytes[central + 42 + k] = static_cast<char>(past >> (8 * k));
  Write("a.zip", bytes);
  zip.SetFileName(WidePath("a.zip"));
  zip.OpenArchive();
  zip.SetBaseDir(WidePath("out"));
  RecordFailures();
  EXPECT_THROW(ExtractAll(), za::EReadError);
  EXPECT_FALSE(Exists("kept.txt"));

  zip.SetReadErrorFailsEntry(true);
  ExtractAll();
  EXPECT_EQ(failures, std::vector<int>{8});
  EXPECT_EQ(failedNames, std::vector<std::u16string>{u"lost.txt"});
  EXPECT_EQ(messages, std::vector<std::u16string>{u"Stream read error"});
  EXPECT_EQ(Out("kept.txt"), "kept");
}

TEST_F(ExtractTest, DefaultFailureQuestion) {
  Open(WithBadEntry());
  dialogs.failureAnswer = za::fxaAbort;
  ExtractAll();
  ASSERT_EQ(dialogs.failures.size(), 1u);
  EXPECT_EQ(dialogs.failures[0],
            u"Z: Invalid size or check sum of file or unsupported compression format - Native error: 00008. "
            u"File processing error, possibly disk is full");
  EXPECT_TRUE(dialogs.retryOffered);
  EXPECT_FALSE(Exists("good.txt"));
}

TEST_F(ExtractTest, DefaultDialogsGoThroughUiMessageBoxes) {
  Open(WithBadEntry());
  zip.SetDialogs(nullptr);
  ui::headless::Reset();
  ui::headless::SetDialogResponder([](const ui::headless::DialogRecord&) { return ui::DialogResult::Ignore; });
  ExtractAll();
  ASSERT_EQ(ui::headless::ShownDialogs().size(), 1u);
  const auto& box = ui::headless::ShownDialogs()[0];
  EXPECT_NE(box.text.find("File processing error, possibly disk is full"), std::string::npos);
  EXPECT_EQ(box.options.buttons, ui::DialogButtons::AbortRetryIgnore);
  EXPECT_TRUE(Exists("good.txt"));
  ui::headless::Reset();
}

TEST_F(ExtractTest, DefaultOverwriteQuestionOffersTheFourAnswers) {
  Archive a;
  a.entries.push_back(Entry{"f.txt", "archived"});
  Open(a);
  Write("out/f.txt", "existing");
  zip.SetDialogs(nullptr);
  zip.Options().OverwriteMode = za::omPrompt;
  ui::headless::Reset();
  ui::headless::SetDialogResponder([](const ui::headless::DialogRecord&) { return ui::DialogResult::NoToAll; });
  ExtractAll();
  ASSERT_EQ(ui::headless::ShownDialogs().size(), 1u);
  EXPECT_EQ(ui::headless::ShownDialogs()[0].options.buttons, ui::DialogButtons::YesNoNoToAllYesToAll);
  EXPECT_EQ(zip.Options().OverwriteMode, za::omNever);  // for good
  EXPECT_EQ(Out("f.txt"), "existing");
  ui::headless::Reset();
}

TEST_F(ExtractTest, StoredNamesNeverLeaveTheDestination) {
  const char* names[] = {"../up.txt",    "..\\up.txt",         "C:drive.txt",   "c:\\drive.txt",
                         "\\\\srv\\sh\\x.txt", "a/../../x.txt",      "a//b.txt",      ".. /x.txt",
                         "d/.../x.txt",  "../",                 "//srv/sh/y.txt"};
  Archive a;
  for (const char* n : names) a.entries.push_back(Entry{n, "evil"});
  a.entries.push_back(Entry{"fine.txt", "fine"});
  a.entries.push_back(Entry{"/abs.txt", "rooted"});  // the destination's root is where it lands
  a.entries.push_back(Entry{"\\abs2.txt", "rooted"});
  Open(a);
  RecordFailures();
  auto before = std::distance(fs::recursive_directory_iterator(dir_), fs::recursive_directory_iterator());
  ExtractAll();
  ASSERT_EQ(failures.size(), std::size(names));
  for (int f : failures) EXPECT_EQ(f, 19);
  EXPECT_EQ(messages[0], u"Z: Cannot create file \"" + WidePath("out") + u"\\..\\up.txt\" - Native error: 00019");
  auto after = std::distance(fs::recursive_directory_iterator(dir_), fs::recursive_directory_iterator());
  EXPECT_EQ(after, before + 3);
  EXPECT_EQ(Out("fine.txt"), "fine");
  EXPECT_EQ(Out("abs.txt"), "rooted");
  EXPECT_EQ(Out("abs2.txt"), "rooted");

  // Without folders, a name's folders are dropped before it is judged; a
  // drive or server still takes the file out of the destination.
  fs::remove_all(dir_ / "out");
  fs::create_directory(dir_ / "out");
  failedNames.clear();
  zip.Options().CreateDirs = false;
  ExtractAll();
  EXPECT_EQ(Out("up.txt"), "evil");
  EXPECT_EQ(Out("x.txt"), "evil");
  EXPECT_EQ(failedNames, (std::vector<std::u16string>{u"C:drive.txt", u"c:\\drive.txt", u"\\\\srv\\sh\\x.txt",
                                                      u"a\\\\b.txt", u"\\\\srv\\sh\\y.txt"}));
}

TEST_F(ExtractTest, NothingIsWrittenThroughALinkBelowTheDestination) {
  fs::create_directory(dir_ / "elsewhere");
  fs::create_directory(dir_ / "out" / "dir");
  fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "out" / "dir" / "sub");
  fs::create_symlink(dir_ / "elsewhere" / "root.txt", dir_ / "out" / "root.txt");
  Open(Tree());
  RecordFailures();
  ExtractAll();
  EXPECT_EQ(failures, std::vector<int>{20});
  EXPECT_EQ(failedNames, std::vector<std::u16string>{u"dir\\sub\\deep.txt"});
  EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere"));
  // A link in a file's place is replaced, not written through.
  EXPECT_FALSE(fs::is_symlink(dir_ / "out" / "root.txt"));
  EXPECT_EQ(Out("root.txt"), "root");
  EXPECT_EQ(Out("dir/readonly.txt"), "ro");
  // Nor is a file made ahead there, not even for a while.
  zip.SetOutputAhead(true, true);
  bool touched = false;
  zip.OnFileProgress = [&](za::TZABaseArchiver*, const std::u16string&, double, za::TZAProcessOperation,
                           za::TZAProgressPhase, bool&) { touched = touched || !fs::is_empty(dir_ / "elsewhere"); };
  ExtractAll();
  EXPECT_FALSE(touched);
  EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere"));
}

TEST_F(ExtractTest, AttributesAreNotSetThroughALinkPutInTheFilesPlaceWhileItIsWritten) {
  fs::create_directory(dir_ / "elsewhere");
  Write("elsewhere/victim.txt", "keep me writable");
  fs::permissions(dir_ / "elsewhere" / "victim.txt", fs::perms(0644));
  Archive a;
  a.entries.push_back(Entry{"ro.txt", "read-only"});
  a.entries.back().attributes = 0x21;
  Open(a);
  bool swapped = false;
  zip.OnFileProgress = [&](za::TZABaseArchiver*, const std::u16string&, double, za::TZAProcessOperation,
                           za::TZAProgressPhase phase, bool&) {
    if (phase != za::ppProcess || swapped) return;
    swapped = true;
    fs::rename(dir_ / "out" / "ro.txt", dir_ / "out" / "moved.txt");
    fs::create_symlink(dir_ / "elsewhere" / "victim.txt", dir_ / "out" / "ro.txt");
  };
  ExtractAll();
  ASSERT_TRUE(swapped);
  struct stat st;
  ASSERT_EQ(stat(Path("elsewhere/victim.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  ASSERT_EQ(stat(Path("out/moved.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);  // the file that was written got them
}

TEST_F(ExtractTest, ExtractedFilesAreReportedWithSizeAndSha256OfWhatWasWritten) {
  Archive a = WithBadEntry();
  a.entries.push_back(Entry::Deflated("dir/deep.txt", std::string(100000, 'd')));
  Open(a);
  RecordFailures();
  std::vector<std::tuple<std::u16string, std::uint64_t, za::TZASha256::Digest>> reported;
  zip.OnFileExtracted = [&](za::TZABaseArchiver*, const std::u16string& name, std::uint64_t size,
                            const za::TZASha256::Digest& digest) { reported.emplace_back(name, size, digest); };
  ExtractAll();
  auto sha = [](const std::string& data) {
    za::TZASha256 hash;
    hash.Update(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    za::TZASha256::Digest digest{};
    EXPECT_TRUE(hash.Final(digest));
    return digest;
  };
  // The damaged entry is not reported: it was never put in place.
  EXPECT_EQ(failures.size(), 1u);
  ASSERT_EQ(reported.size(), 2u);
  EXPECT_EQ(reported[0], std::make_tuple(WidePath("out") + u"\\good.txt", std::uint64_t{4}, sha("good")));
  EXPECT_EQ(reported[1], std::make_tuple(WidePath("out") + u"\\dir\\deep.txt", std::uint64_t{100000},
                                         sha(std::string(100000, 'd'))));
}

TEST_F(ExtractTest, NameFromTheHandlerIsHonoured) {
  Archive a;
  a.entries.push_back(Entry{"x.txt", "moved"});
  Open(a);
  std::u16string target = WidePath("elsewhere.txt");
  zip.OnExtractFile = [&](za::TZABaseArchiver*, std::u16string& name, std::uint32_t& attr, const std::string&) {
    name = u"..\\elsewhere.txt";
    attr = 0x20;
  };
  ExtractAll();
  EXPECT_EQ(Read("elsewhere.txt"), "moved");
}

TEST_F(ExtractTest, WithoutCreateDirsFilesGoFlatAndMeetEachOther) {
  Archive a;
  a.entries.push_back(Entry{"a/same.txt", "first"});
  a.entries.push_back(Entry{"b/same.txt", "second"});
  Open(a);
  zip.Options().CreateDirs = false;
  zip.Options().OverwriteMode = za::omNever;
  ExtractAll();
  EXPECT_EQ(Out("same.txt"), "first");
  EXPECT_FALSE(Exists("a"));
}

// Files made ahead on helper threads: the same files come out, whatever
// handlers skip or move, and no file made ahead stays behind, also when
// the batch is cancelled.
TEST_F(ExtractTest, OutputMadeAheadGivesTheSameFilesAndLeavesNothing) {
  Archive a;
  for (int i = 0; i < 40; ++i)
    a.entries.push_back(Entry{(i % 2 ? "odd/" : "even/") + std::to_string(i) + ".txt", std::to_string(i)});
  a.entries[7].crcOverride = 1;  // fails its check
  Open(a);
  zip.SetOutputAhead(true, true);
  zip.OnConfirmProcessFile = [](za::TZABaseArchiver*, const std::u16string& name, za::TZAProcessOperation,
                                bool& confirm) { confirm = name != u"even\\10.txt"; };
  zip.OnExtractFile = [](za::TZABaseArchiver*, std::u16string& name, std::uint32_t&, const std::string&) {
    if (name == u"odd\\3.txt") name = u"moved.txt";
  };
  RecordFailures();
  fs::create_directories(dir_ / "out" / "even");  // the first entries find their folder made
  ExtractAll();
  EXPECT_EQ(failures, std::vector<int>{8});
  EXPECT_EQ(Out("moved.txt"), "3");
  EXPECT_EQ(Out("odd/39.txt"), "39");
  EXPECT_FALSE(Exists("even/10.txt") || Exists("odd/7.txt") || Exists("odd/3.txt"));
  auto files = [&] {
    std::size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir_ / "out")) {
      EXPECT_EQ(e.path().filename().string().rfind("~za", 0), std::string::npos) << e.path();
      n += e.is_regular_file();
    }
    return n;
  };
  EXPECT_EQ(files(), 38u);
  fs::remove_all(dir_ / "out");
  zip.OnFileProgress = [](za::TZABaseArchiver*, const std::u16string& name, double, za::TZAProcessOperation,
                          za::TZAProgressPhase phase, bool& cancel) {
    if (phase == za::ppEnd && name == u"odd\\21.txt") cancel = true;
  };
  ExtractAll();
  EXPECT_EQ(files(), 20u);  // 0 to 21, less 7 and 10
}

// Files made ahead lie where the entries go: one a handler's name points
// at, or that two entries share, must not pass for a file that was there.
TEST_F(ExtractTest, OutputMadeAheadIsNeverTakenForAnExistingFile) {
  Archive a;
  a.entries.push_back(Entry{"dup.txt", "first"});
  for (int i = 0; i < 12; ++i) a.entries.push_back(Entry{std::to_string(i) + ".txt", std::to_string(i)});
  a.entries.push_back(Entry{"dup.txt", "second"});
  Open(a);
  zip.SetOutputAhead(true, true);
  zip.Options().OverwriteMode = za::omNever;
  zip.OnExtractFile = [](za::TZABaseArchiver*, std::u16string& name, std::uint32_t&, const std::string&) {
    if (name != u"2.txt") return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the helpers have made 5.txt by now
    name = u"5.txt";
  };
  RecordFailures();
  for (int round = 0; round < 3; ++round) {
    fs::remove_all(dir_ / "out");
    ExtractAll();
    EXPECT_EQ(failures, std::vector<int>{});
    EXPECT_EQ(Out("dup.txt"), "first");
    EXPECT_EQ(Out("5.txt"), "2");  // the entry that came first, the later one kept out
    EXPECT_FALSE(Exists("2.txt"));
    EXPECT_EQ(Out("11.txt"), "11");
  }
}

// Files made ahead only for the larger entries meet the files the batch
// makes for the smaller ones at the same places, as all made ahead do.
TEST_F(ExtractTest, OutputMadeAheadForLargerEntriesOnlyMeetsTheOthers) {
  Archive a;
  a.entries.push_back(Entry{"dup.txt", "s"});
  a.entries.push_back(Entry{"big0.txt", std::string(100, '0')});
  a.entries.push_back(Entry{"small.txt", "t"});
  a.entries.push_back(Entry{"dup.txt", std::string(100, 'L')});
  a.entries.push_back(Entry{"big1.txt", std::string(100, '1')});
  Open(a);
  zip.SetOutputAhead(true, true);
  zip.SetOutputAheadFrom(50);
  zip.Options().OverwriteMode = za::omNever;
  zip.OnExtractFile = [](za::TZABaseArchiver*, std::u16string& name, std::uint32_t&, const std::string&) {
    if (name != u"small.txt") return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the helpers have made big1.txt by now
    name = u"big1.txt";
  };
  RecordFailures();
  ExtractAll();
  EXPECT_EQ(failures, std::vector<int>{});
  EXPECT_EQ(Out("dup.txt"), "s");
  EXPECT_EQ(Out("big1.txt"), "t");  // the small entry sent there came first
  EXPECT_EQ(Out("big0.txt"), std::string(100, '0'));
  for (const auto& e : fs::directory_iterator(dir_ / "out"))
    EXPECT_EQ(e.path().filename().string().rfind("~za", 0), std::string::npos) << e.path();
}

// An entry whose time cannot be given keeps its data and is named, a file
// once it is in place, a folder once the batch sets folder times.
TEST_F(ExtractTest, TimesNotSetAreNamedAndTheDataKept) {
  Archive a;
  a.entries.push_back(Entry{"good.txt", "g"});
  a.entries.push_back(Entry{"nodate.txt", "n"});
  a.entries.back().date = 0;
  a.entries.push_back(Entry{"dir/", ""});
  a.entries.back().attributes = 0x10;
  a.entries.back().date = 0x5BA1;  // month 13
  a.entries.push_back(Entry{"dir/in.txt", "i"});
  Open(a);
  std::vector<std::pair<std::u16string, int>> notices;
  zip.OnExtractNotice = [&](za::TZABaseArchiver*, const std::u16string& name, za::TZAExtractNotice notice,
                            const std::u16string&, std::int32_t error) {
    EXPECT_EQ(notice, za::enTimeNotSet);
    notices.emplace_back(name, error);
  };
  RecordFailures();
  using Named = std::vector<std::pair<std::u16string, int>>;
  for (bool exact : {false, true}) {
    fs::remove_all(dir_ / "out");
    notices.clear();
    zip.Fidelity().ExactTimes = exact;  // which also sets folder times
    ExtractAll();
    EXPECT_EQ(failures, std::vector<int>{});
    EXPECT_EQ(Out("nodate.txt"), "n");
    EXPECT_EQ(Out("dir/in.txt"), "i");
    const Named named = exact ? Named{{u"nodate.txt", 0}, {u"dir\\", 0}} : Named{{u"nodate.txt", 0}};
    EXPECT_EQ(notices, named);
  }
}

TEST_F(ExtractTest, FolderRemovedByAHandlerIsMadeAgain) {
  Archive a;
  a.entries.push_back(Entry{"dir/a.txt", "a"});
  a.entries.push_back(Entry{"dir/b.txt", "b"});
  Open(a);
  zip.OnFileProgress = [&](za::TZABaseArchiver*, const std::u16string& name, double, za::TZAProcessOperation,
                           za::TZAProgressPhase phase, bool&) {
    if (name == u"dir\\a.txt" && phase == za::ppEnd) fs::remove_all(dir_ / "out" / "dir");
  };
  RecordFailures();
  ExtractAll();
  EXPECT_EQ(failures, std::vector<int>{});
  EXPECT_EQ(Out("dir/b.txt"), "b");
}

TEST_F(ExtractTest, DestinationThatIsAFolderFails) {
  Archive a;
  a.entries.push_back(Entry{"taken", "x"});
  Open(a);
  fs::create_directory(dir_ / "out" / "taken");
  RecordFailures();
  ExtractAll();
  EXPECT_EQ(failures, std::vector<int>{19});
  // A folder that cannot be made.
  Archive b;
  b.entries.push_back(Entry{"file/inside.txt", "x"});
  zip.CloseArchive();
  Open(b);
  Write("out/file", "a file where a folder should be");
  ExtractAll();
  EXPECT_EQ(failures, (std::vector<int>{19, 20}));
  EXPECT_EQ(messages[1], u"Z: Cannot create directory \"" + WidePath("out") + u"\\file\\\" - Native error: 00020");
}

TEST_F(ExtractTest, EmptyBaseDirMeansTheCurrentFolderOfTheFirstExtraction) {
  Archive a;
  a.entries.push_back(Entry{"here.txt", "x"});
  Open(a);
  zip.SetBaseDir(u"");
  fs::create_directory(dir_ / "first");
  fs::create_directory(dir_ / "second");
  fs::path saved = fs::current_path();
  fs::current_path(dir_ / "first");
  ExtractAll();
  fs::current_path(dir_ / "second");
  fs::remove(dir_ / "first" / "here.txt");
  ExtractAll();
  fs::current_path(saved);
  EXPECT_TRUE(fs::exists(dir_ / "first" / "here.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "second" / "here.txt"));
}

// Deflate data of stored blocks alone (zlib's level 0, as compressors write
// noise) is read where the mapped archive shows it, without an inflater:
// every outcome is still zlib's, intact or not, and so is that of data the
// walk leaves to the inflater.
TEST_F(ExtractTest, StoredBlocksShownInPlaceGiveZlibsOutcome) {
  std::string noise(150000, '\0');
  std::uint32_t x = 7;
  for (char& c : noise) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 23);
  auto deflated = [&](const std::string& name, const std::string& data) {
    Entry e(name, data, 8);
    e.plain = noise;
    e.hasPlain = true;
    return e;
  };
  const std::string stored = za::testing::RawDeflate(noise, 0);
  // A stored block of the first 1,000 bytes, the rest compressed after it.
  std::string mixed = {'\0', static_cast<char>(0xE8), 0x03, 0x17, static_cast<char>(0xFC)};
  mixed += noise.substr(0, 1000) + za::testing::RawDeflate(noise.substr(1000));
  Archive a;
  a.entries.push_back(deflated("intact", stored));
  a.entries.push_back(deflated("crc", stored));
  a.entries.back().crcOverride = za::testing::Crc(noise) ^ 1;
  a.entries.push_back(deflated("short", stored));
  a.entries.back().sizeOverride = static_cast<std::int64_t>(noise.size()) - 1;
  a.entries.push_back(deflated("long", stored));
  a.entries.back().sizeOverride = static_cast<std::int64_t>(noise.size()) + 1;
  a.entries.push_back(deflated("trailing", stored + "more bytes"));
  a.entries.push_back(deflated("mixed", mixed));
  a.entries.push_back(deflated("cut", stored.substr(0, stored.size() - 10)));
  Write("a.zip", a.Build());
  auto outcomes = [&](bool mapped) {
    za::TZipArchiver z;
    z.SetFileName(WidePath("a.zip"));
    z.OpenArchive();
    z.SetMappedReads(mapped);
    z.SetTestAhead(true);
    std::vector<std::string> seen;
    for (std::int32_t i = 0; i < z.Count(); ++i) {
      za::TZAMemoryStream out;
      int native = 0;
      try {
        z.ExtractItemToStream(i, out);
      } catch (const za::EZAException& e) {
        native = e.NativeError;
      }
      const auto& f = z.LastDecodeFailure();
      seen.push_back(std::to_string(native) + " " + std::to_string(f.Kind) + " " + std::to_string(f.Produced) +
                     " " + std::to_string(f.Crc32) + " " + std::to_string(za::testing::Crc(std::string(
                         out.Data().begin(), out.Data().end()))));
    }
    // The batch, whose helper leaves such data to it.
    z.OnProcessFileFailure = [&](za::TZABaseArchiver*, const std::u16string& name, za::TZAProcessOperation,
                                 std::int32_t native, std::int32_t, const std::u16string&, za::TZAAction& action) {
      seen.push_back(std::string(name.begin(), name.end()) + " " + std::to_string(native));
      action = za::fxaIgnore;
    };
    z.TestFiles(u"*.*", 10431, u"");
    return seen;
  };
  const std::vector<std::string> read = outcomes(false), shown = outcomes(true);
  EXPECT_EQ(shown, read);
  ASSERT_EQ(read.size(), 7u + 4u);
  EXPECT_EQ(read[0], "0 0 0 0 " + std::to_string(za::testing::Crc(noise)));
  EXPECT_EQ(read[7], "crc " + std::to_string(za::neCorruptedEntry));
}

TEST_F(ExtractTest, ClosedArchiveAndTesting) {
  int events = 0;
  zip.OnOverallProgress = [&](auto...) { ++events; };
  try {
    zip.ExtractFiles(u"*.*", 10431, u"");
    FAIL();
  } catch (const za::EZAException& e) {
    EXPECT_EQ(e.NativeError, za::neArchiveNotOpen);
  }
  EXPECT_EQ(events, 0);
  Open(WithBadEntry());
  std::vector<za::TZAProcessOperation> ops;
  zip.OnProcessFileFailure = [&](za::TZABaseArchiver*, const std::u16string&, za::TZAProcessOperation op,
                                 std::int32_t, std::int32_t, const std::u16string&, za::TZAAction&) {
    ops.push_back(op);
  };
  zip.TestFiles(u"*.*", 10431, u"");
  EXPECT_EQ(ops, std::vector<za::TZAProcessOperation>{za::poTest});
  EXPECT_FALSE(Exists("good.txt"));  // testing writes nothing
}

TEST_F(ExtractTest, EngineLockIsReentrantOnOneThread) {
  Archive a;
  a.entries.push_back(Entry{"outer.txt", "o"});
  Open(a);
  std::string inner = Archive{}.Build();
  za::TZABufferStream innerStream(inner.data(), inner.size());
  za::TZipArchiver other;
  other.OpenArchive(innerStream);
  bool ran = false;
  zip.OnFileProgress = [&](za::TZABaseArchiver*, const std::u16string&, double, za::TZAProcessOperation,
                           za::TZAProgressPhase phase, bool&) {
    if (phase == za::ppStart) {
      other.TestFiles(u"*.*", 10431, u"");
      ran = true;
    }
  };
  ExtractAll();
  EXPECT_TRUE(ran);
  EXPECT_TRUE(Exists("outer.txt"));
}

}  // namespace
