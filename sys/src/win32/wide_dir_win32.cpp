// Windows folder listings by wide names: FindFirstFileW.
#include <windows.h>

#include "file_time_win32.h"
#include "wide_path_win32.h"

#include "sys/wide_dir.h"

namespace sys {

namespace {

std::wstring Native(std::u16string_view name) { return win32::NativeWide(name); }

std::int32_t DosTime(const FILETIME& utc) {
  FILETIME local;
  WORD date, time;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &date, &time)) return -1;
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(date) << 16) | time);
}

void Fill(const WIN32_FIND_DATAW& data, WideDirEntry& entry) {
  entry.Name.assign(data.cFileName, data.cFileName + wcslen(data.cFileName));
  entry.Attributes = data.dwFileAttributes;
  entry.Size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  entry.DosDateTime = DosTime(data.ftLastWriteTime);
  entry.Modified = win32::UtcTime(data.ftLastWriteTime);
  entry.Accessed = win32::UtcTime(data.ftLastAccessTime);
  entry.LinkedFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                       (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

// Windows has no links of the kind zip stores: a junction or a link lists
// as what it points to, whatever `keepLinks` says.
bool WideListDirectory(std::u16string_view folder, std::vector<WideDirEntry>& entries, int& error,
                       std::u16string_view prefix, bool) {
  entries.clear();
  std::wstring pattern = Native(folder);
  if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L':') pattern += L'\\';
  // The system matches the names (short ones too, hence the check below).
  pattern += Native(prefix) + L'*';
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) {
    error = static_cast<int>(GetLastError());
    if (error == ERROR_FILE_NOT_FOUND) return true;  // an empty drive root
    return false;
  }
  do {
    if (!wcscmp(data.cFileName, L".") || !wcscmp(data.cFileName, L"..")) continue;
    WideDirEntry entry;
    Fill(data, entry);
    if (std::u16string_view(entry.Name).substr(0, prefix.size()) != prefix) continue;
    entries.push_back(std::move(entry));
  } while (FindNextFileW(h, &data));
  FindClose(h);
  return true;
}

bool WideStat(std::u16string_view name, WideDirEntry& entry, bool) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(Native(name).c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  Fill(data, entry);
  return true;
}

}  // namespace sys
