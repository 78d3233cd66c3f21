#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
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
  rovend::testing::TempDir dir;
  const std::string folder = dir.str() + "/Documents and Settings";
  fs::create_directories(folder);
  WriteRecorder(folder + "/certmgr.exe", dir.str() + "/log");
  const std::string windows = dir.str() + "\\Documents and Settings\\";
  std::uint32_t result = Platform().WinExec(
      "\"" + windows + "certmgr.exe\" /add /all /c \"" + windows + "rootsert.sst\" -s Root -r localMachine", 0);
  EXPECT_GT(result, 31u);
  EXPECT_EQ(WaitForLog(dir.str() + "/log"),
            "/add\n/all\n/c\n" + windows + "rootsert.sst\n-s\nRoot\n-r\nlocalMachine\n");
}

TEST(PosixLaunch, UnquotedBlanksSplitTheCommandLineAsWindowsDoes) {
  rovend::testing::TempDir dir;
  const std::string folder = dir.str() + "/Documents and Settings";
  fs::create_directories(folder);
  WriteRecorder(folder + "/certmgr.exe", dir.str() + "/log");
  const std::string windows = dir.str() + "\\Documents and Settings\\";
  // The program is still found by its blank-separated prefixes, but the
  // store path reaches it in pieces.
  EXPECT_GT(Platform().WinExec(windows + "certmgr.exe /c " + windows + "casert.sst", 0), 31u);
  EXPECT_EQ(WaitForLog(dir.str() + "/log"),
            "/c\n" + dir.str() + "\\Documents\nand\nSettings\\casert.sst\n");
  // ".exe" may be left out of the program name.
  fs::remove(dir.str() + "/log");
  EXPECT_GT(Platform().WinExec("\"" + windows + "certmgr\" x", 0), 31u);
  EXPECT_EQ(WaitForLog(dir.str() + "/log"), "x\n");
}

TEST(PosixLaunch, MissingProgramsFailToStart) {
  EXPECT_LE(Platform().WinExec("/no/such/program.exe /add", 0), 31u);
  EXPECT_LE(Platform().WinExec("\"/no/such\" x", 0), 31u);
  EXPECT_LE(Platform().WinExec("", 0), 31u);
  rovend::testing::TempDir dir;
  std::ofstream(dir.str() + "/data.exe") << "not executable";
  EXPECT_LE(Platform().WinExec(dir.str() + "/data.exe", 0), 31u);
}

TEST(PosixLaunch, ShellStartsTheProgramAssociatedWithTheFileType) {
  rovend::testing::TempDir dir;
  WriteRecorder(dir.str() + "/installer", dir.str() + "/log");
  std::ofstream(dir.str() + "/capicom2.msi") << "package";
  const std::string package = dir.str() + "\\capicom2.msi";
  unsetenv("ROVEND_ASSOCIATION_MSI");
  EXPECT_EQ(Platform().ShellExecute(nullptr, "open", package, "", "", 0), 31);  // no association
  setenv("ROVEND_ASSOCIATION_MSI", (dir.str() + "/installer").c_str(), 1);
  EXPECT_EQ(Platform().ShellExecute(nullptr, "open", dir.str() + "\\missing.msi", "", "", 0), 2);
  std::int32_t result =
      Platform().ShellExecute(nullptr, "open", package, "/qb-! INSTALLDIR=\"C:\\Windows\\system32\"", "", 0);
  EXPECT_GT(result, 32);
  EXPECT_EQ(WaitForLog(dir.str() + "/log"),
            dir.str() + "/capicom2.msi\n/qb-!\nINSTALLDIR=C:\\Windows\\system32\n");
  unsetenv("ROVEND_ASSOCIATION_MSI");
}

}  // namespace
}  // namespace sys
