#pragma once
// The system services the setup window and its tasks ask of the platform.
//
// One interface, two backends: src/win32/ makes the real Windows calls,
// src/posix/ is a stand-in for these Linux machines. Tests substitute a
// recording fake. All paths are native narrow strings (see text.h); the
// Windows backend passes them to the A forms of the API unchanged.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace sys {

// Shell folder identifiers (CSIDL values) the program asks for.
inline constexpr int kFolderAppData = 26;
inline constexpr int kFolderWindows = 36;

// One text per process in the order the system enumerates them: the
// executable's file name or the full path of its main module, depending on
// the route the backend takes. Duplicates stay.
using ProcessList = std::vector<std::string>;

// What Delay needs of the window toolkit's message loop.
struct MessagePump {
  std::function<void()> processMessages;
  // Optional: block until a message arrives or the time passes, so that a
  // wait does not spin a core. Absent, Delay spins.
  std::function<void(std::uint32_t ms)> waitForMessages;
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
  // Deletes the folder and everything below it; true on success.
  virtual bool DeleteFolder(const std::string& path) = 0;
  // Creates one folder level; false when it exists or cannot be made.
  virtual bool CreateFolder(const std::string& path) = 0;
};

// The backend of this build.
System& Platform();

}  // namespace sys
