// Windows files by wide names: the W forms of the file API.
#include <windows.h>

#include "file_time_win32.h"
#include "wide_path_win32.h"

#include <cwctype>

#include "sys/wide_file.h"

namespace sys {

namespace {

std::wstring Native(std::u16string_view name) { return win32::NativeWide(name); }

HANDLE H(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

DWORD ShareBits(FileShare share) {
  switch (share) {
    case FileShare::Exclusive: return 0;
    case FileShare::DenyWrite: return FILE_SHARE_READ;
    case FileShare::DenyRead: return FILE_SHARE_WRITE;
    case FileShare::DenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
  }
  return 0;
}

// CreateFileW's handle as WideFile keeps it (INVALID_HANDLE_VALUE is its
// "no handle"), the system's error kept on failure.
std::intptr_t CreateHandle(std::u16string_view name, DWORD rights, DWORD share, DWORD disposition, int& error) {
  HANDLE h = CreateFileW(Native(name).c_str(), rights, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) error = static_cast<int>(GetLastError());
  return reinterpret_cast<std::intptr_t>(h);
}

}  // namespace

bool WideFile::Open(std::u16string_view name, FileAccess access, FileShare share) {
  Close();
  DWORD rights = access == FileAccess::Read    ? GENERIC_READ
                 : access == FileAccess::Write ? GENERIC_WRITE
                                               : GENERIC_READ | GENERIC_WRITE;
  handle_ = CreateHandle(name, rights, ShareBits(share), OPEN_EXISTING, lastError_);
  return IsOpen();
}

bool WideFile::Create(std::u16string_view name, FileShare share) {
  Close();
  handle_ = CreateHandle(name, GENERIC_READ | GENERIC_WRITE, ShareBits(share), CREATE_ALWAYS, lastError_);
  return IsOpen();
}

bool WideFile::CreateNew(std::u16string_view name) {
  Close();
  handle_ = CreateHandle(name, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW, lastError_);
  return IsOpen();
}

void WideFile::Close() {
  if (handle_ != kNoHandle) {
    CloseHandle(H(handle_));
    handle_ = kNoHandle;
  }
}

std::int64_t WideFile::Read(void* buffer, std::int64_t count) {
  auto* p = static_cast<char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    DWORD chunk = static_cast<DWORD>(count - done > 0x40000000 ? 0x40000000 : count - done), got = 0;
    if (!ReadFile(H(handle_), p + done, chunk, &got, nullptr)) {
      lastError_ = static_cast<int>(GetLastError());
      return done > 0 ? done : -1;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

std::int64_t WideFile::Write(const void* buffer, std::int64_t count) {
  const auto* p = static_cast<const char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    DWORD chunk = static_cast<DWORD>(count - done > 0x40000000 ? 0x40000000 : count - done), put = 0;
    if (!WriteFile(H(handle_), p + done, chunk, &put, nullptr)) {
      lastError_ = static_cast<int>(GetLastError());
      return done > 0 ? done : -1;
    }
    if (put == 0) break;
    done += put;
  }
  return done;
}

std::int64_t WideFile::Seek(std::int64_t offset, SeekOrigin origin) {
  LARGE_INTEGER dist, pos;
  dist.QuadPart = offset;
  DWORD method = origin == SeekOrigin::Begin ? FILE_BEGIN : origin == SeekOrigin::Current ? FILE_CURRENT : FILE_END;
  if (!SetFilePointerEx(H(handle_), dist, &pos, method)) {
    lastError_ = static_cast<int>(GetLastError());
    return -1;
  }
  return pos.QuadPart;
}

std::int64_t WideFile::Size() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(H(handle_), &size)) {
    lastError_ = static_cast<int>(GetLastError());
    return -1;
  }
  return size.QuadPart;
}

bool WideFile::Truncate(std::int64_t size) {
  if (Seek(size, SeekOrigin::Begin) < 0) return false;
  if (!SetEndOfFile(H(handle_))) {
    lastError_ = static_cast<int>(GetLastError());
    return false;
  }
  return true;
}

bool WideFile::Flush() {
  if (!FlushFileBuffers(H(handle_))) {
    lastError_ = static_cast<int>(GetLastError());
    return false;
  }
  return true;
}

bool WideFile::SetDosDateTime(std::uint32_t dosDateTime) {
  FILETIME local, utc;
  if (!DosDateTimeToFileTime(static_cast<WORD>(dosDateTime >> 16), static_cast<WORD>(dosDateTime & 0xFFFF), &local) ||
      !LocalFileTimeToFileTime(&local, &utc) || !SetFileTime(H(handle_), nullptr, nullptr, &utc)) {
    lastError_ = static_cast<int>(GetLastError());
    return false;
  }
  return true;
}

bool WideFile::SetTimes(const FileTime* modified, const FileTime* accessed) {
  FILETIME m, a;
  if (modified) m = win32::ToFileTime(*modified);
  if (accessed) a = win32::ToFileTime(*accessed);
  if (!SetFileTime(H(handle_), nullptr, accessed ? &a : nullptr, modified ? &m : nullptr)) {
    lastError_ = static_cast<int>(GetLastError());
    return false;
  }
  return true;
}

bool WideFile::SetAttributes(std::uint32_t attributes) {
  // Only these can be set, as SetFileAttributesW takes them; none at all
  // is spelt "normal". Times of 0 stay as they are.
  constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
                              FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  FILE_BASIC_INFO info{};
  info.FileAttributes = attributes & kSettable;
  if (info.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL)) info.FileAttributes &= ~FILE_ATTRIBUTE_NORMAL;
  if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(H(handle_), FileBasicInfo, &info, sizeof info)) {
    lastError_ = static_cast<int>(GetLastError());
    return false;
  }
  return true;
}

bool WideGetFileTime(std::u16string_view name, FileTime& modified) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Native(name).c_str(), GetFileExInfoStandard, &data)) return false;
  modified = win32::UtcTime(data.ftLastWriteTime);
  return true;
}

bool WideSetFileTimes(std::u16string_view name, const FileTime* modified, const FileTime* accessed, int* error) {
  // Backup semantics open a folder too; the reparse flag keeps a link from
  // being followed.
  HANDLE h = CreateFileW(Native(name).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = static_cast<int>(GetLastError());
    return false;
  }
  FILETIME m, a;
  if (modified) m = win32::ToFileTime(*modified);
  if (accessed) a = win32::ToFileTime(*accessed);
  bool done = SetFileTime(h, nullptr, accessed ? &a : nullptr, modified ? &m : nullptr) != 0;
  if (!done && error) *error = static_cast<int>(GetLastError());
  CloseHandle(h);
  return done;
}

bool WideCreateSymbolicLink(std::u16string_view, std::u16string_view, int* error) {
  if (error) *error = ERROR_NOT_SUPPORTED;
  return false;
}

bool WideReadLink(std::u16string_view, std::u16string&) { return false; }

bool WideSetOwner(std::u16string_view, std::uint32_t, std::uint32_t, int* error) {
  if (error) *error = ERROR_NOT_SUPPORTED;
  return false;
}

bool WideSystemHasLinks() { return false; }

bool WideFileExists(std::u16string_view name) {
  DWORD a = GetFileAttributesW(Native(name).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool WideDirectoryExists(std::u16string_view name) {
  DWORD a = GetFileAttributesW(Native(name).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool WideIsLink(std::u16string_view name) {
  // Trailing separators would make the system look through the link.
  std::wstring path = Native(name);
  while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/') && path[path.size() - 2] != L':')
    path.pop_back();
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool WideCreateDirectory(std::u16string_view name, int* error) {
  std::wstring path = Native(name);
  if (CreateDirectoryW(path.c_str(), nullptr)) return true;
  DWORD reason = GetLastError();
  // A file in the place of the folder: that it is no folder is the reason.
  DWORD a = GetFileAttributesW(path.c_str());
  if (reason == ERROR_ALREADY_EXISTS && a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY))
    reason = ERROR_DIRECTORY;
  if (error) *error = static_cast<int>(reason);
  return false;
}

bool WideRemoveDirectory(std::u16string_view name) { return RemoveDirectoryW(Native(name).c_str()) != 0; }

bool WideDeleteFile(std::u16string_view name) { return DeleteFileW(Native(name).c_str()) != 0; }

bool WideReplaceFile(std::u16string_view from, std::u16string_view to) {
  return MoveFileExW(Native(from).c_str(), Native(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::uint32_t WideGetAttributes(std::u16string_view name) { return GetFileAttributesW(Native(name).c_str()); }

bool WideSetAttributes(std::u16string_view name, std::uint32_t attributes) {
  return SetFileAttributesW(Native(name).c_str(), attributes) != 0;
}

std::int32_t WideGetDosDateTime(std::u16string_view name) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Native(name).c_str(), GetFileExInfoStandard, &data)) return -1;
  FILETIME local;
  WORD date, time;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToDosDateTime(&local, &date, &time))
    return -1;
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(date) << 16) | time);
}

bool WideIsRemovableDrive(std::u16string_view path) {
  std::wstring p = Native(path);
  if (p.size() < 2 || p[1] != L':') return false;
  wchar_t letter = static_cast<wchar_t>(std::towupper(p[0]));
  if (letter == L'A' || letter == L'B') return true;
  wchar_t root[4] = {letter, L':', L'\\', 0};
  return GetDriveTypeW(root) == DRIVE_REMOVABLE;
}

void WideSetRemovableFolder(std::u16string_view, std::int64_t) {}

std::int64_t WideFreeSpace(std::u16string_view folder) {
  ULARGE_INTEGER available;
  std::wstring p = Native(folder);
  if (!GetDiskFreeSpaceExW(p.empty() ? nullptr : p.c_str(), &available, nullptr, nullptr)) return -1;
  return static_cast<std::int64_t>(available.QuadPart);
}

std::u16string WideTempFolder() {
  wchar_t buffer[MAX_PATH + 2];
  DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH + 1) return u".\\";
  return std::u16string(buffer, buffer + n);
}

std::u16string WideCurrentDirectory() {
  DWORD n = GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return {};
  std::wstring buf(n, L'\0');
  n = GetCurrentDirectoryW(n, buf.data());
  buf.resize(n);
  return std::u16string(buf.begin(), buf.end());
}

}  // namespace sys
