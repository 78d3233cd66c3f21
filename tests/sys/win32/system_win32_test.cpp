// The Windows backend, run under Wine by the native test tree.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "admin_win32.h"
#include "processes_win32.h"
#include "wide_path_win32.h"
#include "sys/system.h"

namespace sys {
namespace {

std::string ModulePath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return win32::Utf8(path);
}

TEST(Win32System, SpecialFoldersHaveNoTrailingBackslash) {
  System& s = Platform();
  std::string appData = s.GetSpecialFolder(kFolderAppData);
  std::string windows = s.GetSpecialFolder(kFolderWindows);
  ASSERT_FALSE(appData.empty());
  ASSERT_FALSE(windows.empty());
  EXPECT_NE(appData.back(), '\\');
  EXPECT_NE(windows.back(), '\\');
  EXPECT_EQ(GetFileAttributesA(windows.c_str()) & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(s.GetSpecialFolder(0x7FFF), "");
}

TEST(Win32System, AdministratorRoutesAgree) {
  const bool answer = Platform().IsUserAnAdmin();
  EXPECT_EQ(win32::IsAdministratorsMember(nullptr), answer);
  // The emulation must answer, and answer as the system does, for the
  // Administrators alias and for a group this token is surely in.
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  const DWORD groups[][2] = {{SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS},
                             {SECURITY_AUTHENTICATED_USER_RID, 0}};
  for (const auto& [first, second] : groups) {
    PSID sid = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, second ? 2 : 1, first, second, 0, 0, 0, 0, 0, 0, &sid));
    BOOL expected = FALSE, member = FALSE;
    ASSERT_TRUE(CheckTokenMembership(nullptr, sid, &expected));
    const BOOL ok = win32::EmulateCheckTokenMembership(nullptr, sid, &member);
    const DWORD error = GetLastError();
    FreeSid(sid);
    ASSERT_TRUE(ok) << "error " << error;
    EXPECT_EQ(member != FALSE, expected != FALSE) << "group " << first << "-" << second;
  }
}

TEST(Win32System, ProcessListSeesThisProgram) {
  ProcessList list;
  Platform().FillProcessList(&list);
  ASSERT_FALSE(list.empty());
  EXPECT_TRUE(Platform().IsProcessRunning("SYS_TESTS.EXE", false));
  EXPECT_TRUE(Platform().IsProcessRunning(ModulePath(), true));
  EXPECT_FALSE(Platform().IsProcessRunning("no-such-program.exe", false));
  ProcessList byToolHelp;
  win32::FillByToolHelp(byToolHelp);
  bool found = false;
  for (const auto& name : byToolHelp) found |= _stricmp(name.c_str(), "sys_tests.exe") == 0;
  EXPECT_TRUE(found);
}

TEST(Win32System, DeleteFolderRemovesATreeGivenWithATrailingBackslash) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string base = std::string(temp) + "rovend-sys-test";
  Platform().DeleteFolder(base);
  ASSERT_TRUE(Platform().CreateFolder(base + "\\"));
  EXPECT_FALSE(Platform().CreateFolder(base));
  ASSERT_TRUE(CreateDirectoryA((base + "\\sub").c_str(), nullptr));
  HANDLE f = CreateFileA((base + "\\sub\\file.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  CloseHandle(f);
  EXPECT_TRUE(Platform().DeleteFolder(base + "\\"));
  EXPECT_EQ(GetFileAttributesA(base.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(Platform().DeleteFolder(base + "\\"));
}

TEST(Win32System, AHeldFileCanBeReadAndRunButNotChangedRenamedOrDeleted) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string base = std::string(temp) + "rovend-hold-test";
  Platform().DeleteFolder(base);
  ASSERT_TRUE(Platform().CreateFolder(base));
  const std::string file = base + "\\certmgr.exe";
  ASSERT_EQ(Platform().WriteNewFile(file, std::vector<std::uint8_t>{'M', 'Z'}), 0);
  {
    auto held = Platform().HoldFile(file);
    ASSERT_TRUE(held);
    std::uint8_t buffer[4];
    EXPECT_EQ(held->Read(buffer), 2);
    HANDLE writer = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    EXPECT_FALSE(MoveFileA(file.c_str(), (base + "\\moved.exe").c_str()));
    EXPECT_FALSE(DeleteFileA(file.c_str()));
    EXPECT_FALSE(MoveFileA(base.c_str(), (base + "-moved").c_str()));
    // Readers, as a copy or the program loader, are let in.
    EXPECT_TRUE(CopyFileA(file.c_str(), (base + "\\copy.exe").c_str(), TRUE));
  }
  {
    auto folder = Platform().HoldFolder(base + "\\");
    ASSERT_TRUE(folder);
    EXPECT_FALSE(MoveFileA(base.c_str(), (base + "-moved").c_str()));
    EXPECT_FALSE(Platform().HoldFolder(file));
  }
  EXPECT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_FALSE(Platform().HoldFile(file));
  EXPECT_FALSE(Platform().HoldFile(base));
  EXPECT_TRUE(Platform().DeleteFolder(base));
}

// A user folder's name may hold letters of no single code page: every
// service takes it whole, and nothing lands in a look-alike folder.
TEST(Win32System, PathsOutsideTheCodePageReachTheSystemWhole) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::string base = win32::Utf8(temp) + "rovend-Zoë Ş Пётр 中";
  System& s = Platform();
  s.DeleteFolder(base);
  const std::string folder = base + "\\tempEE\\";
  ASSERT_TRUE(s.ForceFolders(folder));
  EXPECT_NE(GetFileAttributesW(win32::Wide(folder).c_str()), INVALID_FILE_ATTRIBUTES);
  const std::string list = folder + "url.txt";
  ASSERT_EQ(s.WriteNewFile(list, std::vector<std::uint8_t>{'h', '\r', '\n'}), 0);
  int error = -1;
  auto file = s.OpenTextFile(list, error);
  ASSERT_TRUE(file);
  std::string line;
  bool longer = false;
  EXPECT_TRUE(file->ReadLine(line, 80, longer));
  EXPECT_EQ(line, "h");
  file.reset();
  EXPECT_TRUE(s.HoldFile(list));
  EXPECT_TRUE(s.CopyFile(list, base + "\\copy.txt", true));
  EXPECT_NE(GetFileAttributesW(win32::Wide(base + "\\copy.txt").c_str()), INVALID_FILE_ATTRIBUTES);

  // A program of that folder, started by its quoted path.
  wchar_t system32[MAX_PATH];
  GetSystemDirectoryW(system32, MAX_PATH);
  const std::string cmd = base + "\\Пётр.exe";
  ASSERT_TRUE(CopyFileW((std::wstring(system32) + L"\\cmd.exe").c_str(), win32::Wide(cmd).c_str(), TRUE));
  std::unique_ptr<Process> process;
  ASSERT_GT(s.WinExec("\"" + cmd + "\" /c exit 7", kShowHidden, &process), 31u);
  ASSERT_TRUE(process);
  for (int i = 0; i < 100 && !process->ExitStatus(); ++i) Sleep(50);
  EXPECT_EQ(process->ExitStatus(), std::optional<std::uint32_t>(7));
  process.reset();

  const std::string key = "Software\\rovend-sys-test\\Zoë Ş.пример";
  const RegistryKey opened = s.OpenUserKey(key, true);
  ASSERT_NE(opened, 0u);
  EXPECT_TRUE(s.SetDwordValue(opened, "https", 2));
  s.CloseUserKey(opened);
  DWORD data = 0, size = sizeof data;
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, win32::Wide(key).c_str(), L"https", RRF_RT_REG_DWORD, nullptr, &data, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(data, 2u);
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\rovend-sys-test");

  EXPECT_TRUE(s.DeleteFolder(folder));
  EXPECT_TRUE(s.DeleteFolder(base));
  EXPECT_EQ(GetFileAttributesW(win32::Wide(base).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Win32System, DelayWaitsWithoutSpinning) {
  DWORD start = GetTickCount();
  int passes = 0;
  Platform().Delay(100, {[&] { ++passes; }, [](std::uint32_t ms) {
                           MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
                         }});
  EXPECT_GE(GetTickCount() - start, 100u);
  EXPECT_LT(passes, 50);
}

}  // namespace
}  // namespace sys
