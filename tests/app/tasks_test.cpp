// The three tasks of a press, on the headless window with recording
// system services.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "app/form1.h"
#include "fake_system.h"
#include "support/temp_dir.h"
#include "ui/application.h"
#include "ui/headless.h"

namespace app {
namespace {

using testing::FakeSystem;
using Calls = std::vector<std::string>;
using Value = std::tuple<std::string, std::string, std::uint32_t>;

const std::string kZone = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\2";
const std::string kDomains = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\";

class TasksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::headless::Reset();
    ui::Application::Instance().SetTitle("Настройка");
    system.UseBuiltPayload(sandbox.str(), kAppData);
    form.Form().Activated();
    system.calls.clear();
  }
  void Tick(bool box1, bool box2, bool box3) {
    form.CheckBox1->SetChecked(box1);
    form.CheckBox2->SetChecked(box2);
    form.CheckBox3->SetChecked(box3);
  }
  // Calls of one kind, in order.
  Calls Only(const std::string& prefix) const {
    Calls out;
    for (const auto& c : system.calls)
      if (c.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
  }
  std::vector<Value> HostValues() const {
    std::vector<Value> out;
    for (const auto& v : system.values)
      if (std::get<0>(v).rfind(kDomains, 0) == 0) out.push_back(v);
    return out;
  }

  support::TempDir sandbox;
  const std::string kAppData = sandbox.str() + "/AppData/Roaming";
  const std::string kWork = kAppData + "\\tempEE\\";
  FakeSystem system;
  TForm1 form{system};
};

std::vector<Value> ZoneValues() {
  std::vector<Value> out;
  for (const char* name : {"1001", "1004", "1200", "1201", "1208", "1209", "120A"}) out.emplace_back(kZone, name, 0);
  out.emplace_back(kZone, "120B", 3);
  for (const char* name : {"1405", "2000", "2201"}) out.emplace_back(kZone, name, 0);
  return out;
}

TEST_F(TasksTest, AllThreeTasksRunInOrderWithTheirExactCommands) {
  form.Button1->Click();
  // Each file is held right before it is used.
  const Calls expected = {
      "HoldFile(" + kWork + "capicom.inf)",
      "CopyFile(" + kWork + "capicom.inf, C:\\Windows\\syswow64\\capicom.inf, 1)",
      "HoldFile(" + kWork + "capicom.dll)",
      "CopyFile(" + kWork + "capicom.dll, C:\\Windows\\syswow64\\capicom.dll, 1)",
      "HoldFile(" + kWork + "capicom2.msi)",
      "ShellExecute(open, " + kWork + "capicom2.msi, /qb-! INSTALLDIR=\"C:\\Windows\\system32\", , 0)",
      "Delay(1500)",
      "HoldFile(" + kWork + "certmgr.exe)",
      "HoldFile(" + kWork + "rootsert.sst)",
      "HoldFile(" + kWork + "casert.sst)",
      "WinExec(\"" + kWork + "certmgr.exe\" /add /all /c \"" + kWork + "rootsert.sst\" -s Root -r localMachine, 0)",
      "WinExec(\"" + kWork + "certmgr.exe\" /add /all /c \"" + kWork + "casert.sst\" -s CA -r localMachine, 0)",
      "OpenUserKey(" + kZone + ", 1)",
      "CloseUserKey(" + kZone + ")",
      "HoldFile(" + kWork + "url.txt)",
      "OpenTextFile(" + kWork + "url.txt)",
      "OpenUserKey(" + kDomains + "torgi.rovend.ru, 1)",
      "CloseUserKey(" + kDomains + "torgi.rovend.ru)",
      "OpenUserKey(" + kDomains + "edo.rovend.ru, 1)",
      "CloseUserKey(" + kDomains + "edo.rovend.ru)",
      "CloseFile(" + kWork + "url.txt)",
  };
  EXPECT_EQ(system.calls, expected);
  EXPECT_EQ(system.shellWindow, form.Form().native);

  std::vector<Value> values = ZoneValues();
  for (const char* host : {"torgi.rovend.ru", "edo.rovend.ru"}) {
    values.emplace_back(kDomains + host, "http", 2);
    values.emplace_back(kDomains + host, "https", 2);
  }
  EXPECT_EQ(system.values, values);
  EXPECT_EQ(form.InstallerResult, 42);
  EXPECT_TRUE(form.Timer1->Enabled());
  EXPECT_TRUE(form.Image1->Visible());
  EXPECT_TRUE(form.Image3->Visible());
  EXPECT_FALSE(form.Image2->Visible());  // the watch decides it

  form.Timer1->Fire();
  EXPECT_TRUE(form.Image2->Visible());
  EXPECT_FALSE(form.Image4->Visible());
}

TEST_F(TasksTest, EachCombinationOfBoxesRunsItsTasksOnly) {
  for (int mask = 0; mask < 8; ++mask) {
    const bool box1 = mask & 1, box2 = mask & 2, box3 = mask & 4;
    Tick(box1, box2, box3);
    system.calls.clear();
    system.existing.clear();  // each press copies afresh
    form.Button1->Click();
    SCOPED_TRACE("boxes " + std::to_string(mask));
    EXPECT_EQ(!Only("ShellExecute").empty(), box2);
    EXPECT_EQ(Only("WinExec").size(), box1 ? 2u : 0u);
    EXPECT_EQ(!Only("OpenTextFile").empty(), box3);
    EXPECT_EQ(form.Timer1->Enabled(), box2);
    EXPECT_EQ(form.InstallerResult, box2 ? 42 : 0);
    EXPECT_EQ(form.Image1->Visible(), box1);
    EXPECT_EQ(form.Image3->Visible(), box3);
    form.Timer1->Fire();
    EXPECT_EQ(form.Image2->Visible(), box2);
    EXPECT_FALSE(form.Image4->Visible());
    // The CAPICOM task runs first, then certificates, then the browser.
    auto pos = [&](const std::string& prefix) {
      auto it = std::find_if(system.calls.begin(), system.calls.end(),
                             [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
      return it - system.calls.begin();
    };
    if (box1 && box2) EXPECT_LT(pos("ShellExecute"), pos("WinExec"));
    if (box1 && box3) EXPECT_LT(pos("WinExec"), pos("OpenTextFile"));
  }
}

TEST_F(TasksTest, PathsWithBlanksReachTheCertificateToolWhole) {
  system.appData = sandbox.str() + "/Documents and Settings/Пользователь/Application Data";
  TForm1 other(system);
  other.Form().Activated();
  other.CheckBox2->SetChecked(false);
  other.CheckBox3->SetChecked(false);
  system.calls.clear();
  other.Button1->Click();
  const std::string work = system.appData + "\\tempEE\\";
  EXPECT_EQ(Only("WinExec"),
            (Calls{"WinExec(\"" + work + "certmgr.exe\" /add /all /c \"" + work +
                       "rootsert.sst\" -s Root -r localMachine, 0)",
                   "WinExec(\"" + work + "certmgr.exe\" /add /all /c \"" + work +
                       "casert.sst\" -s CA -r localMachine, 0)"}));
}

TEST_F(TasksTest, CertificateMarkNeedsBothRunsStartedAndEndedWithZero) {
  Tick(true, false, false);
  const std::uint32_t statuses[] = {0, 1, 0xFFFFFFFF};
  for (std::uint32_t root : statuses) {
    for (std::uint32_t intermediate : statuses) {
      SCOPED_TRACE(std::to_string(root) + ", " + std::to_string(intermediate));
      // The first run takes longer than the second: the task waits for both.
      system.execRuns = {FakeSystem::Ends(root, 2000), FakeSystem::Ends(intermediate, 300)};
      form.Button1->Click();
      EXPECT_EQ(form.Image1->Visible(), root == 0 && intermediate == 0);
      EXPECT_EQ(system.heldProcesses, 0);
    }
  }
  // A start that fails hides the mark and does not keep the other from
  // starting.
  for (std::vector<std::uint32_t> results : {std::vector<std::uint32_t>{2, 33}, {33, 31}}) {
    system.calls.clear();
    system.execResults = results;
    form.Button1->Click();
    EXPECT_FALSE(form.Image1->Visible());
    EXPECT_EQ(Only("WinExec").size(), 2u);
  }
}

TEST_F(TasksTest, CertificateWaitIsBoundedAndEndsAtTheFirstFailure) {
  Tick(true, false, true);
  system.execRuns = {FakeSystem::Ends(0), FakeSystem::Ends(std::nullopt)};
  std::uint32_t before = system.ticks;
  form.Button1->Click();
  EXPECT_FALSE(form.Image1->Visible());
  EXPECT_GE(system.ticks - before, 180000u);
  EXPECT_LT(system.ticks - before, 190000u);
  EXPECT_TRUE(form.Image3->Visible());  // the browser task still runs after it
  EXPECT_EQ(system.heldProcesses, 0);

  // A run that failed settles the mark: the other is not waited for.
  system.execRuns = {FakeSystem::Ends(std::nullopt), FakeSystem::Ends(1, 500)};
  before = system.ticks;
  form.Button1->Click();
  EXPECT_FALSE(form.Image1->Visible());
  EXPECT_LT(system.ticks - before, 2000u);

  // A slow import that succeeds within the bound shows the mark.
  system.execRuns = {FakeSystem::Ends(0, 120000), FakeSystem::Ends(0)};
  form.Button1->Click();
  EXPECT_TRUE(form.Image1->Visible());
}

TEST_F(TasksTest, TheWindowStaysResponsiveWhileTheCertificatesImport) {
  Tick(true, false, false);
  // The runs end only once a call posted to the window has run, so the mark
  // shows only if the wait lets messages through.
  system.execRun = FakeSystem::Ends(std::nullopt);
  std::atomic<bool> ran = false;
  std::thread poster([&] {
    ui::Application::Instance().RunOnUiThread([&] {
      system.execRun->status = 0;
      ran = true;
    });
  });
  while (!ran) form.Button1->Click();
  poster.join();
  EXPECT_TRUE(form.Image1->Visible());
}

TEST_F(TasksTest, CapicomMarkFollowsTheInstallersOwnStatus) {
  Tick(false, true, false);
  const std::pair<std::uint32_t, bool> cases[] = {{0, true}, {3010, true}, {1641, true}, {1603, false}, {1602, false}};
  for (const auto& [status, shown] : cases) {
    SCOPED_TRACE(status);
    system.installer = FakeSystem::Ends(std::nullopt);
    system.processes = {"C:\\Windows\\System32\\msiexec.exe"};
    system.existing.clear();  // each press copies afresh
    form.Button1->Click();
    form.Timer1->Fire();
    EXPECT_TRUE(form.Image4->Visible());
    EXPECT_FALSE(form.Image2->Visible());
    system.installer->status = status;
    system.processes.clear();
    form.Timer1->Fire();
    EXPECT_FALSE(form.Image4->Visible());
    EXPECT_EQ(form.Image2->Visible(), shown);
  }
  // Ours ended well, but an installer still runs: the spinner, no mark.
  system.processes = {"msiexec.exe"};
  form.Timer1->Fire();
  EXPECT_TRUE(form.Image4->Visible());
  EXPECT_FALSE(form.Image2->Visible());
  // Ours has not ended yet, under another name: no spinner, no mark.
  system.installer = FakeSystem::Ends(std::nullopt);
  system.processes.clear();
  form.Button1->Click();
  form.Timer1->Fire();
  EXPECT_FALSE(form.Image4->Visible());
  EXPECT_FALSE(form.Image2->Visible());
}

TEST_F(TasksTest, FailedInstallerLaunchLeavesBothCapicomMarksHidden) {
  Tick(false, true, false);
  system.shellResult = 2;  // file not found
  form.Button1->Click();
  EXPECT_EQ(form.InstallerResult, 2);
  EXPECT_EQ(system.heldProcesses, 0);
  form.Timer1->Fire();
  EXPECT_FALSE(form.Image2->Visible());
  EXPECT_FALSE(form.Image4->Visible());
  // ...unless some installer runs, which shows the spinner.
  system.processes = {"C:\\Windows\\System32\\msiexec.exe"};
  form.Timer1->Fire();
  EXPECT_TRUE(form.Image4->Visible());
}

TEST_F(TasksTest, SecondPressFollowsOnlyItsOwnInstaller) {
  Tick(false, true, false);
  const auto first = FakeSystem::Ends(std::nullopt);
  system.installer = first;
  system.processes = {"msiexec.exe"};
  form.Button1->Click();
  form.Timer1->Fire();
  EXPECT_TRUE(form.Image4->Visible());

  system.installer = FakeSystem::Ends(1603);
  form.Button1->Click();
  EXPECT_EQ(system.heldProcesses, 1);  // the first is let go
  form.Timer1->Fire();
  EXPECT_TRUE(form.Image4->Visible());  // the first still runs
  // The first one ends well, the second had failed: no mark.
  first->status = 0;
  system.processes.clear();
  form.Timer1->Fire();
  EXPECT_FALSE(form.Image2->Visible());
  EXPECT_FALSE(form.Image4->Visible());
}

TEST_F(TasksTest, SecondCapicomRunNeverOverwritesAndLaunchesAgain) {
  Tick(false, true, false);
  form.Button1->Click();
  form.InstallerResult = 7;
  form.Button1->Click();
  EXPECT_EQ(form.InstallerResult, 42);
  EXPECT_EQ(Only("ShellExecute").size(), 2u);
  EXPECT_EQ(Only("CopyFile").size(), 4u);
  for (const auto& c : Only("CopyFile")) EXPECT_EQ(c.substr(c.size() - 4), ", 1)") << c;
}

TEST_F(TasksTest, PressesDuringARunStartNothingAndTheButtonComesBackAsItWas) {
  int presses = 0;
  system.duringDelay = [&] {
    EXPECT_FALSE(form.Button1->Enabled());
    for (; presses < 3; ++presses) form.Button1->Click();
  };
  form.Form().ShowWindow();
  form.Form().FocusControl(*form.Button1);
  form.Button1->Click();
  EXPECT_EQ(presses, 3);
  EXPECT_EQ(Only("ShellExecute").size(), 1u);
  EXPECT_EQ(Only("WinExec").size(), 2u);
  EXPECT_EQ(Only("OpenTextFile").size(), 1u);
  EXPECT_TRUE(form.Button1->Enabled());
  EXPECT_EQ(ui::headless::FocusedControl(), form.Button1);

  // A task that raises gives the button back too; a disabled one stays so.
  system.duringDelay = nullptr;
  system.failingKeys.insert(kZone);
  form.Button1->Click();
  EXPECT_EQ(ui::headless::ShownDialogs().size(), 1u);
  EXPECT_TRUE(form.Button1->Enabled());
  form.Button1->SetEnabled(false);
  form.Button1->Click();
  EXPECT_FALSE(form.Button1->Enabled());
}

TEST_F(TasksTest, CapicomMarkNeedsBothCopiesOrOurOwnFilesInPlace) {
  Tick(false, true, false);
  form.WindowsPath = sandbox.str() + "/Windows";
  const std::filesystem::path syswow64 = sandbox.path() / "Windows" / "syswow64";
  std::filesystem::create_directories(syswow64);
  const std::filesystem::path work = std::filesystem::path(kAppData) / "tempEE";
  const auto press = [&] {
    form.Button1->Click();
    form.Timer1->Fire();
    return form.Image2->Visible();
  };
  EXPECT_TRUE(press());
  // The copies now fail: the files in place are what we unpacked, so the
  // installation stands.
  for (const char* name : {"capicom.inf", "capicom.dll"})
    std::filesystem::copy_file(work / name, syswow64 / name, std::filesystem::copy_options::overwrite_existing);
  EXPECT_TRUE(press());
  // An older library in place is not replaced: no mark.
  std::ofstream(syswow64 / "capicom.dll", std::ios::binary) << "older capicom";
  EXPECT_FALSE(press());
  std::filesystem::remove(syswow64 / "capicom.dll");
  EXPECT_FALSE(press());  // the fake's copy still fails: it remembers the target
  // No syswow64 at all, as on 32-bit Windows: nothing is copied.
  system.existing.clear();
  system.failingCopies = true;
  EXPECT_FALSE(press());
}

TEST_F(TasksTest, TheWaitKeepsTheWindowAlive) {
  Tick(false, true, false);
  int ticks = 0;
  form.Timer1->onTimer = [&] { ++ticks; };
  // The fake clock runs 100 ms per reading, so 1.5 s pass in 15 passes; a
  // call posted meanwhile must run inside the wait.
  bool ran = false;
  std::thread poster([&] { ui::Application::Instance().RunOnUiThread([&] { ran = true; }); });
  while (!ran) {
    form.Button1->Click();
  }
  poster.join();
  EXPECT_TRUE(ran);
}

// Replaces a file of the working folder as a program without elevation
// could: by another file under its name, or by changing a byte in place.
void Tamper(const std::filesystem::path& file, bool inPlace) {
  if (inPlace) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    char c = 0;
    f.seekg(0);
    f.get(c);
    f.seekp(0);
    f.put(static_cast<char>(c ^ 1));
    return;
  }
  const std::filesystem::path other = file.string() + ".new";
  std::ofstream(other, std::ios::binary) << "planted";
  std::filesystem::rename(other, file);
}

std::string Content(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST_F(TasksTest, AFileChangedAfterUnpackingIsNotUsedAndItsMarkStaysHidden) {
  // Each file, and how many certificate runs may still start without it.
  const std::pair<const char*, std::size_t> cases[] = {
      {"capicom.inf", 2},  {"capicom.dll", 2}, {"capicom2.msi", 2}, {"certmgr.exe", 0},
      {"rootsert.sst", 1}, {"casert.sst", 1},  {"url.txt", 2},
  };
  for (bool inPlace : {false, true}) {
    for (const auto& [name, certificateRuns] : cases) {
      SCOPED_TRACE(std::string(name) + (inPlace ? " changed in place" : " swapped"));
      TForm1 other(system);
      other.Form().Activated();  // unpacks the payload afresh
      const std::filesystem::path file = std::filesystem::path(kAppData) / "tempEE" / name;
      Tamper(file, inPlace);
      const std::string tampered = Content(file);
      system.calls.clear();
      system.values.clear();
      system.existing.clear();  // each press copies afresh
      other.Button1->Click();
      other.Timer1->Fire();
      for (const auto& call : system.calls) {
        // The file is never named in a use: not copied, launched, run or
        // read (the host list is opened, so that a missing one is still
        // reported, but not read).
        if (call.rfind("HoldFile", 0) == 0 || call.rfind("OpenTextFile", 0) == 0 || call.rfind("CloseFile", 0) == 0)
          continue;
        EXPECT_EQ(call.find(name), std::string::npos) << call;
      }
      EXPECT_EQ(Only("WinExec").size(), certificateRuns);
      EXPECT_EQ(other.Image1->Visible(), certificateRuns == 2);
      const std::string file_name = name;
      EXPECT_EQ(other.Image2->Visible(), file_name.rfind("capicom", 0) != 0);
      EXPECT_EQ(other.Image3->Visible(), file_name != "url.txt");
      EXPECT_EQ(HostValues().empty(), file_name == "url.txt");
      EXPECT_TRUE(ui::headless::ShownDialogs().empty());
      EXPECT_EQ(Content(file), tampered);  // left as found
    }
  }
}

TEST_F(TasksTest, BackslashLinesNestKeysAndLinesThatWouldMisplaceThemWriteNothing) {
  Tick(false, false, true);
  const std::string eighty(80, 'a');
  const std::string eightyOne(81, 'b');
  // A backslash names a sub-domain: a nested key. Empty names are skipped.
  system.files[kWork + "url.txt"] = "first.example\r\n"
                                    "\r\n"
                                    "nested.example\\www\r\n"
                                    "\\lead.example\r\n"
                                    "trail.example\\\r\n"
                                    "double\\\\gap.example\r\n" +
                                    eightyOne + "\r\n" + eighty + "\r\n" +
                                    " spaced.example \n"
                                    "\t \r\n"
                                    "\ttabbed.example\t\r\n"
                                    "\xEF\xBB\xBFnot-first.example\r\n"
                                    "last.example\r\n";
  form.Button1->Click();
  std::vector<Value> expected;
  // Blanks around a host are no part of it; a byte-order mark only opens
  // the file.
  for (const std::string& host :
       {std::string("first.example"), std::string("nested.example\\www"), eighty, std::string("spaced.example"),
        std::string("tabbed.example"), std::string("п»їnot-first.example"), std::string("last.example")}) {
    expected.emplace_back(kDomains + host, "http", 2);
    expected.emplace_back(kDomains + host, "https", 2);
  }
  EXPECT_EQ(HostValues(), expected);
  for (const auto& c : Only("OpenUserKey")) {
    EXPECT_EQ(c.find("\\\\"), std::string::npos) << c;
    EXPECT_NE(c, "OpenUserKey(" + kDomains + ", 1)");
  }
  EXPECT_TRUE(form.Image3->Visible());
}

TEST_F(TasksTest, AByteOrderMarkOpeningTheHostListIsNoPartOfTheFirstHost) {
  Tick(false, false, true);
  // The rest of the list stays 8-bit text in the ANSI code page (1251 here).
  system.files[kWork + "url.txt"] = "\xEF\xBB\xBF bom-first.example\r\n\xEF\xF0\xE8\xEC\xE5\xF0.example\r\n" +
                                    std::string(80, 'c');
  form.Button1->Click();
  const std::vector<Value> expected = {{kDomains + "bom-first.example", "http", 2},
                                       {kDomains + "bom-first.example", "https", 2},
                                       {kDomains + "пример.example", "http", 2},
                                       {kDomains + "пример.example", "https", 2},
                                       {kDomains + std::string(80, 'c'), "http", 2},
                                       {kDomains + std::string(80, 'c'), "https", 2}};
  EXPECT_EQ(HostValues(), expected);
}

TEST_F(TasksTest, EmptyHostListWritesOnlyTheZonePolicies) {
  Tick(false, false, true);
  system.files[kWork + "url.txt"] = "";
  form.Button1->Click();
  EXPECT_EQ(system.values, ZoneValues());
  EXPECT_FALSE(form.Image3->Visible());
  EXPECT_EQ(Only("CloseFile").size(), 1u);
}

TEST_F(TasksTest, MissingHostListShowsTheFileErrorAfterThePolicies) {
  Tick(false, false, true);
  system.files.clear();
  form.Button1->Click();
  EXPECT_EQ(system.values, ZoneValues());
  ASSERT_EQ(ui::headless::ShownDialogs().size(), 1u);
  const auto& box = ui::headless::ShownDialogs()[0];
  EXPECT_EQ(box.text, "Ошибка доступа к файлу " + kWork + "url.txt");
  EXPECT_EQ(box.caption, "Error");
  EXPECT_EQ(box.options.icon, ui::DialogIcon::Error);
  EXPECT_EQ(box.options.buttons, ui::DialogButtons::Ok);
  EXPECT_TRUE(box.options.centerOnScreen);
  EXPECT_FALSE(form.Image3->Visible());
}

TEST_F(TasksTest, RegistryFailureReachesTheDefaultBoxAndTheListIsClosed) {
  Tick(false, false, true);
  system.files[kWork + "url.txt"] = "ok.example\r\nbroken.example\r\nnever.example\r\n";
  system.failingKeys.insert(kDomains + "broken.example");
  form.Button1->Click();
  ASSERT_EQ(ui::headless::ShownDialogs().size(), 1u);
  const auto& box = ui::headless::ShownDialogs()[0];
  EXPECT_EQ(box.text, "Failed to set data for 'http'");  // a quote sorts before the full stop
  EXPECT_EQ(box.caption, "Настройка");
  EXPECT_EQ(box.options.icon, ui::DialogIcon::Error);
  EXPECT_EQ(Only("CloseFile"), (Calls{"CloseFile(" + kWork + "url.txt)"}));
  for (const auto& c : system.calls) EXPECT_EQ(c.find("never.example"), std::string::npos) << c;
  EXPECT_TRUE(form.Image3->Visible());  // the first host went in

  // A failed zone key stops the task before the host list is opened.
  ui::headless::Reset();
  system.calls.clear();
  system.failingKeys.insert(kZone);
  form.Button1->Click();
  ASSERT_EQ(ui::headless::ShownDialogs().size(), 1u);
  EXPECT_EQ(ui::headless::ShownDialogs()[0].text, "Failed to set data for '1001'");
  EXPECT_TRUE(Only("OpenTextFile").empty());
}

}  // namespace
}  // namespace app
