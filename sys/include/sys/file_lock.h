#pragma once
// A lock between processes that stands for a file, for tools that change
// one file in several steps (read it, write a new one beside it, put that
// in its place) and must not interleave with another run doing the same.
//
// The lock is a file of its own beside the one it guards: the guarded file
// is replaced by a rename, and a lock on it would stay with the old one.
// POSIX: an advisory flock of the lock file, which is checked to still be
// the one named after locking (a holder removes it when it lets go). Windows:
// the lock file opened without write sharing and deleted when closed. Both
// go with the process when it ends, however it ends; a lock file a killed
// process left on POSIX is simply taken over by the next one.
#include <cstdint>
#include <string>
#include <string_view>

namespace sys {

class FileLock {
 public:
  enum class State { Held, Busy, Failed };

  FileLock() = default;
  ~FileLock() { Release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the lock that the file `name` stands for, making that file when
  // missing, and writes this process's id into it. `waitMs`: how long to
  // wait for another holder (0: not at all, below 0: as long as it takes).
  // Busy: another process (or another FileLock) holds it, Holder() tells
  // its process id when known; Failed: LastError() has the system's reason.
  State Acquire(std::u16string_view name, std::int64_t waitMs);
  // Removes the lock file and lets go; nothing when not held.
  void Release();

  bool Held() const { return handle_ != kNoHandle; }
  // The process that held the lock when Acquire found it busy (0: unknown).
  std::uint32_t Holder() const { return holder_; }
  // Once held: whether the holder before may have ended without letting go
  // (killed, say), so that files of its work may be left. On POSIX its lock
  // file was still there; Windows deletes the file with its holder and
  // cannot tell, so there it is always true.
  bool MayFollowAKilledHolder() const { return inherited_; }
  int LastError() const { return lastError_; }

 private:
  State TryOnce();

  static constexpr std::intptr_t kNoHandle = -1;
  std::intptr_t handle_ = kNoHandle;
  std::u16string name_;
  std::uint32_t holder_ = 0;
  int lastError_ = 0;
  bool inherited_ = false;
};

// Whether `error` (from LastError) says the folder takes no new files: it
// is not there, this user has no rights there, or it is read-only.
bool FolderRefusesFiles(int error);

std::uint32_t CurrentProcessId();
// Whether the process `pid` still runs; true when the system cannot tell
// (one of another user's, say), so that nothing of a live run is taken.
bool ProcessRuns(std::uint32_t pid);

}  // namespace sys
