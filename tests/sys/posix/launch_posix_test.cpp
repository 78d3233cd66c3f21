#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

#include "support/temp_dir.h"
#include "sys/system.h"

namespace sys {
namespace {

namespace fs = std::filesystem;

// A stand-in program that writes each argument on a line of its log.
void WriteRecorder(const std::string& path, const std::string& log) {
  std::ofstream(path) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << log
                      << ".tmp'\nmv '" << log << ".tmp' '" << log << "'\n";
  chmod(path.c_str(), 0755);
}

std::string WaitForLog(const std::string& log) {
  for (int i = 0; i < 200 && !fs::exists(log); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::ifstream in(log);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(PosixLaunch, QuotedProgramWithBlanksGetsWholeArguments) {
  support::TempDir dir;
  const std::string folder = dir.str() + "/Documents and Settings";
  fs::create_directories(folder);
  WriteRecorder(folder + "/certmgr.exe", dir.str() + "/log");
  const std::string windows = dir.str() + "\\Documents and Settings\\";
  std::uint32_t result = Platform().WinExec(
      "\"" + windows + "certmgr.exe\" /add /all /c \"" + windows + "rootsert.sst\" -s Root -r localMachine", 0, nullptr);
  EXPECT_GT(result, 31u);
  EXPECT_EQ(WaitForLog(dir.str() + "/log"),
            "/add\n/all\n/c\n" + windows + "rootsert.sst\n-s\nRoot\n-r\nlocalMachine\n");
}

TEST(PosixLaunch, UnquotedBlanksSplitTheCommandLineAsWindowsDoes) {
  support::TempDir dir;
  const std::string folder = dir.str() + "/Documents and Settings";
  fs::create_directories(folder);
  WriteRecorder(folder + "/certmgr.exe", dir.str() + "/log");
  const std::string windows = dir.str() + "\\Documents and Settings\\";
  // The program is still found by its blank-separated prefixes, but the
  // store path reaches it in pieces.
  EXPECT_GT(Platform().WinExec(windows + "certmgr.exe /c " + windows + "casert.sst", 0, nullptr), 31u);
  EXPECT_EQ(WaitForLog(dir.str() + "/log"),
            "/c\n" + dir.str() + "\\Documents\nand\nSettings\\casert.sst\n");
  // ".exe" may be left out of the program name.
  fs::remove(dir.str() + "/log");
  EXPECT_GT(Platform().WinExec("\"" + windows + "certmgr\" x", 0, nullptr), 31u);
  EXPECT_EQ(WaitForLog(dir.str() + "/log"), "x\n");
}

TEST(PosixLaunch, MissingProgramsFailToStart) {
  EXPECT_LE(Platform().WinExec("/no/such/program.exe /add", 0, nullptr), 31u);
  EXPECT_LE(Platform().WinExec("\"/no/such\" x", 0, nullptr), 31u);
  EXPECT_LE(Platform().WinExec("", 0, nullptr), 31u);
  support::TempDir dir;
  std::ofstream(dir.str() + "/data.exe") << "not executable";
  EXPECT_LE(Platform().WinExec(dir.str() + "/data.exe", 0, nullptr), 31u);
}

TEST(PosixLaunch, ShellStartsTheProgramAssociatedWithTheFileType) {
  support::TempDir dir;
  WriteRecorder(dir.str() + "/installer", dir.str() + "/log");
  std::ofstream(dir.str() + "/capicom2.msi") << "package";
  const std::string package = dir.str() + "\\capicom2.msi";
  unsetenv("ROVEND_ASSOCIATION_MSI");
  EXPECT_EQ(Platform().ShellExecute(nullptr, "open", package, "", "", 0, nullptr), 31);  // no association
  setenv("ROVEND_ASSOCIATION_MSI", (dir.str() + "/installer").c_str(), 1);
  EXPECT_EQ(Platform().ShellExecute(nullptr, "open", dir.str() + "\\missing.msi", "", "", 0, nullptr), 2);
  std::int32_t result =
      Platform().ShellExecute(nullptr, "open", package, "/qb-! INSTALLDIR=\"C:\\Windows\\system32\"", "", 0, nullptr);
  EXPECT_GT(result, 32);
  EXPECT_EQ(WaitForLog(dir.str() + "/log"),
            dir.str() + "/capicom2.msi\n/qb-!\nINSTALLDIR=C:\\Windows\\system32\n");
  unsetenv("ROVEND_ASSOCIATION_MSI");
}

// Exits with the status named by its first argument.
void WriteExiter(const std::string& path) {
  std::ofstream(path) << "#!/bin/sh\nsleep 0.2\nexit $1\n";
  chmod(path.c_str(), 0755);
}

std::optional<std::uint32_t> AwaitStatus(Process& process) {
  for (int i = 0; i < 500 && !process.ExitStatus(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return process.ExitStatus();
}

TEST(PosixLaunch, StartedProgramsAreFollowedToTheirExitStatus) {
  support::TempDir dir;
  WriteExiter(dir.str() + "/certmgr.exe");
  // A program let go while it runs is no concern of the caller's any more.
  std::unique_ptr<Process> released;
  ASSERT_GT(Platform().WinExec("\"" + dir.str() + "\\certmgr.exe\" 0", 0, &released), 31u);
  released.reset();
  for (std::uint32_t status : {0u, 1u, 255u}) {
    std::unique_ptr<Process> process;
    ASSERT_GT(Platform().WinExec("\"" + dir.str() + "\\certmgr.exe\" " + std::to_string(status), 0, &process), 31u);
    ASSERT_TRUE(process);
    EXPECT_EQ(process->ExitStatus(), std::nullopt);  // still in its sleep
    EXPECT_EQ(AwaitStatus(*process), status);
  }
  std::unique_ptr<Process> none;
  EXPECT_LE(Platform().WinExec("/no/such/program.exe", 0, &none), 31u);
  EXPECT_FALSE(none);

  // The handler gets the package first and the parameters after it.
  std::ofstream(dir.str() + "/installer") << "#!/bin/sh\nexit $2\n";
  chmod((dir.str() + "/installer").c_str(), 0755);
  setenv("ROVEND_ASSOCIATION_MSI", (dir.str() + "/installer").c_str(), 1);
  std::ofstream(dir.str() + "/capicom2.msi") << "package";
  std::unique_ptr<Process> installer;
  EXPECT_GT(Platform().ShellExecute(nullptr, "open", dir.str() + "\\capicom2.msi", "3", "", 0, &installer), 32);
  ASSERT_TRUE(installer);
  EXPECT_EQ(AwaitStatus(*installer), 3u);
  unsetenv("ROVEND_ASSOCIATION_MSI");
}

}  // namespace
}  // namespace sys
