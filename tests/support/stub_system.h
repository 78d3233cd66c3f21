#pragma once
// System services that answer every request with "nothing there": the base
// of the tests' fakes, which override what they need.
#include "sys/system.h"

namespace sys::testing {

class StubSystem : public System {
 public:
  std::string GetSpecialFolder(int) override { return {}; }
  bool IsUserAnAdmin() override { return false; }
  void FillProcessList(ProcessList*) override {}
  std::uint32_t GetTickCount() override { return 0; }
  bool DeleteFolder(const std::string&) override { return false; }
  bool RemoveLink(const std::string&) override { return false; }
  std::unique_ptr<HeldFile> HoldFile(const std::string&) override { return nullptr; }
  std::unique_ptr<HeldFolder> HoldFolder(const std::string&) override { return nullptr; }
  bool CreateFolder(const std::string&) override { return false; }
  bool CopyFile(const std::string&, const std::string&, bool) override { return false; }
  std::int32_t ShellExecute(void*, const std::string&, const std::string&, const std::string&, const std::string&,
                            int, std::unique_ptr<Process>*) override {
    return 2;
  }
  std::uint32_t WinExec(const std::string&, int, std::unique_ptr<Process>*) override { return 2; }
  std::unique_ptr<TextFile> OpenTextFile(const std::string&, int& error) override {
    error = 2;
    return nullptr;
  }
  bool ForceFolders(const std::string&) override { return false; }
  int WriteNewFile(const std::string&, std::span<const std::uint8_t>) override { return 5; }
  std::string ErrorMessage(int code) override { return "Error " + std::to_string(code); }
  std::optional<std::span<const std::uint8_t>> FindModuleResource(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  RegistryKey OpenUserKey(const std::string&, bool) override { return 0; }
  bool SetDwordValue(RegistryKey, const std::string&, std::uint32_t) override { return false; }
  void CloseUserKey(RegistryKey) override {}
};

}  // namespace sys::testing
