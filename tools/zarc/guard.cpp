#include "guard.h"

#include <vector>

#include "sys/codepage.h"
#include "sys/dos_time.h"
#include "sys/wide_dir.h"
#include "sys/wide_file.h"

namespace zarc {

namespace {

// Files of zarc's own beside ARCHIVE: ".ARCHIVE.zarc-lock", and
// ".ARCHIVE.zarc-PID-XXXXXXXX.tmp" for the new archive or volume of the run
// PID. Hidden on POSIX, and kept in the archive's folder because only
// there does the new file take the old one's place in one step.
std::u16string OwnPrefix(const std::u16string& name) { return u"." + name + u".zarc-"; }

// The process id in a temporary file's name, 0 when the name is not of the
// pattern.
std::uint32_t PidOfTemp(const std::u16string& file, const std::u16string& prefix) {
  const std::u16string tail = u".tmp";
  if (file.size() <= prefix.size() + tail.size() || file.compare(0, prefix.size(), prefix) != 0 ||
      file.compare(file.size() - tail.size(), tail.size(), tail) != 0)
    return 0;
  const std::u16string middle = file.substr(prefix.size(), file.size() - prefix.size() - tail.size());
  const std::size_t dash = middle.find(u'-');
  if (dash == 0 || dash == std::u16string::npos || dash > 10 || middle.size() - dash - 1 != 8) return 0;
  std::uint64_t pid = 0;
  for (std::size_t i = 0; i < dash; ++i) {
    if (middle[i] < u'0' || middle[i] > u'9') return 0;
    pid = pid * 10 + static_cast<std::uint64_t>(middle[i] - u'0');
  }
  for (std::size_t i = dash + 1; i < middle.size(); ++i) {
    const char16_t c = middle[i];
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return 0;
  }
  return pid <= 0xFFFFFFFFu ? static_cast<std::uint32_t>(pid) : 0;
}

// When this run began, as the file times of the folder are kept.
const std::uint32_t kRunStart = sys::DosDateTimeNow();

}  // namespace

ArchiveGuard::ArchiveGuard(const std::u16string& archive) {
  const std::size_t cut = archive.find_last_of(u"/\\");
  folder_ = cut == std::u16string::npos ? std::u16string() : archive.substr(0, cut + 1);
  name_ = cut == std::u16string::npos ? archive : archive.substr(cut + 1);
}

int ArchiveGuard::Lock(std::int64_t waitMs, bool announceWait, const Reporter& report) {
  const std::u16string file = folder_ + OwnPrefix(name_) + u"lock";
  sys::FileLock::State state = lock_.Acquire(file, 0);
  if (state == sys::FileLock::State::Busy && waitMs != 0) {
    if (announceWait) report.Archive("waiting for " + Holder() + " to finish changing it");
    state = lock_.Acquire(file, waitMs);
  }
  switch (state) {
    case sys::FileLock::State::Held: return -1;
    case sys::FileLock::State::Busy:
      report.Archive("is being changed by " + Holder() +
                     (waitMs == 0 ? "; --wait waits for it" : "; gave up waiting"));
      return kLocked;
    case sys::FileLock::State::Failed: break;
  }
  if (sys::FolderRefusesFiles(lock_.LastError())) return -1;
  report.Archive("cannot take the lock " + Shown(file) + ": " + SystemReason(lock_.LastError()));
  return kDiskFull;
}

std::string ArchiveGuard::Holder() const {
  return lock_.Holder() ? "another zarc (pid " + std::to_string(lock_.Holder()) + ")" : "another zarc";
}

std::u16string ArchiveGuard::TempFilePrefix() const {
  return OwnPrefix(name_) + sys::Utf8ToWide(std::to_string(sys::CurrentProcessId())) + u"-";
}

void ArchiveGuard::SweepLeftovers(const Reporter& report) const {
  // Only a killed run leaves files; a folder of many files is not read
  // through on every change for nothing.
  if (!lock_.Held() || !lock_.MayFollowAKilledHolder()) return;
  std::vector<sys::WideDirEntry> entries;
  int error = 0;
  const std::u16string prefix = OwnPrefix(name_);
  if (!sys::WideListDirectory(folder_.empty() ? u"." : folder_, entries, error, prefix)) return;
  for (const sys::WideDirEntry& e : entries) {
    const std::uint32_t pid = PidOfTemp(e.Name, prefix);
    if (pid == 0 || (e.Attributes & 0x10) != 0) continue;
    const std::u16string path = folder_ + e.Name;
    if (sys::ProcessRuns(pid)) {
      report.Archive("leaves " + Shown(path) + " alone: its zarc (pid " + std::to_string(pid) + ") still runs");
    } else if (kRunStart != 0 && static_cast<std::uint32_t>(e.DosDateTime) > kRunStart) {
      report.Archive("leaves " + Shown(path) + " alone: it is newer than this run");
    } else if (!sys::WideDeleteFile(path)) {
      report.Archive("cannot remove " + Shown(path) + ", which a stopped zarc left");
    }
  }
}

}  // namespace zarc
