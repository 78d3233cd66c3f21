// The process list by the two routes of the Windows families: tool help on
// the Windows 95 family (executable file names), the process-status library
// on the NT family (full paths of the main modules).
#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <iterator>

#include "lazy_library.h"
#include "processes_win32.h"
#include "wide_path_win32.h"

namespace sys::win32 {
namespace {

using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
using GetModuleFileNameExWFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
using CreateToolhelp32SnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using Process32FirstFn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);
using Process32NextFn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);

// psapi: a handle below 32 counts as a failed load and is tried again later.
struct Psapi {
  EnumProcessesFn enumProcesses = nullptr;
  EnumProcessModulesFn enumProcessModules = nullptr;
  GetModuleFileNameExWFn getModuleFileNameEx = nullptr;
  bool Load() {
    if (module_) return true;
    HMODULE module = LoadLibraryA("PSAPI.dll");
    if (reinterpret_cast<UINT_PTR>(module) < 32) return false;
    module_ = module;
    enumProcesses = reinterpret_cast<EnumProcessesFn>(reinterpret_cast<void*>(GetProcAddress(module, "EnumProcesses")));
    enumProcessModules = reinterpret_cast<EnumProcessModulesFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "EnumProcessModules")));
    getModuleFileNameEx = reinterpret_cast<GetModuleFileNameExWFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetModuleFileNameExW")));
    return true;
  }

 private:
  HMODULE module_ = nullptr;
};

struct ToolHelp {
  CreateToolhelp32SnapshotFn createSnapshot = nullptr;
  Process32FirstFn first = nullptr;
  Process32NextFn next = nullptr;
  void Load() {
    if (loaded_) return;
    loaded_ = true;
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return;
    createSnapshot = reinterpret_cast<CreateToolhelp32SnapshotFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "CreateToolhelp32Snapshot")));
    first = reinterpret_cast<Process32FirstFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "Process32FirstW")));
    next = reinterpret_cast<Process32NextFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "Process32NextW")));
  }

 private:
  bool loaded_ = false;
};

std::string UpToNul(const wchar_t* text, size_t limit) { return Utf8(std::wstring_view(text, wcsnlen(text, limit))); }

}  // namespace

void FillByToolHelp(ProcessList& list) {
  static ToolHelp api;
  api.Load();
  if (!api.createSnapshot || !api.first || !api.next) return;
  HANDLE snapshot = api.createSnapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE || !snapshot) return;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = api.first(snapshot, &entry); more; more = api.next(snapshot, &entry))
    list.push_back(UpToNul(entry.szExeFile, MAX_PATH));
  CloseHandle(snapshot);
}

void FillByProcessStatus(ProcessList& list) {
  static Psapi api;
  if (!api.Load() || !api.enumProcesses || !api.enumProcessModules || !api.getModuleFileNameEx) return;
  DWORD ids[1024];
  DWORD bytes = 0;
  if (!api.enumProcesses(ids, sizeof ids, &bytes)) return;
  const DWORD count = bytes / sizeof(DWORD);
  for (DWORD i = 0; i < count; ++i) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
    if (!process) continue;
    HMODULE module = nullptr;
    DWORD needed = 0;
    wchar_t path[301];
    if (api.enumProcessModules(process, &module, sizeof module, &needed) &&
        api.getModuleFileNameEx(process, module, path, std::size(path)) > 0) {
      path[std::size(path) - 1] = L'\0';
      list.push_back(UpToNul(path, std::size(path)));
    }
    CloseHandle(process);
  }
}

void FillProcessList(ProcessList* list) {
  if (!list) return;
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return;
  if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
    FillByToolHelp(*list);
  else if (version.dwPlatformId == VER_PLATFORM_WIN32_NT)
    FillByProcessStatus(*list);
}

}  // namespace sys::win32
