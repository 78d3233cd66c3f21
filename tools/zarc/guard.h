#pragma once
// What keeps a change of an archive whole against other runs of zarc: a
// lock beside the archive for the whole change (reading its directory,
// writing the new one, putting it in place), and the removal of the new
// files that a killed run left, which are named after the archive and the
// run's process so that a later run can tell them.
#include <cstdint>
#include <string>

#include "commands.h"
#include "sys/file_lock.h"

namespace zarc {

class ArchiveGuard {
 public:
  explicit ArchiveGuard(const std::u16string& archive);

  // Takes the archive's lock, waiting up to `waitMs` for another zarc
  // (below 0: as long as it takes): -1 when held, else the exit status
  // (kLocked), with the message given. A folder that takes no lock file
  // (missing, no rights, read-only) takes no new archive either: the change
  // goes on unlocked and fails there with the engine's own reason.
  int Lock(std::int64_t waitMs, bool announceWait, const Reporter& report);
  // The prefix of this run's temporary files, for TZABaseArchiver.
  std::u16string TempFilePrefix() const;
  // Removes the temporary files of this archive that runs which no longer
  // exist left, older than this one; says where those it cannot remove are.
  // Looked for only when the lock says its holder before may have been
  // killed.
  void SweepLeftovers(const Reporter& report) const;

 private:
  std::string Holder() const;  // "another zarc (pid N)"

  std::u16string folder_, name_;  // the folder with its separator (or ""), the file name
  sys::FileLock lock_;
};

}  // namespace zarc
