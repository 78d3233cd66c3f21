#include <windows.h>
#include <shlobj.h>
#include <shellapi.h>

#include <cstring>

#include "admin_win32.h"
#include "processes_win32.h"
#include "sys/system.h"

namespace sys {
namespace {

class Win32System final : public System {
 public:
  std::string GetSpecialFolder(int folder) override {
    char buffer[264] = {};
    if (FAILED(SHGetFolderPathA(nullptr, folder, nullptr, 0, buffer))) return {};
    return std::string(buffer, strnlen(buffer, 261));
  }

  bool IsUserAnAdmin() override { return win32::IsUserAnAdmin(); }

  void FillProcessList(ProcessList* list) override { win32::FillProcessList(list); }

  std::uint32_t GetTickCount() override { return ::GetTickCount(); }

  bool DeleteFolder(const std::string& path) override {
    // The shell takes a list of paths ending in two NULs.
    std::string from = path;
    from.push_back('\0');
    SHFILEOPSTRUCTA operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
    return SHFileOperationA(&operation) == 0;
  }

  bool CreateFolder(const std::string& path) override {
    return CreateDirectoryA(path.c_str(), nullptr) != FALSE;
  }
};

}  // namespace

System& Platform() {
  static Win32System system;
  return system;
}

}  // namespace sys
