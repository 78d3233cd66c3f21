#pragma once
// The system services the setup window and its tasks ask of the platform.
//
// One interface, two backends: src/win32/ makes the real Windows calls,
// src/posix/ is a stand-in for these Linux machines. Tests substitute a
// recording fake. All paths and texts are UTF-8 (see text.h); the Windows
// backend hands them to the W forms of the API as UTF-16.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Windows headers define these names as macros for their A and W forms.
#undef CopyFile
#undef ShellExecute

namespace sys {

// Shell folder identifiers (CSIDL values) the program asks for.
inline constexpr int kFolderAppData = 26;
inline constexpr int kFolderWindows = 36;

// One text per process in the order the system enumerates them: the
// executable's file name or the full path of its main module, depending on
// the route the backend takes. Duplicates stay.
using ProcessList = std::vector<std::string>;

// A text file open for reading; closed when released.
class TextFile {
 public:
  virtual ~TextFile() = default;
  // The next line without its line end (LF, or CR LF), at most `limit`
  // characters of it; `longer` tells that more were skipped. False at the end
  // of the file: a file that ends in a line end has no empty line after it.
  virtual bool ReadLine(std::string& line, std::size_t limit, bool& longer) = 0;
};

// A file opened so that nobody can write, rename or delete it, nor the
// folder it lies in, while it is held. (The POSIX stand-in can stop no other
// writer; it only opens without following links.)
class HeldFile {
 public:
  virtual ~HeldFile() = default;
  // Reads on from the file's start: the bytes read, fewer at the end, -1 on
  // failure.
  virtual std::int64_t Read(std::span<std::uint8_t> buffer) = 0;
};

// A folder opened so that nobody can rename or delete it, and so put a link
// in its place, while it is held. (Not on the POSIX stand-in.)
class HeldFolder {
 public:
  virtual ~HeldFolder() = default;
};

// An open registry key of the current user; 0 is none.
using RegistryKey = std::uintptr_t;

// Show modes of started programs.
inline constexpr int kShowHidden = 0;

// What Delay and WaitUntil need of the window toolkit's message loop.
struct MessagePump {
  std::function<void()> processMessages;
  // Optional: block until a message arrives or the time passes, so that a
  // wait does not spin a core. Absent, the waits spin.
  std::function<void(std::uint32_t ms)> waitForMessages;
  // Optional: true once the window has gone, so that WaitUntil need not
  // keep a closed program alive.
  std::function<bool()> ended = {};
};

// A program we started and keep hold of, so that its end and exit status can
// be learnt; released, it runs on unwatched.
class Process {
 public:
  virtual ~Process() = default;
  // The exit status once the program has ended; none while it runs.
  virtual std::optional<std::uint32_t> ExitStatus() = 0;
};

class System {
 public:
  virtual ~System() = default;

  // The folder's path without trailing separator; empty text on failure.
  virtual std::string GetSpecialFolder(int folder) = 0;
  // True when the current user belongs to the local administrators.
  virtual bool IsUserAnAdmin() = 0;
  // Fills the list; does nothing when it is absent.
  virtual void FillProcessList(ProcessList* list) = 0;
  // True when some entry matches `name`: the whole entry, or only its file
  // name part when `wholeEntry` is false; letters A to Z compare without case.
  virtual bool IsProcessRunning(std::string_view name, bool wholeEntry);
  // Milliseconds since an arbitrary start; wraps around like GetTickCount.
  virtual std::uint32_t GetTickCount() = 0;
  // Returns after at least `ms` milliseconds, processing messages meanwhile;
  // at least one pass of message processing happens even for ms <= 0.
  virtual void Delay(std::int32_t ms, const MessagePump& pump);
  // Processes messages until `done` answers true (true), `ms` milliseconds
  // have passed or the pump has ended (false). `done` is asked between
  // passes, so it sees what the messages changed.
  virtual bool WaitUntil(const std::function<bool()>& done, std::int32_t ms, const MessagePump& pump);
  // Deletes the folder and everything below it; true on success. Links
  // (symbolic links, junctions) are removed as links, never followed: nothing
  // outside the folder is touched. A folder that is itself a link loses the
  // link only.
  virtual bool DeleteFolder(const std::string& path) = 0;
  // When `path` (trailing separators aside) is a symbolic link or junction,
  // removes the link itself, never what it points to; true when one went.
  virtual bool RemoveLink(const std::string& path) = 0;
  // Opens an existing regular file that is no link, in a folder that is no
  // link, and holds both (see HeldFile); null when it cannot.
  virtual std::unique_ptr<HeldFile> HoldFile(const std::string& path) = 0;
  // Opens an existing folder that is no link and holds it (see HeldFolder);
  // null when it cannot.
  virtual std::unique_ptr<HeldFolder> HoldFolder(const std::string& path) = 0;
  // Creates one folder level; false when it exists or cannot be made.
  virtual bool CreateFolder(const std::string& path) = 0;

  // Copies a file; with `failIfExists` an existing target is never
  // overwritten and the copy fails.
  virtual bool CopyFile(const std::string& existing, const std::string& target, bool failIfExists) = 0;
  // Starts the program associated with the file's type, as the shell does.
  // Above 32 on success; 32 or less is the shell's error value. With
  // `process` given, a successful start hands over the started program; it
  // stays empty when the shell gave the file to a program that was running
  // already, so there is nothing of ours to follow.
  virtual std::int32_t ShellExecute(void* window, const std::string& verb, const std::string& file,
                                    const std::string& parameters, const std::string& directory, int show,
                                    std::unique_ptr<Process>* process) = 0;
  // Starts a command line without waiting for it. Above 31 on success; with
  // `process` given, a successful start hands over the started program.
  virtual std::uint32_t WinExec(const std::string& commandLine, int show, std::unique_ptr<Process>* process) = 0;
  // Opens a text file for reading; null with `error` set when it cannot.
  virtual std::unique_ptr<TextFile> OpenTextFile(const std::string& path, int& error) = 0;
  // Creates the folder and every missing folder above it; an existing
  // folder is no failure.
  virtual bool ForceFolders(const std::string& path) = 0;
  // Creates (replacing) the file and writes `data` into it. 0, or the
  // system's error code.
  virtual int WriteNewFile(const std::string& path, std::span<const std::uint8_t> data) = 0;
  // The system's text for an error code, as FormatMessage gives it.
  virtual std::string ErrorMessage(int code) = 0;

  // A resource of the program's own module, by type and name (compared
  // without case); none when it is missing.
  virtual std::optional<std::span<const std::uint8_t>> FindModuleResource(const std::string& type,
                                                                           const std::string& name) = 0;

  // The current user's registry. `path` is below the root; the key is opened
  // for full access and, with `create`, created (non-volatile) when missing.
  // Returns 0 on failure.
  virtual RegistryKey OpenUserKey(const std::string& path, bool create) = 0;
  // Writes a 32-bit integer value (REG_DWORD).
  virtual bool SetDwordValue(RegistryKey key, const std::string& name, std::uint32_t data) = 0;
  virtual void CloseUserKey(RegistryKey key) = 0;
};

// The backend of this build.
System& Platform();

// Adds a resource to the program's module where the platform has no module
// resources of its own (the POSIX stand-in, fed by generated sources); the
// data must outlive the program. Windows reads its resources from the
// executable and ignores this.
void RegisterModuleResource(const std::string& type, const std::string& name, std::span<const std::uint8_t> data);

}  // namespace sys
