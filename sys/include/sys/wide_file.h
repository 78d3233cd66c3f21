#pragma once
// Files by wide (UTF-16) names, for the archive engine.
//
// Names may use "\" or "/" as separators; the POSIX backend turns "\" into
// "/" and the UTF-16 into UTF-8. File attributes are Windows' bits
// (0x01 read-only, 0x02 hidden, 0x04 system, 0x10 directory, 0x20 archive);
// on POSIX a file without any write permission bit counts as read-only and
// refuses to be opened for writing, also for root, as a read-only file does
// on Windows. Setting attributes that carry a Unix mode of a regular file or
// folder in their upper 16 bits applies its permission bits on POSIX. Times are MS-DOS date and time packed into 32 bits (date in the
// upper half), in local time.
#include <cstdint>
#include <string>
#include <string_view>

namespace sys {

enum class FileAccess { Read, Write, ReadWrite };

// A moment in UTC: whole seconds since 1970-01-01 and the nanoseconds past
// them. Zip's time blocks and both systems' file times convert to it
// without a time zone.
struct FileTime {
  std::int64_t Seconds = 0;
  std::uint32_t Nanoseconds = 0;
  friend bool operator==(const FileTime&, const FileTime&) = default;
  friend auto operator<=>(const FileTime&, const FileTime&) = default;
};
// The sharing of Windows' CreateFile (ignored on POSIX).
enum class FileShare { Exclusive, DenyWrite, DenyRead, DenyNone };
enum class SeekOrigin { Begin, Current, End };

constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFF;

class WideFile {
 public:
  WideFile() = default;
  ~WideFile();
  WideFile(const WideFile&) = delete;
  WideFile& operator=(const WideFile&) = delete;
  WideFile(WideFile&& other) noexcept;
  WideFile& operator=(WideFile&& other) noexcept;

  // Opens an existing file (not a directory). False on failure.
  bool Open(std::u16string_view name, FileAccess access, FileShare share);
  // Creates the file, or truncates an existing one; read and write access.
  bool Create(std::u16string_view name, FileShare share = FileShare::Exclusive);
  // Creates a file that must not exist yet (no sharing); false when the
  // name is taken by anything, so a file of someone else's is never opened.
  bool CreateNew(std::u16string_view name);
  bool IsOpen() const { return handle_ != kNoHandle; }
  void Close();

  // Bytes transferred (fewer at the end of the file), or -1 on an error.
  std::int64_t Read(void* buffer, std::int64_t count);
  std::int64_t Write(const void* buffer, std::int64_t count);
  // A file filled with fresh pages, such as an extracted one. On POSIX its
  // writes go a page at a time once the process's writes to such files are
  // seen to fill the cache slowly (where the memory has to come back from a
  // virtual machine's host first: see src/posix/cache_fill_posix.h);
  // Windows writes as asked.
  void SetFreshPages(bool value) { freshPages_ = value; }
  bool FreshPages() const { return freshPages_; }
  // The new position, or -1 on an error. Positions past the end are allowed.
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin);
  std::int64_t Size();  // -1 on an error
  bool Truncate(std::int64_t size);
  bool Flush();
  // Last-write time from a local MS-DOS date and time.
  bool SetDosDateTime(std::uint32_t dosDateTime);
  // Last-write and last-access times, exact to what the file system keeps;
  // a null one stays as it is.
  bool SetTimes(const FileTime* modified, const FileTime* accessed);
  // As WideSetAttributes, on this file: whatever is put at its name
  // meanwhile (a link) is not followed.
  bool SetAttributes(std::uint32_t attributes);

  // System error of the last failed call (errno or GetLastError()).
  int LastError() const { return lastError_; }
  // The system's handle (a descriptor on POSIX), for the services that work
  // on an open file (FileView).
  std::intptr_t Handle() const { return handle_; }

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  std::intptr_t handle_ = kNoHandle;
  int lastError_ = 0;
  bool freshPages_ = false;
};

bool WideFileExists(std::u16string_view name);       // a directory does not count
bool WideDirectoryExists(std::u16string_view name);
// A symbolic link or junction (any reparse point on Windows), not followed.
bool WideIsLink(std::u16string_view name);
// One level; false if it fails, with the system's reason in `error` when given
// (a file in its place: ENOTDIR, or ERROR_DIRECTORY on Windows).
bool WideCreateDirectory(std::u16string_view name, int* error = nullptr);
bool WideRemoveDirectory(std::u16string_view name);  // an empty one
bool WideDeleteFile(std::u16string_view name);
// Puts the file `from` in the place of `to` in one step, replacing a file
// already there; false when it cannot (`to` a folder, a read-only file on
// Windows, a file in use), and both then stay as they were.
bool WideReplaceFile(std::u16string_view from, std::u16string_view to);
std::uint32_t WideGetAttributes(std::u16string_view name);  // kInvalidAttributes on failure
bool WideSetAttributes(std::u16string_view name, std::uint32_t attributes);
// Last-write time as a local MS-DOS date and time; -1 when it cannot be read.
std::int32_t WideGetDosDateTime(std::u16string_view name);
// Last-write time in UTC as exact as the file system keeps it (the
// target's, for a link); false when it cannot be read.
bool WideGetFileTime(std::u16string_view name, FileTime& modified);
// Times of a file, folder or link (the link itself, never its target); a
// null one stays. False with the system's reason in `error` when given.
bool WideSetFileTimes(std::u16string_view name, const FileTime* modified, const FileTime* accessed,
                      int* error = nullptr);
// A symbolic link `name` whose text is `target`; Windows makes none (it
// needs a right users seldom have) and says ERROR_NOT_SUPPORTED.
bool WideCreateSymbolicLink(std::u16string_view name, std::u16string_view target, int* error = nullptr);
// The text of the link `name`; false when it is none.
bool WideReadLink(std::u16string_view name, std::u16string& target);
// User and group of a file, folder or link (the link itself); POSIX only,
// Windows says ERROR_NOT_SUPPORTED.
bool WideSetOwner(std::u16string_view name, std::uint32_t user, std::uint32_t group, int* error = nullptr);
// Whether the system makes symbolic links and keeps owners as numbers.
bool WideSystemHasLinks();
// Whether the drive that holds `path` is removable ("A:", "B:", or so
// reported by the system). POSIX has no drives: there a path is on removable
// media when it lies in the folder given to WideSetRemovableFolder.
bool WideIsRemovableDrive(std::u16string_view path);
// POSIX stand-in only (Windows asks the drive): the folder whose contents
// count as removable media, so that disk-swapping code can run without a
// disk drive; empty for none. `capacity`: the bytes the disk in it holds
// (its free space is what its files leave, and a write past it fails as on
// a full disk), or -1 for what the file system under it has.
void WideSetRemovableFolder(std::u16string_view folder, std::int64_t capacity = -1);
std::u16string WideCurrentDirectory();
// Bytes the user may still write on the drive that holds the folder
// `folder`; -1 when the system cannot tell.
std::int64_t WideFreeSpace(std::u16string_view folder);
// The folder for temporary files of the user, with a trailing separator.
std::u16string WideTempFolder();

}  // namespace sys
