#include <windows.h>
#include <shlobj.h>
#include <shellapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "../common/stdio_text_file.h"
#include "admin_win32.h"
#include "launch_win32.h"
#include "processes_win32.h"
#include "wide_path_win32.h"
#include "working_files_win32.h"
#include "sys/system.h"

namespace sys {
namespace {

class Win32System final : public System {
 public:
  std::string GetSpecialFolder(int folder) override {
    wchar_t buffer[264] = {};
    if (FAILED(SHGetFolderPathW(nullptr, folder, nullptr, 0, buffer))) return {};
    return win32::Utf8(std::wstring_view(buffer, wcsnlen(buffer, 261)));
  }

  bool IsUserAnAdmin() override { return win32::IsUserAnAdmin(); }

  void FillProcessList(ProcessList* list) override { win32::FillProcessList(list); }

  std::uint32_t GetTickCount() override { return ::GetTickCount(); }

  // Not SHFileOperation: older shells follow junctions inside the folder
  // and delete what lies behind them, outside the folder.
  bool DeleteFolder(const std::string& path) override { return win32::DeleteTree(path); }

  bool RemoveLink(const std::string& path) override { return win32::RemoveLink(path); }

  std::unique_ptr<HeldFile> HoldFile(const std::string& path) override { return win32::HoldFile(path); }

  std::unique_ptr<HeldFolder> HoldFolder(const std::string& path) override { return win32::HoldFolder(path); }

  bool CreateFolder(const std::string& path) override {
    return CreateDirectoryW(win32::Wide(path).c_str(), nullptr) != FALSE;
  }

  bool CopyFile(const std::string& existing, const std::string& target, bool failIfExists) override {
    return ::CopyFileW(win32::Wide(existing).c_str(), win32::Wide(target).c_str(), failIfExists) != FALSE;
  }

  std::int32_t ShellExecute(void* window, const std::string& verb, const std::string& file,
                            const std::string& parameters, const std::string& directory, int show,
                            std::unique_ptr<Process>* process) override {
    return win32::ShellExecute(static_cast<HWND>(window), verb, file, parameters, directory, show, process);
  }

  std::uint32_t WinExec(const std::string& commandLine, int show, std::unique_ptr<Process>* process) override {
    return win32::WinExec(commandLine, show, process);
  }

  std::unique_ptr<TextFile> OpenTextFile(const std::string& path, int& error) override {
    std::FILE* file = _wfopen(win32::Wide(path).c_str(), L"rb");
    error = file ? 0 : (errno ? errno : EIO);
    return file ? std::make_unique<StdioTextFile>(file) : nullptr;
  }

  bool ForceFolders(const std::string& path) override { return ForceFoldersW(win32::Wide(path)); }

  int WriteNewFile(const std::string& utf8Path, std::span<const std::uint8_t> data) override {
    const std::wstring path = win32::Wide(utf8Path);
    // Never into what is there: a link or a second name of another file in
    // its place would have us write elsewhere. The name is removed and a new
    // file made, which fails should something come back in between.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 4 && file == INVALID_HANDLE_VALUE; ++attempt) {
      if (!DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND)
        return static_cast<int>(GetLastError());
      file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return static_cast<int>(GetLastError());
    }
    if (file == INVALID_HANDLE_VALUE) return ERROR_FILE_EXISTS;
    size_t done = 0;
    int error = 0;
    while (done < data.size() && error == 0) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
      DWORD written = 0;
      if (!WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0)
        error = static_cast<int>(GetLastError());
      done += written;
    }
    if (!CloseHandle(file) && error == 0) error = static_cast<int>(GetLastError());
    return error;
  }

  std::string ErrorMessage(int code) override {
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_ARGUMENT_ARRAY,
                             nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = n && buffer ? win32::Utf8(std::wstring_view(buffer, n)) : std::string();
    if (buffer) LocalFree(buffer);
    // The system's texts end in a line break and often a full stop.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
      text.pop_back();
    return text;
  }

  std::optional<std::span<const std::uint8_t>> FindModuleResource(const std::string& type,
                                                                   const std::string& name) override {
    HRSRC info = FindResourceW(nullptr, win32::Wide(name).c_str(), win32::Wide(type).c_str());
    if (!info) return std::nullopt;
    HGLOBAL loaded = LoadResource(nullptr, info);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return std::nullopt;
    return std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(data), SizeofResource(nullptr, info));
  }

  RegistryKey OpenUserKey(const std::string& path, bool create) override {
    HKEY key = nullptr;
    const std::wstring wide = win32::Wide(path);
    LONG status = create ? RegCreateKeyExW(HKEY_CURRENT_USER, wide.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr)
                         : RegOpenKeyExW(HKEY_CURRENT_USER, wide.c_str(), 0, KEY_ALL_ACCESS, &key);
    return status == ERROR_SUCCESS ? reinterpret_cast<RegistryKey>(key) : 0;
  }

  bool SetDwordValue(RegistryKey key, const std::string& name, std::uint32_t data) override {
    DWORD value = data;
    return RegSetValueExW(reinterpret_cast<HKEY>(key), win32::Wide(name).c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value), sizeof value) == ERROR_SUCCESS;
  }

  void CloseUserKey(RegistryKey key) override { RegCloseKey(reinterpret_cast<HKEY>(key)); }

 private:
  static bool ForceFoldersW(std::wstring folder) {
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    if (folder.empty()) return false;
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    size_t cut = folder.find_last_of(L"\\/");
    // A drive root or a share ("C:", "\\server\share") ends the climb.
    if (cut != std::wstring::npos && cut > 0 && folder[cut - 1] != L':' && folder[cut - 1] != L'\\')
      if (!ForceFoldersW(folder.substr(0, cut))) return false;
    return CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
  }
};

}  // namespace

// The executable carries its resources itself.
void RegisterModuleResource(const std::string&, const std::string&, std::span<const std::uint8_t>) {}

System& Platform() {
  static Win32System system;
  return system;
}

}  // namespace sys
