#pragma once
// A recording stand-in for the system services: every call is logged in
// order, and answers come from fields the test sets. Folders and files go
// to the real file system, but only inside `sandbox` (the archive engine
// reads what is written there); anywhere else they fail.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "../../sys/src/common/stdio_text_file.h"
#include "../support/stub_system.h"
#include "app/payload.h"
#include "sys/system.h"

namespace app::testing {

class FakeSystem : public sys::testing::StubSystem {
 public:
  std::vector<std::string> calls;
  std::string sandbox;
  std::string appData;
  std::string windows = "C:\\Windows";
  bool admin = true;
  sys::ProcessList processes;
  std::uint32_t ticks = 1000;
  bool deleteResult = true;
  // Runs inside CreateFolder, to look at the window while the start-up
  // sequence unpacks.
  std::function<void()> duringCreateFolder;
  // Runs inside Delay, as user input does while the wait pumps messages.
  std::function<void()> duringDelay;

  std::string GetSpecialFolder(int folder) override {
    calls.push_back("GetSpecialFolder(" + std::to_string(folder) + ")");
    return folder == sys::kFolderAppData ? appData : folder == sys::kFolderWindows ? windows : "";
  }
  bool IsUserAnAdmin() override {
    calls.push_back("IsUserAnAdmin");
    return admin;
  }
  void FillProcessList(sys::ProcessList* list) override {
    calls.push_back("FillProcessList");
    if (list) *list = processes;
  }
  std::uint32_t GetTickCount() override { return ticks += 100; }
  // The clock is fake, so the waits must not block on real time.
  void Delay(std::int32_t ms, const sys::MessagePump& pump) override {
    calls.push_back("Delay(" + std::to_string(ms) + ")");
    if (duringDelay) duringDelay();
    System::Delay(ms, {pump.processMessages, nullptr, pump.ended});
  }
  bool WaitUntil(const std::function<bool()>& done, std::int32_t ms, const sys::MessagePump& pump) override {
    return System::WaitUntil(done, ms, {pump.processMessages, nullptr, pump.ended});
  }

  // How a started program ends, as the test decides, on the fake clock: with
  // `status` once it has run `runsFor` milliseconds; without one, never. A
  // test may change it while the program runs.
  struct Run {
    std::optional<std::uint32_t> status = 0;
    std::uint32_t runsFor = 0;
  };
  static std::shared_ptr<Run> Ends(std::optional<std::uint32_t> status, std::uint32_t runsFor = 0) {
    return std::make_shared<Run>(Run{status, runsFor});
  }
  // Programs started and not yet released.
  int heldProcesses = 0;
  class FakeProcess : public sys::Process {
   public:
    FakeProcess(FakeSystem& owner, std::shared_ptr<Run> run)
        : owner_(owner), run_(std::move(run)), start_(owner.ticks) {
      ++owner_.heldProcesses;
    }
    ~FakeProcess() override { --owner_.heldProcesses; }
    std::optional<std::uint32_t> ExitStatus() override {
      if (!run_->status || owner_.ticks - start_ < run_->runsFor) return std::nullopt;
      return run_->status;
    }

   private:
    FakeSystem& owner_;
    std::shared_ptr<Run> run_;
    std::uint32_t start_;
  };
  void Hand(const std::shared_ptr<Run>& run, std::unique_ptr<sys::Process>* process) {
    if (process) *process = std::make_unique<FakeProcess>(*this, run);
  }
  bool DeleteFolder(const std::string& path) override {
    calls.push_back("DeleteFolder(" + path + ")");
    return deleteResult;
  }
  bool Inside(const std::string& path) const { return !sandbox.empty() && path.rfind(sandbox + "/", 0) == 0; }

  bool RemoveLink(const std::string& path) override {
    calls.push_back("RemoveLink(" + path + ")");
    return Inside(path) && sys::Platform().RemoveLink(path);
  }
  std::unique_ptr<sys::HeldFolder> HoldFolder(const std::string& path) override {
    calls.push_back("HoldFolder(" + path + ")");
    return Inside(path) ? sys::Platform().HoldFolder(path) : nullptr;
  }
  std::unique_ptr<sys::HeldFile> HoldFile(const std::string& path) override {
    calls.push_back("HoldFile(" + path + ")");
    return Inside(path) ? sys::Platform().HoldFile(path) : nullptr;
  }

  bool CreateFolder(const std::string& path) override {
    calls.push_back("CreateFolder(" + path + ")");
    if (duringCreateFolder) duringCreateFolder();
    return Inside(path) && sys::Platform().CreateFolder(path);
  }
  bool ForceFolders(const std::string& path) override {
    calls.push_back("ForceFolders(" + path + ")");
    return Inside(path) && sys::Platform().ForceFolders(path);
  }
  int WriteNewFile(const std::string& path, std::span<const std::uint8_t> data) override {
    calls.push_back("WriteNewFile(" + path + ", " + std::to_string(data.size()) + ")");
    return Inside(path) ? sys::Platform().WriteNewFile(path, data) : 5;
  }
  std::string ErrorMessage(int code) override { return "Access is denied (" + std::to_string(code) + ")"; }

  // The payload built with the program, for tests that need its seven files.
  static std::vector<std::uint8_t> BuiltPayload() {
    app::RegisterEmbeddedResources();
    auto resource = sys::Platform().FindModuleResource(app::kPayloadType, app::kPayloadName);
    return resource ? std::vector<std::uint8_t>(resource->begin(), resource->end()) : std::vector<std::uint8_t>{};
  }
  // A system whose module carries the built payload, with its application-
  // data folder made inside `sandboxPath` and the host list the tests read.
  void UseBuiltPayload(const std::string& sandboxPath, const std::string& appDataPath) {
    sandbox = sandboxPath;
    appData = appDataPath;
    payload = BuiltPayload();
    std::filesystem::create_directories(appDataPath);
    files[appDataPath + "\\tempEE\\url.txt"] = "torgi.rovend.ru\r\nedo.rovend.ru";
  }
  // The payload the module carries; an empty archive unless a test sets one.
  std::vector<std::uint8_t> payload = {'P', 'K', 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  bool hasPayload = true;
  std::optional<std::span<const std::uint8_t>> FindModuleResource(const std::string& type,
                                                                   const std::string& name) override {
    calls.push_back("FindModuleResource(" + type + ", " + name + ")");
    if (!hasPayload) return std::nullopt;
    return std::span<const std::uint8_t>(payload);
  }

  // Files: copies land in `existing`; a copy onto an existing target fails.
  std::set<std::string> existing;
  bool failingCopies = false;
  bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override {
    calls.push_back("CopyFile(" + from + ", " + to + ", " + (failIfExists ? "1" : "0") + ")");
    if (failingCopies || (failIfExists && existing.count(to))) return false;
    existing.insert(to);
    return true;
  }

  // The shell's answer and, when it launched, how the installer ends.
  std::int32_t shellResult = 42;
  std::shared_ptr<Run> installer = Ends(0);
  void* shellWindow = nullptr;
  std::int32_t ShellExecute(void* window, const std::string& verb, const std::string& file,
                            const std::string& parameters, const std::string& directory, int show,
                            std::unique_ptr<sys::Process>* process) override {
    shellWindow = window;
    calls.push_back("ShellExecute(" + verb + ", " + file + ", " + parameters + ", " + directory + ", " +
                    std::to_string(show) + ")");
    if (shellResult > 32) Hand(installer, process);
    return shellResult;
  }

  // Answers of successive WinExec calls, 33 once they run out, and how the
  // programs started end, `execRun` once `execRuns` run out.
  std::vector<std::uint32_t> execResults;
  std::vector<std::shared_ptr<Run>> execRuns;
  std::shared_ptr<Run> execRun = Ends(0);
  std::uint32_t WinExec(const std::string& commandLine, int show, std::unique_ptr<sys::Process>* process) override {
    calls.push_back("WinExec(" + commandLine + ", " + std::to_string(show) + ")");
    std::uint32_t result = 33;
    if (!execResults.empty()) {
      result = execResults.front();
      execResults.erase(execResults.begin());
    }
    std::shared_ptr<Run> run = execRun;
    if (!execRuns.empty()) {
      run = execRuns.front();
      execRuns.erase(execRuns.begin());
    }
    if (result > 31) Hand(run, process);
    return result;
  }

  // Text files by path; reading goes through the real line reader.
  std::map<std::string, std::string> files;
  class RecordedFile : public sys::TextFile {
   public:
    RecordedFile(FakeSystem& owner, std::string path, std::FILE* file)
        : owner_(owner), path_(std::move(path)), reader_(file) {}
    ~RecordedFile() override { owner_.calls.push_back("CloseFile(" + path_ + ")"); }
    bool ReadLine(std::string& line, std::size_t limit, bool& longer) override {
      return reader_.ReadLine(line, limit, longer);
    }

   private:
    FakeSystem& owner_;
    std::string path_;
    sys::StdioTextFile reader_;
  };
  std::unique_ptr<sys::TextFile> OpenTextFile(const std::string& path, int& error) override {
    calls.push_back("OpenTextFile(" + path + ")");
    auto it = files.find(path);
    if (it == files.end()) {
      error = 2;
      return nullptr;
    }
    error = 0;
    std::FILE* file = std::tmpfile();
    std::fwrite(it->second.data(), 1, it->second.size(), file);
    std::rewind(file);
    return std::make_unique<RecordedFile>(*this, path, file);
  }

  // Registry: keys that refuse to open, and every value written, in order.
  std::set<std::string> failingKeys;
  std::vector<std::tuple<std::string, std::string, std::uint32_t>> values;
  std::map<sys::RegistryKey, std::string> openKeys;
  sys::RegistryKey nextKey = 1;
  sys::RegistryKey OpenUserKey(const std::string& path, bool create) override {
    calls.push_back("OpenUserKey(" + path + ", " + (create ? "1" : "0") + ")");
    if (failingKeys.count(path)) return 0;
    openKeys[nextKey] = path;
    return nextKey++;
  }
  bool SetDwordValue(sys::RegistryKey key, const std::string& name, std::uint32_t data) override {
    auto it = openKeys.find(key);
    if (it == openKeys.end()) return false;
    values.emplace_back(it->second, name, data);
    return true;
  }
  void CloseUserKey(sys::RegistryKey key) override {
    calls.push_back("CloseUserKey(" + openKeys[key] + ")");
    openKeys.erase(key);
  }
};

}  // namespace app::testing
