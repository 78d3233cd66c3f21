#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"
#include "sys/system.h"

namespace sys {
namespace {

namespace fs = std::filesystem;

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

using support::TempDir;

TEST(PosixSystem, SpecialFoldersComeFromTheEnvironment) {
  System& s = Platform();
  {
    ScopedEnv data("XDG_DATA_HOME", "/data/home//");
    ScopedEnv windir("WINDIR", "/opt/windows");
    EXPECT_EQ(s.GetSpecialFolder(kFolderAppData), "/data/home");
    EXPECT_EQ(s.GetSpecialFolder(kFolderWindows), "/opt/windows");
  }
  {
    ScopedEnv data("XDG_DATA_HOME", nullptr);
    ScopedEnv home("HOME", "/home/someone");
    ScopedEnv windir("WINDIR", nullptr);
    EXPECT_EQ(s.GetSpecialFolder(kFolderAppData), "/home/someone/.local/share");
    EXPECT_EQ(s.GetSpecialFolder(kFolderWindows), "");
  }
  {
    // Relative XDG values are to be ignored.
    ScopedEnv data("XDG_DATA_HOME", "relative");
    ScopedEnv home("HOME", "/h");
    EXPECT_EQ(s.GetSpecialFolder(kFolderAppData), "/h/.local/share");
  }
  EXPECT_EQ(s.GetSpecialFolder(0x7FFF), "");
  std::string longPath(400, 'x');
  longPath[0] = '/';
  ScopedEnv data("XDG_DATA_HOME", longPath.c_str());
  EXPECT_EQ(s.GetSpecialFolder(kFolderAppData).size(), 261u);
}

TEST(PosixSystem, AdministratorIsTheSuperUser) { EXPECT_EQ(Platform().IsUserAnAdmin(), geteuid() == 0); }

TEST(PosixSystem, ProcessListHoldsModulePathsAndSeesAnInstaller) {
  System& s = Platform();
  ProcessList list;
  s.FillProcessList(&list);
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  EXPECT_NE(std::find(list.begin(), list.end(), self), list.end());
  s.FillProcessList(nullptr);  // absent list: nothing happens

  TempDir dir;
  fs::path installer = dir.path() / "MsiExec.EXE";
  fs::copy_file("/bin/sleep", installer);
  EXPECT_FALSE(s.IsProcessRunning("msiexec.exe", false));
  pid_t child = fork();
  if (child == 0) {
    execl(installer.c_str(), "MsiExec.EXE", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  bool seen = false;
  for (int i = 0; i < 100 && !seen; ++i) {
    seen = s.IsProcessRunning("msiexec.exe", false);
    if (!seen) usleep(20000);
  }
  EXPECT_TRUE(seen);
  EXPECT_TRUE(s.IsProcessRunning(installer.string(), true));
  EXPECT_FALSE(s.IsProcessRunning("msiexec", false));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_FALSE(s.IsProcessRunning("msiexec.exe", false));
}

TEST(PosixSystem, DelayWaitsAtLeastTheTimeWhileMessagesFlow) {
  System& s = Platform();
  int passes = 0;
  auto start = std::chrono::steady_clock::now();
  s.Delay(30, {[&] { ++passes; }, [](std::uint32_t ms) { usleep(ms * 1000 / 4); }});
  // The tick count has whole milliseconds, so the wait may be short by less than one.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(29));
  EXPECT_GE(passes, 2);
}

TEST(PosixSystem, FoldersAreMadeAndDeletedTheWindowsWay) {
  System& s = Platform();
  TempDir dir;
  const std::string base = dir.path().string();
  // The program builds paths with backslashes and a trailing separator.
  EXPECT_TRUE(s.CreateFolder(base + "\\tempEE\\"));
  EXPECT_FALSE(s.CreateFolder(base + "\\tempEE\\"));  // exists
  EXPECT_FALSE(s.CreateFolder(base + "\\missing\\tempEE"));
  fs::create_directories(base + "/tempEE/sub");
  std::ofstream(base + "/tempEE/sub/file.txt") << "x";
  // A link inside the folder must not take its target with it.
  fs::create_directory(base + "/outside");
  std::ofstream(base + "/outside/keep.txt") << "x";
  fs::create_directory_symlink(base + "/outside", base + "/tempEE/link");

  EXPECT_TRUE(s.DeleteFolder(base + "\\tempEE\\"));
  EXPECT_FALSE(fs::exists(base + "/tempEE"));
  EXPECT_TRUE(fs::exists(base + "/outside/keep.txt"));
  EXPECT_FALSE(s.DeleteFolder(base + "\\tempEE\\"));  // gone: nothing to delete
  EXPECT_FALSE(s.DeleteFolder(""));
}

TEST(PosixSystem, WaitUntilEndsWhenDoneWhenTheWindowHasGoneOrAtTheBound) {
  System& s = Platform();
  int passes = 0;
  auto nap = [](std::uint32_t ms) { usleep(ms * 1000 / 4); };
  // `done` sees what the messages of the same pass did.
  EXPECT_TRUE(s.WaitUntil([&] { return passes == 3; }, 60000, {[&] { ++passes; }, nap}));
  EXPECT_EQ(passes, 3);
  bool gone = false;
  EXPECT_FALSE(s.WaitUntil([] { return false; }, 60000, {[&] { gone = true; }, nap, [&] { return gone; }}));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(s.WaitUntil([] { return false; }, 30, {nullptr, nap}));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(29));
}

TEST(PosixSystem, OnlyRegularFilesReachedWithoutLinksAreHeld) {
  System& s = Platform();
  TempDir dir;
  const std::string base = dir.str();
  fs::create_directory(base + "/work");
  std::ofstream(base + "/work/certmgr.exe") << "the tool";
  auto held = s.HoldFile(base + "\\work\\certmgr.exe");
  ASSERT_TRUE(held);
  std::string content;
  std::uint8_t buffer[3];
  for (std::int64_t n; (n = held->Read(buffer)) > 0;) content.append(buffer, buffer + n);
  EXPECT_EQ(content, "the tool");

  fs::create_symlink(base + "/work/certmgr.exe", base + "/work/link.exe");
  fs::create_directory_symlink(base + "/work", base + "/alias");
  EXPECT_FALSE(s.HoldFile(base + "\\work\\link.exe"));
  EXPECT_FALSE(s.HoldFile(base + "\\alias\\certmgr.exe"));
  EXPECT_FALSE(s.HoldFile(base + "\\work"));
  EXPECT_FALSE(s.HoldFile(base + "\\work\\missing.exe"));

  // A link goes, never what it points to; a real folder is no link.
  EXPECT_TRUE(s.RemoveLink(base + "\\alias\\"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(base + "/alias")));
  EXPECT_TRUE(fs::exists(base + "/work/certmgr.exe"));
  EXPECT_FALSE(s.RemoveLink(base + "\\work\\"));
  EXPECT_TRUE(fs::is_directory(base + "/work"));
}

TEST(PosixSystem, NewFileTakesThePlaceOfALinkInsteadOfWritingThroughIt) {
  TempDir dir;
  const std::string base = dir.str();
  std::ofstream(base + "/victim.dll") << "keep";
  fs::create_symlink(base + "/victim.dll", base + "/tempEE.zip");
  const std::uint8_t data[] = {'P', 'K'};
  EXPECT_EQ(Platform().WriteNewFile(base + "\\tempEE.zip", data), 0);
  EXPECT_FALSE(fs::is_symlink(base + "/tempEE.zip"));
  EXPECT_EQ(fs::file_size(base + "/tempEE.zip"), 2u);
  std::ifstream victim(base + "/victim.dll");
  std::string text;
  victim >> text;
  EXPECT_EQ(text, "keep");
}

TEST(PosixSystem, CopyNeverOverwritesWhenAskedNotTo) {
  TempDir dir;
  const std::string base = dir.str();
  std::ofstream(base + "/a.dll") << "new";
  std::ofstream(base + "/b.dll") << "old";
  EXPECT_FALSE(Platform().CopyFile(base + "\\a.dll", base + "\\b.dll", true));
  std::ifstream kept(base + "/b.dll");
  std::string text;
  kept >> text;
  EXPECT_EQ(text, "old");
  EXPECT_TRUE(Platform().CopyFile(base + "\\a.dll", base + "\\c.dll", true));
  EXPECT_TRUE(fs::exists(base + "/c.dll"));
  EXPECT_TRUE(Platform().CopyFile(base + "\\a.dll", base + "\\b.dll", false));
  EXPECT_FALSE(Platform().CopyFile(base + "\\missing.dll", base + "\\d.dll", true));
  EXPECT_FALSE(Platform().CopyFile(base + "\\a.dll", base + "\\no-folder\\a.dll", true));
}

std::vector<std::pair<std::string, bool>> Lines(const std::string& content, size_t limit) {
  TempDir dir;
  std::ofstream(dir.str() + "/url.txt", std::ios::binary) << content;
  int error = -1;
  auto file = Platform().OpenTextFile(dir.str() + "\\url.txt", error);
  EXPECT_EQ(error, 0);
  std::vector<std::pair<std::string, bool>> out;
  std::string line;
  bool longer = false;
  while (file && file->ReadLine(line, limit, longer)) out.emplace_back(line, longer);
  return out;
}

TEST(PosixSystem, TextFilesReadLineByLineWithinALimit) {
  using L = std::vector<std::pair<std::string, bool>>;
  EXPECT_EQ(Lines("", 80), L{});
  EXPECT_EQ(Lines("a\r\nb", 80), (L{{"a", false}, {"b", false}}));
  EXPECT_EQ(Lines("a\r\nb\r\n", 80), (L{{"a", false}, {"b", false}}));  // no empty line after the last end
  EXPECT_EQ(Lines("a\n\nb\n", 80), (L{{"a", false}, {"", false}, {"b", false}}));
  EXPECT_EQ(Lines("a\rb\r\n", 80), (L{{"a\rb", false}}));                // a lone CR is text
  EXPECT_EQ(Lines("abcd\r\nabcde\r\nab", 4), (L{{"abcd", false}, {"abcd", true}, {"ab", false}}));
  EXPECT_EQ(Lines("abcd\r", 4), (L{{"abcd", false}}));

  int error = 0;
  EXPECT_EQ(Platform().OpenTextFile("/no/such/dir\\url.txt", error), nullptr);
  EXPECT_NE(error, 0);
  TempDir dir;
  EXPECT_EQ(Platform().OpenTextFile(dir.str(), error), nullptr);  // a folder is no text file
  EXPECT_NE(error, 0);
}

}  // namespace
}  // namespace sys
