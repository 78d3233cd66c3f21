// Writing archives: what the component writes must read back the same in
// our reader and in every peer tool, and a failed commit must leave the
// archive it was changing as it was.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <random>

#include "archive/archiver.h"
#include "archive/writer.h"
#include "native_error.h"
#include "temp_dir.h"
#include "zip_builder.h"

namespace {

namespace fs = std::filesystem;
using za::TZipArchiver;

class WriterTest : public za::testing::TempDirTest {
 protected:
  std::string Text(std::size_t size) const {
    std::string s;
    while (s.size() < size) s += "the quick brown fox jumps over the lazy dog " + std::to_string(s.size()) + "\n";
    s.resize(size);
    return s;
  }
  std::string Noise(std::size_t size) const {
    std::mt19937 random(7);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(random());
    return s;
  }
  // A tree of files: compressible text, incompressible bytes, an empty
  // file and an empty folder.
  void MakeTree() {
    fs::create_directories(Path("in/sub/deeper"));
    fs::create_directories(Path("in/empty"));
    Write("in/a.txt", Text(100000));
    Write("in/sub/noise.bin", Noise(70000));
    Write("in/sub/deeper/zero.txt", "");
    Write("in/sub/deeper/c.txt", Text(5000));
  }
  void Open(TZipArchiver& zip, const std::string& archive) {
    zip.SetFileName(WidePath(archive));
    zip.OnProcessFileFailure = [this](za::TZABaseArchiver*, const std::u16string& name, za::TZAProcessOperation,
                                      std::int32_t error, std::int32_t, const std::u16string&,
                                      za::TZAAction& action) {
      failures_.push_back(error);
      (void)name;
      action = za::fxaAbort;
    };
    zip.OpenArchive();
  }
  // Extracts with our reader into `into` and compares with `from`.
  void ExpectSameTree(const std::string& archive, const std::string& from, const std::string& into) {
    TZipArchiver zip;
    Open(zip, archive);
    zip.SetBaseDir(WidePath(into));
    zip.ExtractFiles(u"*.*", 10431, u"");
    zip.CloseArchive();
    EXPECT_TRUE(failures_.empty());
    for (auto& e : fs::recursive_directory_iterator(Path(from))) {
      fs::path rel = fs::relative(e.path(), Path(from));
      fs::path out = fs::path(Path(into)) / rel;
      if (e.is_directory()) {
        EXPECT_TRUE(fs::is_directory(out)) << rel;
      } else {
        EXPECT_EQ(Read((fs::path(into) / rel).string()), Read((fs::path(from) / rel).string())) << rel;
      }
    }
  }
  // Every peer that is installed accepts the archive.
  void ExpectPeersAccept(const std::string& archive) {
    std::string a = "'" + Path(archive) + "'";
    if (za::testing::Have("unzip")) EXPECT_EQ(std::system(("unzip -tqq " + a + " >/dev/null 2>&1").c_str()), 0) << "unzip";
    if (za::testing::Have("7z")) EXPECT_EQ(std::system(("7z t " + a + " >/dev/null 2>&1").c_str()), 0) << "7z";
    if (za::testing::Have("bsdtar")) EXPECT_EQ(std::system(("bsdtar -tf " + a + " >/dev/null 2>&1").c_str()), 0) << "bsdtar";
    if (za::testing::Have("python3"))
      EXPECT_EQ(std::system(("python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
                             "sys.exit(z.testzip() is not None)' " + a + " >/dev/null 2>&1")
                                .c_str()),
                0)
          << "python zipfile";
  }
  std::vector<std::int32_t> failures_;
};

TEST_F(WriterTest, AFolderTreeReadsBackTheSameInEveryTool) {
  MakeTree();
  // With the faster compressor too, as the tools ask for it.
  const int modes[] = {0, 1, 6, 9};
  for (int run = 0; run < 8; ++run) {
    const int mode = modes[run % 4];
    const bool fast = run >= 4;
    std::string archive = "tree" + std::to_string(run) + ".zip";
    TZipArchiver zip;
    Open(zip, archive);
    zip.SetCompressionMode(static_cast<std::uint8_t>(mode));
    zip.SetFastDeflate(fast);
    zip.SetBaseDir(WidePath("in"));
    zip.AddFiles(u"*.*");
    EXPECT_TRUE(failures_.empty());
    // Folders are entries; the noise is stored, the text deflated (but for 0).
    std::int32_t noise = -1, text = -1, empty = -1;
    for (std::int32_t i = 0; i < zip.Count(); ++i) {
      const std::u16string& n = zip.Item(i).EntryName;
      if (n == u"sub/noise.bin") noise = i;
      if (n == u"a.txt") text = i;
      if (n == u"empty/") empty = i;
    }
    ASSERT_GE(noise, 0);
    ASSERT_GE(text, 0);
    ASSERT_GE(empty, 0);
    EXPECT_EQ(zip.Item(noise).Header.Method, 0);
    EXPECT_EQ(zip.Item(text).Header.Method, mode ? 8 : 0);
    EXPECT_TRUE(zip.Item(empty).Header.ExternalAttributes & 0x10);
    EXPECT_EQ(zip.Item(text).Header.VersionMadeBy, 20);
    zip.CloseArchive();
    ExpectPeersAccept(archive);
    ExpectSameTree(archive, "in", "out" + std::to_string(run));
  }
}

TEST_F(WriterTest, ATransactionCommitsOnceAndEachOperationAloneCommitsItself) {
  TZipArchiver zip;
  Open(zip, "t.zip");
  int commits = 0;
  zip.OnOverallProgress = [&](za::TZABaseArchiver*, double, za::TZAProcessOperation, za::TZAProgressPhase phase,
                              bool&) { commits += phase == za::ppEnd; };
  zip.BeginUpdate();
  zip.AddFromBuffer(u"one.txt", "first", 5);
  zip.BeginUpdate();
  zip.AddFromBuffer(u"dir\\two.txt", "second", 6);
  zip.AddFromBuffer(u"three.txt", "third", 5);
  zip.EndUpdate();
  EXPECT_EQ(commits, 0);
  EXPECT_EQ(za::testing::NativeErrorOf([&] { zip.ExtractFiles(u"*.*", 10431, u""); }), 26);
  zip.DeleteFiles(u"three.txt");
  zip.EndUpdate();
  EXPECT_EQ(commits, 1);
  ASSERT_EQ(zip.Count(), 2);
  EXPECT_EQ(zip.Item(1).EntryName, u"dir/two.txt");

  // By index only inside a transaction.
  EXPECT_EQ(za::testing::NativeErrorOf([&] { zip.DeleteItem(0); }), 22);
  EXPECT_EQ(za::testing::NativeErrorOf([&] { zip.RenameItem(0, u"x"); }), 25);
  zip.BeginUpdate();
  EXPECT_EQ(za::testing::NativeErrorOf([&] { zip.DeleteItem(5); }), 21);
  EXPECT_EQ(za::testing::NativeErrorOf([&] { zip.ChangeItemComment(5, "c"); }), 24);
  zip.RenameItem(0, u"first.txt");
  zip.ChangeItemComment(1, "entry comment");
  zip.EndUpdate();
  EXPECT_EQ(commits, 2);

  EXPECT_TRUE(zip.RenameFile(u"dir/two.txt", u"second.txt"));
  EXPECT_FALSE(zip.RenameFile(u"nothing", u"x"));
  EXPECT_FALSE(zip.RenameFile(u"first.txt", u"second.txt"));  // taken
  zip.SetZipComment("archive comment");
  zip.ChangeFilesAttr(u"first.txt", 0x21);
  zip.CloseArchive();

  TZipArchiver again;
  Open(again, "t.zip");
  ASSERT_EQ(again.Count(), 2);
  EXPECT_EQ(again.Item(0).EntryName, u"first.txt");
  EXPECT_EQ(again.Item(0).Header.ExternalAttributes, 0x21u);
  EXPECT_EQ(again.Item(1).EntryName, u"second.txt");
  EXPECT_EQ(std::string(again.Item(1).Comment.view()), "entry comment");
  EXPECT_EQ(again.ZipComment(), "archive comment");
  za::TZAMemoryStream data;
  again.ExtractItemToStream(1, data);
  EXPECT_EQ(std::string(data.Data().begin(), data.Data().end()), "second");
  again.CloseArchive();
  ExpectPeersAccept("t.zip");
}

TEST_F(WriterTest, ClosingCommitsAPendingTransaction) {
  TZipArchiver zip;
  Open(zip, "p.zip");
  zip.BeginUpdate();
  zip.AddFromBuffer(u"a.txt", "alpha", 5);
  zip.CloseArchive();
  TZipArchiver again;
  Open(again, "p.zip");
  ASSERT_EQ(again.Count(), 1);
  EXPECT_EQ(again.Item(0).EntryName, u"a.txt");
}

TEST_F(WriterTest, ClosingReportsAPendingTransactionThatCouldNotBeCommitted) {
  TZipArchiver zip;
  Open(zip, "c.zip");
  zip.AddFromBuffer(u"a.txt", "alpha", 5);
  std::string before = Read("c.zip");
  zip.BeginUpdate();
  zip.AddFromBuffer(u"b.txt", "beta", 4);
  zip.SetTempDir(WidePath("no/such/folder"));
  EXPECT_EQ(za::testing::NativeErrorOf([&] { zip.CloseArchive(); }), 19);
  EXPECT_FALSE(zip.Active());
  EXPECT_EQ(Read("c.zip"), before);
}

TEST_F(WriterTest, StorePathModesAndMasks) {
  MakeTree();
  struct Case {
    za::TZAStorePathMode mode;
    bool recurse;
    const char16_t* expected;
  } cases[] = {
      {za::spNoPath, true, u"a.txt c.txt zero.txt"},
      {za::spRelativePath, false, u"a.txt"},
      {za::spRelativePath, true, u"a.txt sub/deeper/c.txt sub/deeper/zero.txt"},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string archive = "m" + std::to_string(n++) + ".zip";
    TZipArchiver zip;
    Open(zip, archive);
    zip.SetBaseDir(WidePath("in"));
    zip.Options().StorePath = c.mode;
    zip.Options().Recurse = c.recurse;
    zip.SetExclusionMasks({u"empty"});
    zip.AddFiles(u"*.txt");
    std::u16string names;
    for (std::int32_t i = 0; i < zip.Count(); ++i) names += (i ? u" " : u"") + zip.Item(i).EntryName;
    EXPECT_EQ(names, c.expected) << n;
  }
  // A full path keeps its folders without the root.
  TZipArchiver full;
  Open(full, "full.zip");
  full.Options().StorePath = za::spFullPath;
  full.AddFiles(WidePath("in/a.txt"));
  std::u16string expected = WidePath("in/a.txt").substr(1);
  ASSERT_EQ(full.Count(), 1);
  EXPECT_EQ(full.Item(0).EntryName, expected);
}

TEST_F(WriterTest, UpdateReplacesOnlyByNewerFilesAndMoveDeletesThem) {
  fs::create_directories(Path("in"));
  Write("in/a.txt", "old");
  fs::last_write_time(Path("in/a.txt"), fs::file_time_type::clock::now() - std::chrono::hours(48));
  TZipArchiver zip;
  Open(zip, "u.zip");
  zip.SetBaseDir(WidePath("in"));
  zip.AddFiles(u"a.txt");
  Write("in/a.txt", "new");
  fs::last_write_time(Path("in/a.txt"), fs::file_time_type::clock::now() - std::chrono::hours(72));
  zip.UpdateFiles(u"a.txt");  // older: kept
  za::TZAMemoryStream data;
  zip.ExtractItemToStream(0, data);
  EXPECT_EQ(std::string(data.Data().begin(), data.Data().end()), "old");
  fs::last_write_time(Path("in/a.txt"), fs::file_time_type::clock::now());
  zip.UpdateFiles(u"a.txt");
  za::TZAMemoryStream newer;
  zip.ExtractItemToStream(0, newer);
  EXPECT_EQ(std::string(newer.Data().begin(), newer.Data().end()), "new");

  Write("in/b.txt", "moved");
  zip.MoveFiles(u"b.txt");
  EXPECT_FALSE(fs::exists(Path("in/b.txt")));
  EXPECT_EQ(zip.Count(), 2);
}

TEST_F(WriterTest, AFailedCommitLeavesTheArchiveAsItWas) {
  TZipArchiver zip;
  Open(zip, "keep.zip");
  zip.AddFromBuffer(u"a.txt", "alpha", 5);
  std::string before = Read("keep.zip");
  ASSERT_FALSE(before.empty());

  // No folder for the new archive.
  zip.SetTempDir(WidePath("no/such/folder"));
  EXPECT_EQ(za::testing::NativeErrorOf([&] { zip.AddFromBuffer(u"b.txt", "beta", 4); }), 19);
  EXPECT_EQ(Read("keep.zip"), before);
  EXPECT_EQ(zip.Count(), 1);

  // A source that is gone: the user aborts, nothing changes.
  zip.SetTempDir(u"");
  zip.SetBaseDir(WidePath(""));
  Write("gone.txt", "x");
  zip.BeginUpdate();
  zip.AddFiles(u"gone.txt");
  fs::remove(Path("gone.txt"));
  zip.EndUpdate();
  EXPECT_EQ(failures_, std::vector<std::int32_t>{33});
  EXPECT_EQ(Read("keep.zip"), before);
  EXPECT_EQ(zip.Count(), 1);
  // Nothing of the attempts is left behind.
  int files = 0;
  for (auto& e : fs::directory_iterator(dir_)) files += e.path().filename().string().rfind("~za", 0) == 0;
  EXPECT_EQ(files, 0);
}

// A tool's options: a new archive has no file until its first commit puts
// it in place whole (and none if nothing is committed), and the commit's
// new file is named as the tool said, so that a later run knows it.
TEST_F(WriterTest, ANewArchiveAppearsOnlyWholeAndTheNewFileIsNamedAsAsked) {
  TZipArchiver zip;
  zip.SetCreateOnCommit(true);
  zip.SetTempFilePrefix(u".n.zip.tool-");
  Open(zip, "n.zip");
  EXPECT_FALSE(fs::exists(Path("n.zip")));
  std::vector<std::string> during;
  zip.OnOverallProgress = [&](za::TZABaseArchiver*, double, za::TZAProcessOperation, za::TZAProgressPhase phase,
                              bool&) {
    if (phase != za::ppEnd) return;
    for (auto& e : fs::directory_iterator(dir_)) during.push_back(e.path().filename().string());
  };
  zip.AddFromBuffer(u"a.txt", "alpha", 5);
  ASSERT_EQ(during.size(), 1u);
  EXPECT_EQ(during[0].rfind(".n.zip.tool-", 0), 0u) << during[0];
  EXPECT_EQ(during[0].size(), std::string(".n.zip.tool-12345678.tmp").size()) << during[0];
  EXPECT_EQ(zip.Count(), 1);
  zip.CloseArchive();
  ExpectPeersAccept("n.zip");

  TZipArchiver nothing;
  nothing.SetCreateOnCommit(true);
  Open(nothing, "e.zip");
  nothing.CloseArchive();
  EXPECT_FALSE(fs::exists(Path("e.zip")));
}

// Moved files go only when their entries are in the archive that took the
// old one's place: not when the commit is cancelled or its new archive
// refused, and not a file whose entry was left out.
TEST_F(WriterTest, MovedFilesStayUnlessTheirEntriesWentIn) {
  TZipArchiver zip;
  Open(zip, "move.zip");
  zip.AddFromBuffer(u"keep.txt", "kept", 4);
  zip.SetBaseDir(WidePath(""));
  Write("a.txt", "alpha");
  zip.OnOverallProgress = [](za::TZABaseArchiver*, double, za::TZAProcessOperation, za::TZAProgressPhase phase,
                             bool& cancel) { cancel = phase == za::ppEnd; };
  zip.MoveFiles(u"a.txt");
  EXPECT_TRUE(fs::exists(Path("a.txt")));
  zip.OnOverallProgress = nullptr;

  zip.OnVerifyNewArchive = [](za::TZABaseArchiver*, za::TZAStream& archive, bool& accept) {
    EXPECT_GT(archive.Size(), 0);
    accept = false;
  };
  std::string before = Read("move.zip");
  zip.MoveFiles(u"a.txt");
  EXPECT_TRUE(fs::exists(Path("a.txt")));
  EXPECT_EQ(Read("move.zip"), before);
  zip.OnVerifyNewArchive = nullptr;

  // The source cannot be read at the commit; it is back by the time the
  // commit ends, and must still be there after it.
  Write("b.txt", "beta");
  zip.BeginUpdate();
  zip.MoveFiles(u"a.txt");
  zip.MoveFiles(u"b.txt");
  fs::remove(Path("b.txt"));
  zip.OnProcessFileFailure = [this](za::TZABaseArchiver*, const std::u16string&, za::TZAProcessOperation,
                                    std::int32_t, std::int32_t, const std::u16string&, za::TZAAction& action) {
    Write("b.txt", "beta again");
    action = za::fxaIgnore;
  };
  zip.EndUpdate();
  EXPECT_FALSE(fs::exists(Path("a.txt")));
  EXPECT_EQ(Read("b.txt"), "beta again");
  EXPECT_EQ(zip.Count(), 2);
}

// Run with a file-size limit (see CMakeLists.txt): the new archive cannot
// be written whole.
TEST_F(WriterTest, FullDiskLeavesTheArchiveAsItWas) {
  const char* limit = std::getenv("ROVEND_FILE_SIZE_LIMIT");
  if (!limit) GTEST_SKIP() << "needs a file-size limit";
  TZipArchiver zip;
  Open(zip, "full.zip");
  zip.AddFromBuffer(u"a.txt", "alpha", 5);
  std::string before = Read("full.zip");
  std::string big = Noise(static_cast<std::size_t>(std::atoll(limit)) + 1000);
  bool failed = false;
  try {
    zip.AddFromBuffer(u"big.bin", big.data(), big.size());
  } catch (const za::EStreamError& e) {
    failed = true;
    EXPECT_NE(e.SystemError, 0);
  }
  EXPECT_TRUE(failed);
  EXPECT_EQ(Read("full.zip"), before);
  EXPECT_EQ(zip.Count(), 1);
}

TEST_F(WriterTest, Zip64AlwaysIsReadByEveryTool) {
  TZipArchiver zip;
  Open(zip, "z64.zip");
  zip.SetZip64Mode(za::zmAlways);
  zip.BeginUpdate();
  zip.AddFromBuffer(u"a.txt", Text(3000).data(), 3000);
  zip.AddFromBuffer(u"b.bin", Noise(3000).data(), 3000);
  zip.EndUpdate();
  zip.CloseArchive();
  ExpectPeersAccept("z64.zip");
  TZipArchiver again;
  Open(again, "z64.zip");
  ASSERT_EQ(again.Count(), 2);
  EXPECT_TRUE(again.Item(0).HasZip64Info);
  again.SetBaseDir(WidePath("out"));
  again.ExtractFiles(u"*.*", 10431, u"");
  EXPECT_EQ(Read("out/a.txt"), Text(3000));
  EXPECT_TRUE(failures_.empty());
}

TEST_F(WriterTest, NamesOutsideTheCodePageSurviveInTheUnicodeBlock) {
  TZipArchiver zip;
  Open(zip, "n.zip");
  const std::u16string name = u"\u4e2d\u6587 \u0444\u0430\u0439\u043b.txt";
  zip.AddFromBuffer(name, "x", 1);
  zip.CloseArchive();
  TZipArchiver again;
  Open(again, "n.zip");
  ASSERT_EQ(again.Count(), 1);
  EXPECT_EQ(again.Item(0).EntryName, name);
  // Cyrillic fits the OEM code page: its bytes say it without the block.
  TZipArchiver plain;
  Open(plain, "p.zip");
  plain.SetUnicodeFilenames(false);
  plain.AddFromBuffer(u"\u0444\u0430\u0439\u043b", "x", 1);
  EXPECT_EQ(plain.Item(0).EntryName, u"\u0444\u0430\u0439\u043b");
  EXPECT_TRUE(plain.Item(0).ExtraFields.Empty());
  // The UTF-8 option writes what other tools read, with the flag.
  TZipArchiver utf8;
  Open(utf8, "u.zip");
  utf8.SetUtf8NamesOnWrite(true);
  utf8.SetUtf8FlagNames(true);
  utf8.AddFromBuffer(name, "x", 1);
  EXPECT_TRUE(utf8.Item(0).Header.Flags & 0x800);
  EXPECT_EQ(utf8.Item(0).EntryName, name);
  utf8.CloseArchive();
  ExpectPeersAccept("u.zip");
}

TEST_F(WriterTest, ASelfExtractorStubStaysInFrontAndOffsetsCountIt) {
  Write("stub.exe", std::string(3000, 'M'));
  TZipArchiver zip;
  zip.SetSFXStub(WidePath("stub.exe"));
  Open(zip, "sfx.exe");
  zip.AddFromBuffer(u"a.txt", "alpha", 5);
  zip.AddFromBuffer(u"b.txt", "beta", 4);  // a second commit keeps the stub
  zip.CloseArchive();
  EXPECT_EQ(Read("sfx.exe").substr(0, 3000), std::string(3000, 'M'));
  if (za::testing::Have("unzip"))
    EXPECT_EQ(std::system(("unzip -tqq '" + Path("sfx.exe") + "' >/dev/null 2>&1").c_str()), 0);
  TZipArchiver again;
  Open(again, "sfx.exe");
  ASSERT_EQ(again.Count(), 2);
  EXPECT_EQ(again.Item(0).Header.LocalHeaderOffset, 3000u);
  again.SetSFXStub(WidePath("stub.exe"));
  EXPECT_EQ(za::testing::NativeErrorOf([&] { again.MakeSFX(WidePath("twice.exe")); }), 50);
}

TEST_F(WriterTest, MakeSFXPutsTheStubInFrontOfACopy) {
  Write("stub.exe", std::string(5000, 'S'));
  TZipArchiver zip;
  Open(zip, "plain.zip");
  zip.AddFromBuffer(u"a.txt", Text(20000).data(), 20000);
  EXPECT_EQ(za::testing::NativeErrorOf([&] { zip.MakeSFX(WidePath("made.exe")); }), 17);
  zip.SetSFXStub(WidePath("stub.exe"));
  std::string plain = Read("plain.zip");
  zip.MakeSFX(WidePath("made.exe"));
  EXPECT_EQ(Read("plain.zip"), plain);
  EXPECT_EQ(Read("made.exe").substr(0, 5000), std::string(5000, 'S'));
  if (za::testing::Have("unzip"))
    EXPECT_EQ(std::system(("unzip -tqq '" + Path("made.exe") + "' >/dev/null 2>&1").c_str()), 0);
  TZipArchiver made;
  Open(made, "made.exe");
  EXPECT_EQ(made.DirManager()->PrefixLength, 5000);
  za::TZAMemoryStream data;
  made.ExtractItemToStream(0, data);
  EXPECT_EQ(std::string(data.Data().begin(), data.Data().end()), Text(20000));
}

TEST_F(WriterTest, InMemoryArchivesAndCallerStreams) {
  TZipArchiver zip;
  zip.SetInMemory(true);
  zip.OpenArchive();
  zip.AddFromBuffer(u"m.txt", "memory", 6);
  ASSERT_EQ(zip.Count(), 1);
  zip.SetFileName(WidePath("mem.zip"));
  zip.SetInMemory(false);  // written to the file and opened from it
  ASSERT_EQ(zip.Count(), 1);
  zip.CloseArchive();
  ExpectPeersAccept("mem.zip");

  za::TZAMemoryStream stream;
  TZipArchiver custom;
  custom.OpenArchive(stream, true);
  custom.AddFromBuffer(u"s.txt", "stream", 6);
  custom.CloseArchive();
  TZipArchiver reread;
  stream.SetPosition(0);
  reread.OpenArchive(stream);
  ASSERT_EQ(reread.Count(), 1);
  EXPECT_EQ(reread.Item(0).EntryName, u"s.txt");
}

TEST_F(WriterTest, EncryptedEntriesOpenWithTheirPasswordOnlyInEveryTool) {
  const std::string text = Text(50000), noise = Noise(3000);
  for (za::TZACryptoAlgorithm method : {za::caPkzipClassic, za::caAES_128, za::caAES_192, za::caAES_256}) {
    std::string archive = "e" + std::to_string(method) + ".zip";
    std::string password = "pass word";
    // The classic check byte lets about one wrong password in 256 through:
    // made again until the wrong one below is turned away.
    do {
      std::filesystem::remove(Path(archive));
      TZipArchiver zip;
      Open(zip, archive);
      zip.SetPassword(password);
      zip.SetEncryptionMethod(method);
      zip.BeginUpdate();
      zip.AddFromBuffer(u"text.txt", text.data(), text.size());
      zip.AddFromBuffer(u"noise.bin", noise.data(), noise.size());
      zip.AddFromBuffer(u"empty", "", 0);
      zip.EndUpdate();
      ASSERT_EQ(zip.Count(), 3);
      EXPECT_TRUE(zip.Item(0).Header.Flags & 1);
      EXPECT_EQ(zip.Item(0).CryptoAlgorithm, method);
    } while (!RejectedByAll(archive, "wrong"));

    TZipArchiver reader;
    Open(reader, archive);
    reader.SetPassword(password);
    reader.SetBaseDir(WidePath("out" + std::to_string(method)));
    reader.ExtractFiles(u"*.*", 10431, u"");
    EXPECT_TRUE(failures_.empty());
    EXPECT_EQ(Read("out" + std::to_string(method) + "/text.txt"), text);
    EXPECT_EQ(Read("out" + std::to_string(method) + "/noise.bin"), noise);

    std::string a = "'" + Path(archive) + "'";
    if (za::testing::Have("7z")) {
      EXPECT_EQ(std::system(("7z t -p'" + password + "' " + a + " >/dev/null 2>&1").c_str()), 0) << method;
      EXPECT_NE(std::system(("7z t -pwrong " + a + " >/dev/null 2>&1").c_str()), 0) << method;
    }
    if (method != za::caPkzipClassic) continue;  // unzip and Python know only the classic cipher
    if (za::testing::Have("unzip"))
      EXPECT_EQ(std::system(("unzip -tqq -P '" + password + "' " + a + " >/dev/null 2>&1").c_str()), 0);
    EXPECT_EQ(std::system(("python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
                           "z.setpassword(sys.argv[2].encode()); sys.exit(z.testzip() is not None)' " +
                           a + " '" + password + "' >/dev/null 2>&1")
                              .c_str()),
              0);
  }
}

}  // namespace

namespace {

TEST_F(WriterTest, ACommentThatLooksLikeAZip64LocatorStillReadsBack) {
  // Readers take these four bytes 20 bytes before the end record for a
  // Zip64 locator; the writer must then make them one.
  std::string comment("PK\x06\x07", 4);
  comment += std::string(16, 'c');
  TZipArchiver zip;
  Open(zip, "l.zip");
  zip.SetZip64Mode(za::zmAuto);
  zip.AddFromBuffer(u"a.txt", "alpha", 5);
  zip.ChangeFilesComment(u"a.txt", comment);
  zip.CloseArchive();
  TZipArchiver again;
  Open(again, "l.zip");
  ASSERT_EQ(again.Count(), 1);
  EXPECT_FALSE(again.DirManager()->Rebuilt);
  EXPECT_EQ(std::string(again.Item(0).Comment.view()), comment);
  again.CloseArchive();
  ExpectPeersAccept("l.zip");
}


// Reads as zeros, with a size it never delivers past the first bytes asked:
// enough to make an entry need Zip64 without writing gigabytes.
class HugeStream : public za::TZAStream {
 public:
  std::int64_t Read(void* buffer, std::int64_t count) override {
    std::int64_t n = std::min(count, size_ - position_);
    std::memset(buffer, 0, static_cast<std::size_t>(n));
    position_ += n;
    return n;
  }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, za::TZASeekOrigin origin) override {
    position_ = origin == za::TZASeekOrigin::soBeginning ? offset
                : origin == za::TZASeekOrigin::soCurrent ? position_ + offset
                                                         : size_ + offset;
    return position_;
  }
  std::int64_t Size() override { return size_; }
  void SetSize(std::int64_t) override {}

 private:
  std::int64_t size_ = 5LL << 30, position_ = 0;
};

TEST_F(WriterTest, Zip64DisabledRefusesWhatNeedsItAndAutoWritesIt) {
  TZipArchiver zip;
  Open(zip, "many.zip");
  zip.AddFromBuffer(u"first", "1", 1);
  std::string before = Read("many.zip");
  // An entry of 5 GiB: refused before a byte of it is read.
  HugeStream huge;
  zip.OnProcessFileFailure = [&](za::TZABaseArchiver*, const std::u16string&, za::TZAProcessOperation,
                                 std::int32_t error, std::int32_t, const std::u16string& message,
                                 za::TZAAction& action) {
    failures_.push_back(error);
    EXPECT_NE(message.find(u"Cannot compress file 'huge.bin'. Zip64 mode is not enabled"), std::u16string::npos);
    action = za::fxaAbort;
  };
  zip.AddFromStream(u"huge.bin", huge, false);
  EXPECT_EQ(failures_, std::vector<std::int32_t>{41});
  EXPECT_EQ(zip.Count(), 1);
  // More entries than the end record can count.
  auto addMany = [&] {
    zip.BeginUpdate();
    for (int i = 0; i < 65534; ++i) {
      std::u16string name = u"f" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26));
      for (int n = i; n; n /= 10) name += static_cast<char16_t>(u'0' + n % 10);
      zip.AddFromBuffer(name, "", 0);
    }
    zip.EndUpdate();
  };
  EXPECT_EQ(za::testing::NativeErrorOf(addMany), 43);
  EXPECT_EQ(Read("many.zip"), before);
  EXPECT_EQ(zip.Count(), 1);
  zip.SetZip64Mode(za::zmAuto);
  addMany();
  EXPECT_EQ(zip.Count(), 65535);
  EXPECT_TRUE(zip.DirManager()->HasZip64End);
  ExpectPeersAccept("many.zip");
  // Deleting most of them is one pass, not one per entry.
  zip.DeleteFiles(u"f?*", 10431, u"fa*");
  EXPECT_EQ(zip.Count(), (65534 + 25) / 26);
  EXPECT_EQ(zip.Item(0).EntryName, u"fa");
  EXPECT_EQ(zip.Item(1).EntryName, u"fa62");
  zip.CloseArchive();
}

TEST_F(WriterTest, ATempFolderOnAnotherFileSystemIsCopiedBesideTheArchive) {
  // /dev/shm is a file system of its own where it exists: the new archive
  // cannot be renamed from there and is copied with progress.
  if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no second file system";
  support::TempDir shm("zatest-shm");
  fs::path other = fs::path("/dev/shm") / shm.path().filename();
  fs::create_directory(other);
  TZipArchiver zip;
  Open(zip, "copied.zip");
  zip.SetTempDir(std::u16string(other.u16string()));
  std::vector<za::TZAProgressPhase> phases;
  zip.OnCopyTempFileProgress = [&](za::TZABaseArchiver*, double, za::TZAProgressPhase phase, bool&) {
    phases.push_back(phase);
  };
  zip.AddFromBuffer(u"a.txt", "alpha", 5);
  fs::remove_all(other);
  ASSERT_EQ(zip.Count(), 1);
  if (!phases.empty()) {
    EXPECT_EQ(phases.front(), za::ppStart);
    EXPECT_EQ(phases.back(), za::ppEnd);
  }
  zip.CloseArchive();
  ExpectPeersAccept("copied.zip");
}

TEST_F(WriterTest, OnStoreFileAndNoCompressionMasksShapeTheEntries) {
  fs::create_directories(Path("in"));
  Write("in/a.txt", Text(20000));
  Write("in/b.log", Text(20000));
  Write("in/skip.txt", "x");
  TZipArchiver zip;
  Open(zip, "s.zip");
  zip.SetBaseDir(WidePath("in"));
  zip.SetNoCompressionMasks({u"*.log"});
  zip.OnConfirmProcessFile = [](za::TZABaseArchiver*, const std::u16string& name, za::TZAProcessOperation,
                                bool& confirm) { confirm = name != u"skip.txt"; };
  zip.OnStoreFile = [](za::TZABaseArchiver*, std::u16string& name, std::uint32_t& attributes, std::string& comment,
                       const std::u16string& original) {
    if (name == u"a.txt") {
      name = u"renamed\\a.txt";
      attributes |= 0x01;
      comment = "from " + std::string(original.size() > 5 ? "disk" : "?");
    }
  };
  zip.AddFiles(u"*.*");
  ASSERT_EQ(zip.Count(), 2);
  EXPECT_EQ(zip.Item(0).EntryName, u"renamed/a.txt");
  EXPECT_EQ(zip.Item(0).Header.ExternalAttributes & 0x01, 0x01u);
  EXPECT_EQ(std::string(zip.Item(0).Comment.view()), "from disk");
  EXPECT_EQ(zip.Item(0).Header.Method, 8);
  EXPECT_EQ(zip.Item(1).EntryName, u"b.log");
  EXPECT_EQ(zip.Item(1).Header.Method, 0);
}

TEST_F(WriterTest, AnArchiveOpenedReadOnlyIsNotChanged) {
  {
    TZipArchiver zip;
    Open(zip, "ro.zip");
    zip.AddFromBuffer(u"a.txt", "alpha", 5);
  }
  std::string before = Read("ro.zip");
  fs::permissions(Path("ro.zip"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  TZipArchiver zip;
  Open(zip, "ro.zip");
  EXPECT_EQ(zip.OpenMode(), za::kZAModeReadOnly);
  EXPECT_EQ(za::testing::NativeErrorOf([&] { zip.AddFromBuffer(u"b.txt", "beta", 4); }), 32);
  EXPECT_EQ(za::testing::NativeErrorOf([&] { zip.DeleteFiles(u"*.*"); }), 32);
  zip.CloseArchive();
  EXPECT_EQ(Read("ro.zip"), before);
}

TEST_F(WriterTest, ASplitArchiveIsWrittenWholeInNumberedVolumes) {
  TZipArchiver zip;
  zip.SetSpanningMode(za::smSplitting);
  zip.SpanningOptions().VolumeSize = za::vsCustom;
  zip.SpanningOptions().SetCustomVolumeSize(65536);
  Open(zip, "split.zip");
  zip.SpanningOptions().AdvancedNaming = true;
  zip.SpanningOptions().FirstVolumeSize = 100000;
  zip.AddFromBuffer(u"a.bin", Noise(200000).data(), 200000);
  EXPECT_FALSE(zip.Active());  // the set is opened by a piece's name
  EXPECT_FALSE(fs::exists(Path("split.zip")));
  EXPECT_EQ(fs::file_size(Path("split.zip.001")), 100000u);
  EXPECT_EQ(fs::file_size(Path("split.zip.002")), 65536u);
  TZipArchiver again;
  Open(again, "split.zip.001");
  ASSERT_EQ(again.Count(), 1);
  za::TZAMemoryStream data;
  again.ExtractItemToStream(0, data);
  EXPECT_EQ(std::string(data.Data().begin(), data.Data().end()), Noise(200000));
  EXPECT_EQ(za::testing::NativeErrorOf([&] { again.AddFromBuffer(u"b", "b", 1); }), 31);
}

// Info-ZIP's scheme: records whole on their volumes, disk numbers and
// offsets per volume, read back by us (by the last name), by 7z and by zip;
// stored and deflated data over several volumes, and a directory that runs
// over a volume's end.
TEST_F(WriterTest, ASplitArchiveIsWrittenVolumeByVolumeAsZipSplitsIt) {
  const std::string noise = Noise(200000), text = Text(300000);
  for (za::TZip64Mode mode : {za::zmAuto, za::zmAlways}) {
    SCOPED_TRACE(mode);
    const std::string name = mode == za::zmAuto ? "split.zip" : "split64.zip";
    const std::string stem = name.substr(0, name.size() - 4);
    TZipArchiver zip;
    zip.SetSpanningMode(za::smSplitting);
    zip.SetZip64Mode(mode);
    zip.SpanningOptions().VolumeSize = za::vsCustom;
    zip.SpanningOptions().SetCustomVolumeSize(65536);
    zip.SpanningOptions().FirstVolumeSize = 100000;
    Open(zip, name);
    zip.BeginUpdate();
    zip.AddFromBuffer(u"noise.bin", noise.data(), noise.size());
    zip.AddFromBuffer(u"text.txt", text.data(), text.size());
    for (int i = 0; i < 1500; ++i) {
      std::string small = "small entry number " + std::to_string(i);
      std::string entry = "many/a-fairly-long-folder-name/entry-" + std::to_string(i) + ".txt";
      zip.AddFromBuffer(std::u16string(entry.begin(), entry.end()), small.data(), small.size());
    }
    zip.EndUpdate();
    EXPECT_FALSE(zip.Active());
    // Volumes of at most their size, the last one named as the archive.
    std::vector<std::string> volumes;
    for (int i = 1; fs::exists(Path(stem + ".z" + (i < 10 ? "0" : "") + std::to_string(i))); ++i)
      volumes.push_back(stem + ".z" + (i < 10 ? "0" : "") + std::to_string(i));
    ASSERT_GE(volumes.size(), 5u);
    EXPECT_LE(fs::file_size(Path(volumes[0])), 100000u);
    for (std::size_t i = 1; i < volumes.size(); ++i) EXPECT_LE(fs::file_size(Path(volumes[i])), 65536u);
    EXPECT_LE(fs::file_size(Path(name)), 65536u);
    EXPECT_EQ(Read(volumes[0]).substr(0, 4), std::string("PK\x07\x08", 4));
    for (auto& e : fs::directory_iterator(Path(""))) EXPECT_NE(e.path().extension(), ".tmp") << e.path();

    TZipArchiver again;
    Open(again, name);
    ASSERT_EQ(again.Count(), 1502);
    auto content = [&](std::int32_t i) {
      za::TZAMemoryStream data;
      again.ExtractItemToStream(i, data);
      return std::string(data.Data().begin(), data.Data().end());
    };
    EXPECT_EQ(content(0), noise);
    EXPECT_EQ(content(1), text);
    EXPECT_EQ(content(1501), "small entry number 1499");
    EXPECT_EQ(again.Item(1).ActualMethod, 8);
    EXPECT_EQ(za::testing::NativeErrorOf([&] { again.AddFromBuffer(u"b", "b", 1); }), 31);

    const std::string a = "'" + Path(name) + "'";
    if (za::testing::Have("7z")) {
      EXPECT_EQ(std::system(("7z t " + a + " >/dev/null 2>&1").c_str()), 0) << "7z";
      const std::string into = stem + "-7z";
      ASSERT_EQ(std::system(("7z x -o'" + Path(into) + "' " + a + " >/dev/null 2>&1").c_str()), 0) << "7z x";
      EXPECT_EQ(Read(into + "/noise.bin"), noise);
      EXPECT_EQ(Read(into + "/text.txt"), text);
    }
    // zip reads the set through its directory to join it. (unzip -t of a
    // join fails for zip's own split sets of stored data alike here, so
    // only the join is asked of it.)
    if (za::testing::Have("zip")) {
      const std::string joined = "'" + Path(stem + "-joined.zip") + "'";
      EXPECT_EQ(std::system(("zip -q -s 0 " + a + " --out " + joined + " >/dev/null 2>&1").c_str()), 0) << "zip -s 0";
    }
  }
}

// A stub larger than the first volume cannot be placed (47), and a failed
// split leaves nothing behind; an archive that fits its first volume is
// one plain file.
TEST_F(WriterTest, ASplitArchiveThatCannotBeWrittenLeavesNothingBehind) {
  Write("stub.exe", Noise(120000));
  {
    TZipArchiver zip;
    zip.SetSpanningMode(za::smSplitting);
    zip.SpanningOptions().VolumeSize = za::vsCustom;
    zip.SpanningOptions().SetCustomVolumeSize(65536);
    zip.SetSFXStub(WidePath("stub.exe"));
    Open(zip, "sfx.zip");
    EXPECT_EQ(za::testing::NativeErrorOf([&] { zip.AddFromBuffer(u"a.bin", Noise(200000).data(), 200000); }), 47);
  }
  EXPECT_FALSE(fs::exists(Path("sfx.z01")));
  for (auto& e : fs::directory_iterator(Path(""))) EXPECT_NE(e.path().extension(), ".tmp") << e.path();
  {
    TZipArchiver zip;
    zip.SetSpanningMode(za::smSplitting);
    zip.SpanningOptions().VolumeSize = za::vs1_44MB;
    Open(zip, "small.zip");
    zip.AddFromBuffer(u"a.txt", "a few bytes", 11);
  }
  EXPECT_FALSE(fs::exists(Path("small.z01")));
  TZipArchiver again;
  Open(again, "small.zip");
  EXPECT_EQ(again.Count(), 1);
  EXPECT_FALSE(again.MultiVolume());
}

// A file whose bytes the system cannot put on a disk (a device that takes
// no synchronisation): the flush fails with the system's reason, which
// callers print; it is not dropped.
TEST_F(WriterTest, AFailedFlushKeepsTheSystemsReason) {
  za::TZAFileStream device(u"/dev/null", za::fmOpenWrite | za::fmShareDenyNone);
  za::TZAOutput out(device);
  out.Write("data", 4);
  out.Flush();
  try {
    za::ZAFlushFile(device);
    ADD_FAILURE() << "the flush passed";
  } catch (const za::EWriteError& e) {
    EXPECT_EQ(e.SystemError, EINVAL);
  }
}

// Entries whose data the directory does not account for are not copied
// into the new archive: two central headers naming one local header (each
// would get its own copy of the data, an archive growing with every entry
// that claims it), and data that runs into the central directory. Each is
// a corrupted entry for OnProcessFileFailure; the sound one is copied.
TEST_F(WriterTest, EntriesSharingOrOverrunningTheirDataAreNotCopied) {
  za::testing::Archive a;
  a.entries.push_back(za::testing::Entry{"x", "shared data"});
  a.entries.push_back(za::testing::Entry{"y", "shared data"});
  a.entries.push_back(za::testing::Entry{"z", "sound"});
  a.entries.push_back(za::testing::Entry{"w", "runs on"});
  a.entries.back().packedOverride = 5000;
  std::string bytes = a.Build();
  std::size_t second = bytes.find("PK\x01\x02", bytes.find("PK\x01\x02") + 4);
  bytes.replace(second + 42, 4, std::string(4, '\0'));  // y names x's local header
  Write("shared.zip", bytes);

  TZipArchiver zip;
  zip.SetFileName(WidePath("shared.zip"));
  std::vector<std::pair<std::u16string, std::int32_t>> failed;
  zip.OnProcessFileFailure = [&](za::TZABaseArchiver*, const std::u16string& name, za::TZAProcessOperation,
                                 std::int32_t error, std::int32_t, const std::u16string&, za::TZAAction& action) {
    failed.emplace_back(name, error);
    action = za::fxaIgnore;
  };
  zip.OpenArchive();
  zip.AddFromBuffer(u"new.txt", "new", 3);
  EXPECT_EQ(failed, (std::vector<std::pair<std::u16string, std::int32_t>>{
                        {u"x", za::neCorruptedEntry}, {u"y", za::neCorruptedEntry}, {u"w", za::neCorruptedEntry}}));
  ASSERT_EQ(zip.Count(), 2);
  EXPECT_EQ(zip.Item(0).EntryName, u"z");
  za::TZAMemoryStream data;
  zip.ExtractItemToStream(0, data);
  EXPECT_EQ(std::string(data.Data().begin(), data.Data().end()), "sound");
}

}  // namespace
