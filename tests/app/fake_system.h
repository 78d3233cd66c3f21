#pragma once
// A recording stand-in for the system services: every call is logged in
// order, and answers come from fields the test sets.
#include <functional>
#include <string>
#include <vector>

#include "sys/system.h"

namespace app::testing {

class FakeSystem : public sys::System {
 public:
  std::vector<std::string> calls;
  std::string appData = "C:\\Users\\Test\\AppData\\Roaming";
  std::string windows = "C:\\Windows";
  bool admin = true;
  sys::ProcessList processes;
  std::uint32_t ticks = 1000;
  bool deleteResult = true;
  // Runs inside CreateFolder, to look at the window while the start-up
  // sequence unpacks.
  std::function<void()> duringCreateFolder;

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
  bool DeleteFolder(const std::string& path) override {
    calls.push_back("DeleteFolder(" + path + ")");
    return deleteResult;
  }
  bool CreateFolder(const std::string& path) override {
    calls.push_back("CreateFolder(" + path + ")");
    if (duringCreateFolder) duringCreateFolder();
    return true;
  }
};

}  // namespace app::testing
