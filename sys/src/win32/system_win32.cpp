#include <windows.h>
#include <shlobj.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "../common/stdio_text_file.h"
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

  bool CopyFile(const std::string& existing, const std::string& target, bool failIfExists) override {
    return ::CopyFileA(existing.c_str(), target.c_str(), failIfExists) != FALSE;
  }

  std::int32_t ShellExecute(void* window, const std::string& verb, const std::string& file,
                            const std::string& parameters, const std::string& directory, int show) override {
    HINSTANCE result = ::ShellExecuteA(static_cast<HWND>(window), verb.empty() ? nullptr : verb.c_str(), file.c_str(),
                                     parameters.empty() ? nullptr : parameters.c_str(),
                                     directory.empty() ? nullptr : directory.c_str(), show);
    return static_cast<std::int32_t>(reinterpret_cast<INT_PTR>(result));
  }

  std::uint32_t WinExec(const std::string& commandLine, int show) override {
    return ::WinExec(commandLine.c_str(), static_cast<UINT>(show));
  }

  std::unique_ptr<TextFile> OpenTextFile(const std::string& path, int& error) override {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    error = file ? 0 : (errno ? errno : EIO);
    return file ? std::make_unique<StdioTextFile>(file) : nullptr;
  }

  RegistryKey OpenUserKey(const std::string& path, bool create) override {
    HKEY key = nullptr;
    LONG status = create ? RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr)
                         : RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key);
    return status == ERROR_SUCCESS ? reinterpret_cast<RegistryKey>(key) : 0;
  }

  bool SetDwordValue(RegistryKey key, const std::string& name, std::uint32_t data) override {
    DWORD value = data;
    return RegSetValueExA(reinterpret_cast<HKEY>(key), name.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value), sizeof value) == ERROR_SUCCESS;
  }

  void CloseUserKey(RegistryKey key) override { RegCloseKey(reinterpret_cast<HKEY>(key)); }
};

}  // namespace

System& Platform() {
  static Win32System system;
  return system;
}

}  // namespace sys
