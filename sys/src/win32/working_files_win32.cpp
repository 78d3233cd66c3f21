#include "working_files_win32.h"

#include <windows.h>

#include <vector>

#include "scoped_handle.h"
#include "wide_path_win32.h"

namespace sys::win32 {
namespace {

std::wstring WithoutTrailingSeparators(std::wstring path) {
  while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/') && path[path.size() - 2] != L':')
    path.pop_back();
  return path;
}

constexpr DWORD kReparse = FILE_ATTRIBUTE_REPARSE_POINT;

// Opens the object itself, not what a link at the end of the path names.
// Without FILE_SHARE_DELETE nobody can rename or delete it while it is open.
ScopedHandle OpenItself(const std::wstring& path, DWORD access, DWORD share, bool folder) {
  const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_FLAG_SEQUENTIAL_SCAN);
  return ScopedHandle(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
}

bool AttributesOf(HANDLE handle, DWORD& attributes) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(handle, &info)) return false;
  attributes = info.dwFileAttributes;
  return true;
}

bool RemoveLinkItself(const std::wstring& path, DWORD attributes) {
  // A folder link (junction or directory symbolic link) goes with
  // RemoveDirectory, which removes the link and leaves its target alone.
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str()) != FALSE
                                                 : DeleteFileW(path.c_str()) != FALSE;
}

// A folder that is no link, opened so that it can be neither renamed nor
// deleted. (Read access, not attributes only: an open for attributes alone
// takes part in no sharing check and would keep nobody out.)
ScopedHandle OpenRealFolder(const std::wstring& path) {
  ScopedHandle folder = OpenItself(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, true);
  DWORD attributes = 0;
  if (!folder || !AttributesOf(folder.get(), attributes) || (attributes & kReparse) ||
      !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return ScopedHandle();
  return folder;
}

class Win32HeldFolder final : public HeldFolder {
 public:
  explicit Win32HeldFolder(ScopedHandle folder) : folder_(std::move(folder)) {}

 private:
  ScopedHandle folder_;
};

class Win32HeldFile final : public HeldFile {
 public:
  Win32HeldFile(ScopedHandle folder, ScopedHandle file) : folder_(std::move(folder)), file_(std::move(file)) {}
  std::int64_t Read(std::span<std::uint8_t> buffer) override {
    DWORD chunk = buffer.size() < (1u << 30) ? static_cast<DWORD>(buffer.size()) : (1u << 30);
    DWORD read = 0;
    if (!ReadFile(file_.get(), buffer.data(), chunk, &read, nullptr)) return -1;
    return read;
  }

 private:
  ScopedHandle folder_;
  ScopedHandle file_;
};

bool DeleteTreeW(const std::wstring& folder) {
  // Held while it is walked, so that it cannot be swapped for a link midway.
  ScopedHandle held = OpenItself(folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, true);
  DWORD attributes = 0;
  if (!held || !AttributesOf(held.get(), attributes)) return false;
  if (attributes & kReparse) {
    held = ScopedHandle();
    return RemoveLinkItself(folder, attributes);
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  bool ok = true;
  WIN32_FIND_DATAW found = {};
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    std::vector<WIN32_FIND_DATAW> entries;
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") entries.push_back(found);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    for (const WIN32_FIND_DATAW& entry : entries) {
      const std::wstring child = folder + L"\\" + entry.cFileName;
      const DWORD a = entry.dwFileAttributes;
      if (a & kReparse) {
        ok = RemoveLinkItself(child, a) && ok;
      } else if (a & FILE_ATTRIBUTE_DIRECTORY) {
        ok = DeleteTreeW(child) && ok;
      } else {
        // The shell's delete took read-only files along as well.
        if (a & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(child.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
        ok = DeleteFileW(child.c_str()) && ok;
      }
    }
  }
  held = ScopedHandle();
  // Should it have become a link meanwhile, this removes the link only.
  return RemoveDirectoryW(folder.c_str()) && ok;
}

}  // namespace

std::unique_ptr<HeldFile> HoldFile(const std::string& path) {
  const std::wstring wide = Wide(path);
  const std::size_t cut = wide.find_last_of(L"\\/");
  if (cut == std::wstring::npos || cut + 1 == wide.size()) return nullptr;
  // The folder too: held, it cannot be replaced by a link to elsewhere.
  ScopedHandle folder = OpenRealFolder(WithoutTrailingSeparators(wide.substr(0, cut + 1)));
  if (!folder) return nullptr;
  DWORD attributes = 0;
  ScopedHandle file = OpenItself(wide, GENERIC_READ, FILE_SHARE_READ, false);
  if (!file || !AttributesOf(file.get(), attributes) || (attributes & (kReparse | FILE_ATTRIBUTE_DIRECTORY)))
    return nullptr;
  return std::make_unique<Win32HeldFile>(std::move(folder), std::move(file));
}

std::unique_ptr<HeldFolder> HoldFolder(const std::string& path) {
  ScopedHandle folder = OpenRealFolder(WithoutTrailingSeparators(Wide(path)));
  return folder ? std::make_unique<Win32HeldFolder>(std::move(folder)) : nullptr;
}

bool RemoveLink(const std::string& path) {
  const std::wstring wide = WithoutTrailingSeparators(Wide(path));
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & kReparse)) return false;
  return RemoveLinkItself(wide, attributes);
}

bool DeleteTree(const std::string& path) { return DeleteTreeW(WithoutTrailingSeparators(Wide(path))); }

}  // namespace sys::win32
