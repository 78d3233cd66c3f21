#include "sys/text.h"

#include <gtest/gtest.h>

#include "../../sys/src/common/command_line.h"
#include "../support/stub_system.h"
#include "sys/system.h"

namespace sys {
namespace {

TEST(Text, CaseIsIgnoredForLatinLettersOnly) {
  EXPECT_TRUE(EqualsAsciiNoCase("MSIEXEC.EXE", "msiexec.exe"));
  EXPECT_TRUE(EqualsAsciiNoCase("", ""));
  EXPECT_FALSE(EqualsAsciiNoCase("msiexec.exe", "msiexec.ex"));
  EXPECT_FALSE(EqualsAsciiNoCase("msiexec.exe ", "msiexec.exe"));
  // Cyrillic letters in two cases are different characters here.
  EXPECT_FALSE(EqualsAsciiNoCase("Я.exe", "я.exe"));
  EXPECT_TRUE(EqualsAsciiNoCase("я.EXE", "я.exe"));
  // '[' and '{' sit 32 apart like letters, but are not letters.
  EXPECT_FALSE(EqualsAsciiNoCase("[", "{"));
}

TEST(Text, FileNamePartFollowsTheLastSeparator) {
  EXPECT_EQ(FileNamePart("C:\\Windows\\System32\\msiexec.exe"), "msiexec.exe");
  EXPECT_EQ(FileNamePart("C:msiexec.exe"), "msiexec.exe");
  EXPECT_EQ(FileNamePart("msiexec.exe"), "msiexec.exe");
  EXPECT_EQ(FileNamePart("/usr/bin/msiexec.exe"), "msiexec.exe");
  EXPECT_EQ(FileNamePart("C:\\dir\\"), "");
}

// Answers from a fixed list, to test the matching of the base class.
class ListSystem : public testing::StubSystem {
 public:
  ProcessList list;
  std::uint32_t tick = 0;
  std::uint32_t step = 7;
  void FillProcessList(ProcessList* out) override {
    if (out) *out = list;
  }
  std::uint32_t GetTickCount() override { return tick += step; }
};

TEST(System, IsProcessRunningComparesFileNamesOrWholeEntries) {
  ListSystem s;
  s.list = {"C:\\Program Files\\tool.exe", "D:\\Apps\\MsiExec.exe", "C:\\msiexec.exe\\other.exe"};
  EXPECT_TRUE(s.IsProcessRunning("msiexec.exe", false));
  EXPECT_FALSE(s.IsProcessRunning("msiexec.exe", true));
  EXPECT_TRUE(s.IsProcessRunning("d:\\apps\\msiexec.EXE", true));
  EXPECT_FALSE(s.IsProcessRunning("apps\\msiexec.exe", false));
  s.list.clear();
  EXPECT_FALSE(s.IsProcessRunning("msiexec.exe", false));
}

TEST(System, DelayPumpsAtLeastOnceAndSurvivesTheTickWrap) {
  ListSystem s;
  int passes = 0;
  MessagePump pump{[&] { ++passes; }, nullptr};
  s.Delay(0, pump);
  EXPECT_EQ(passes, 1);
  s.Delay(-5, pump);
  EXPECT_EQ(passes, 2);

  passes = 0;
  s.tick = 0xFFFFFFF0u;  // wraps during the wait
  s.Delay(70, pump);
  EXPECT_EQ(passes, 10);  // readings 7, 14, ... 70 ticks after the first
  std::uint32_t waited = 0;
  MessagePump waiting{[] {}, [&](std::uint32_t ms) { waited = ms; }};
  s.Delay(10, waiting);
  EXPECT_EQ(waited, 3u);  // 10 - 7 left after the first pass
}

TEST(CommandLine, SplitsArgumentsAsTheWindowsRuntimeDoes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitArguments(""), V{});
  EXPECT_EQ(SplitArguments("  a  b\tc "), (V{"a", "b", "c"}));
  EXPECT_EQ(SplitArguments("/qb-! INSTALLDIR=\"C:\\Windows\\system32\""),
            (V{"/qb-!", "INSTALLDIR=C:\\Windows\\system32"}));
  EXPECT_EQ(SplitArguments("\"C:\\Documents and Settings\\x.sst\" -s Root"),
            (V{"C:\\Documents and Settings\\x.sst", "-s", "Root"}));
  EXPECT_EQ(SplitArguments("a\\\\\"b c\" d"), (V{"a\\b c", "d"}));  // 2n backslashes: n, quote toggles
  EXPECT_EQ(SplitArguments("a\\\"b"), (V{"a\"b"}));                    // 2n+1: n and a literal quote
  EXPECT_EQ(SplitArguments("a\\b\\ c"), (V{"a\\b\\", "c"}));       // not before a quote: as they are
  EXPECT_EQ(SplitArguments("\"a\"\"b\""), (V{"a\"b"}));
  EXPECT_EQ(SplitArguments("\"\""), (V{""}));
}

}  // namespace
}  // namespace sys
