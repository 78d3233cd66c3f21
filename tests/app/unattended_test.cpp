// The unattended mode: its command line, exit statuses and log, on the
// headless window with recording system services.
#include "app/unattended.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/form1.h"
#include "fake_system.h"
#include "support/temp_dir.h"
#include "ui/application.h"
#include "ui/headless.h"

namespace app {
namespace {

using testing::FakeSystem;
using Kind = CommandLine::Kind;

TEST(UnattendedCommandLine, SwitchesTasksAndMistakes) {
  EXPECT_EQ(ParseCommandLine({}).kind, Kind::Window);
  EXPECT_EQ(ParseCommandLine({"/?"}).kind, Kind::Help);
  EXPECT_EQ(ParseCommandLine({"/quiet", "-?"}).kind, Kind::Help);

  CommandLine all = ParseCommandLine({"/quiet"});
  EXPECT_EQ(all.kind, Kind::Quiet);
  EXPECT_TRUE(all.options.capicom && all.options.certificates && all.options.zone);
  EXPECT_EQ(all.options.log, "");

  CommandLine some = ParseCommandLine({"-QUIET", "/Log", "C:\\logs\\Zoë setup.log", "/tasks", "zone,CAPICOM"});
  ASSERT_EQ(some.kind, Kind::Quiet);
  EXPECT_EQ(some.options.log, "C:\\logs\\Zoë setup.log");
  EXPECT_TRUE(some.options.capicom && some.options.zone);
  EXPECT_FALSE(some.options.certificates);

  // Mistakes name themselves; with /quiet given no box may show them.
  const std::pair<std::vector<std::string>, bool> bad[] = {
      {{"/log", "x.log"}, false},  {{"/tasks", "zone"}, false},         {{"setup"}, false},
      {{"/quiet", "/log"}, true},  {{"/quiet", "/tasks", "zone,"}, true}, {{"/quiet", "/tasks", "browser"}, true},
      {{"/quiet", "/reboot"}, true},
  };
  for (const auto& [args, quiet] : bad) {
    SCOPED_TRACE(args.back());
    const CommandLine c = ParseCommandLine(args);
    EXPECT_EQ(c.kind, Kind::Bad);
    EXPECT_EQ(c.quiet, quiet);
    EXPECT_FALSE(c.error.empty());
  }
}

class UnattendedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::headless::Reset();
    ui::Application::Instance().SetTitle("Настройка");
    system.UseBuiltPayload(sandbox.str(), kAppData);
  }
  int Run(const std::vector<std::string>& args) {
    log = sandbox.str() + "/setup.log";
    std::vector<std::string> all = args;
    all.insert(all.end(), {"/log", log});
    const int status = RunFromCommandLine(system, ParseCommandLine(all));
    EXPECT_TRUE(ui::headless::ShownDialogs().empty());
    return status;
  }
  std::string Log() const {
    std::ifstream in(log, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  support::TempDir sandbox;
  const std::string kAppData = sandbox.str() + "/AppData/Roaming";
  const std::string kWork = kAppData + "\\tempEE\\";
  std::string log;
  FakeSystem system;
};

TEST_F(UnattendedTest, AllTasksSucceedAndTheLogHasEveryStep) {
  system.installer = FakeSystem::Ends(0, 5000);  // ends while the tasks after it run
  EXPECT_EQ(Run({"/quiet"}), kExitSuccess);
  const std::string text = Log();
  for (const std::string& line : std::vector<std::string>{
           "unpacked 7 files into " + kWork,
           "copied " + kWork + "capicom.inf to C:\\Windows\\syswow64\\capicom.inf",
           "opened " + kWork + "capicom2.msi /qb-! INSTALLDIR=\"C:\\Windows\\system32\": the shell answered 42",
           "started \"" + kWork + "certmgr.exe\" /add /all /c \"" + kWork + "rootsert.sst\" -s Root -r localMachine: running",
           "-s CA -r localMachine: ended with status 0",
           "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\2: 120B = 3",
           "ZoneMap\\Domains\\edo.rovend.ru: https = 2",
           "installer ended with status 0",
           "working folder removed: " + kWork,
           "exit status 0",
       })
    EXPECT_NE(text.find(line + "\r\n"), std::string::npos) << line << "\n" << text;
  // The same steps as a press, never the window's own start-up or a box.
  EXPECT_EQ(std::count(system.calls.begin(), system.calls.end(), "IsUserAnAdmin"), 1);
  EXPECT_NE(std::find(system.calls.begin(), system.calls.end(), "DeleteFolder(" + kWork + ")"), system.calls.end());
}

TEST_F(UnattendedTest, EachFailureHasItsStatusAndItsReason) {
  struct Case {
    const char* what;
    std::function<void(FakeSystem&)> set;
    int status;
    const char* reason;
  };
  const Case cases[] = {
      {"installer asks for a restart", [](FakeSystem& s) { s.installer = FakeSystem::Ends(3010); }, kExitRestartRequired,
       "installer ended with status 3010"},
      {"installation failed", [](FakeSystem& s) { s.installer = FakeSystem::Ends(1603); }, kExitCapicomFailed,
       "CAPICOM: failed"},
      {"installer never ends", [](FakeSystem& s) { s.installer = FakeSystem::Ends(std::nullopt); }, kExitCapicomFailed,
       "installer: still running"},
      {"an import failed", [](FakeSystem& s) { s.execRun = FakeSystem::Ends(1); }, kExitCertificatesFailed,
       "ended with status 1"},
      {"no host list", [](FakeSystem& s) { s.files.clear(); }, kExitZoneFailed, "Ошибка доступа к файлу "},
      {"a zone key refused", [](FakeSystem& s) { s.failingKeys.insert(
                                                     "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\2"); },
       kExitZoneFailed, "zone: failed: Failed to set data for '1001'"},
      {"no payload", [](FakeSystem& s) { s.hasPayload = false; }, kExitUnpackingFailed,
       "unpacking failed: Resource test not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    system.installer = FakeSystem::Ends(0);
    system.execRun = FakeSystem::Ends(0);
    system.failingKeys.clear();
    system.existing.clear();
    system.hasPayload = true;
    SetUp();
    c.set(system);
    EXPECT_EQ(Run({"/quiet"}), c.status);
    EXPECT_NE(Log().find(c.reason), std::string::npos) << Log();
  }
}

TEST_F(UnattendedTest, OnlyTheChosenTasksRunAndDecide) {
  system.installer = FakeSystem::Ends(1603);
  system.execRun = FakeSystem::Ends(1);
  EXPECT_EQ(Run({"/quiet", "/tasks", "zone"}), kExitSuccess);
  for (const auto& call : system.calls) {
    EXPECT_EQ(call.rfind("ShellExecute", 0), std::string::npos) << call;
    EXPECT_EQ(call.rfind("WinExec", 0), std::string::npos) << call;
  }
  // The first failure in the tasks' order gives the status.
  EXPECT_EQ(Run({"/quiet", "/tasks", "certificates,capicom"}), kExitCapicomFailed);
}

TEST_F(UnattendedTest, ALogThatCannotBeWrittenIsAFailure) {
  EXPECT_EQ(RunFromCommandLine(system, ParseCommandLine({"/quiet", "/log", "/elsewhere/setup.log"})), kExitLogFailed);
  EXPECT_TRUE(std::find(system.calls.begin(), system.calls.end(), "IsUserAnAdmin") == system.calls.end());
  // Without /log nothing is written but the working folder.
  system.calls.clear();
  EXPECT_EQ(RunFromCommandLine(system, ParseCommandLine({"/quiet", "/tasks", "zone"})), kExitSuccess);
  for (const auto& call : system.calls)
    if (call.rfind("WriteNewFile", 0) == 0) {
      EXPECT_EQ(call.rfind("WriteNewFile(" + kWork, 0), 0u) << call;
    }
}

TEST(UnattendedBoxes, UsageAndMistakesShowInABoxUnlessQuiet) {
  ui::headless::Reset();
  FakeSystem system;
  EXPECT_EQ(RunFromCommandLine(system, ParseCommandLine({"/?"})), kExitSuccess);
  ASSERT_EQ(ui::headless::ShownDialogs().size(), 1u);
  EXPECT_EQ(ui::headless::ShownDialogs()[0].text, kUsage);
  EXPECT_EQ(ui::headless::ShownDialogs()[0].options.icon, ui::DialogIcon::Information);
  EXPECT_EQ(RunFromCommandLine(system, ParseCommandLine({"/tasks", "zone"})), kExitBadCommandLine);
  ASSERT_EQ(ui::headless::ShownDialogs().size(), 2u);
  EXPECT_EQ(ui::headless::ShownDialogs()[1].options.icon, ui::DialogIcon::Error);
  EXPECT_EQ(RunFromCommandLine(system, ParseCommandLine({"/quiet", "/tasks", "browser"})), kExitBadCommandLine);
  EXPECT_EQ(ui::headless::ShownDialogs().size(), 2u);
  EXPECT_TRUE(system.calls.empty());
}

}  // namespace
}  // namespace app
