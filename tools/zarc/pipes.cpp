// Archives through pipes: an archive on standard input is read from a
// file (the redirected file itself, or a copy spooled into the temporary
// folder, since the central directory is at the end and entries are found
// through it), and an archive for standard output is written whole into a
// temporary file and copied out once complete.
#include <cerrno>
#include <cstdio>
#include <random>
#include <vector>

#include "commands.h"
#include "console.h"
#include "sys/codepage.h"
#include "sys/wide_file.h"

namespace zarc {

TemporaryFile::~TemporaryFile() {
  file_.Close();
  if (!name_.empty()) sys::WideDeleteFile(name_);
}

bool TemporaryFile::Create(const char* suffix, std::string& error) {
  std::u16string folder = sys::WideTempFolder();
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char stem[40];
    std::snprintf(stem, sizeof stem, "zarc-%08x%08x", random(), random());
    std::u16string name = folder + sys::Utf8ToWide(stem) + sys::Utf8ToWide(suffix);
    // A new name each time: a file someone else put there is never used.
    if (file_.CreateNew(name)) {
      name_ = name;
      return true;
    }
    if (sys::WideFileExists(name) || sys::WideDirectoryExists(name)) continue;
    error = "cannot make a temporary file in " + Shown(folder) + ": " + SystemReason(file_.LastError());
    return false;
  }
  error = "cannot make a temporary file in " + Shown(folder) + ": every name tried is taken";
  return false;
}

bool TemporaryFile::Forget() {
  file_.Close();
  bool gone = name_.empty() || sys::WideDeleteFile(name_);
  name_.clear();
  return gone;
}

bool OpenStandardInput(std::u16string& archive, TemporaryFile& spool, std::string& error) {
  if (SeekableInputName(archive)) return true;
  if (!spool.Create(".zip", error)) return false;
  SetBinaryInput();
  std::vector<char> buffer(1 << 16);
  for (;;) {
    errno = 0;
    std::size_t n = std::fread(buffer.data(), 1, buffer.size(), stdin);
    if (n > 0 && spool.File().Write(buffer.data(), static_cast<std::int64_t>(n)) != static_cast<std::int64_t>(n)) {
      error = "cannot keep standard input in " + Shown(spool.Name()) + ": " +
              SystemReason(spool.File().LastError()) + " (TMPDIR names another folder)";
      return false;
    }
    if (n < buffer.size()) break;
  }
  if (std::ferror(stdin)) {
    error = "reading standard input failed" + (errno ? ": " + SystemReason(errno) : std::string());
    return false;
  }
  spool.File().Close();
  archive = spool.Name();
  return true;
}

bool CopyToStandardOutput(const std::u16string& name, std::string& error) {
  sys::WideFile in;
  if (!in.Open(name, sys::FileAccess::Read, sys::FileShare::DenyWrite)) {
    error = "cannot read " + Shown(name) + " again: " + SystemReason(in.LastError());
    return false;
  }
  SetBinaryOutput();
  std::vector<char> buffer(1 << 16);
  for (;;) {
    std::int64_t n = in.Read(buffer.data(), static_cast<std::int64_t>(buffer.size()));
    if (n < 0) {
      error = "cannot read " + Shown(name) + " again: " + SystemReason(in.LastError());
      return false;
    }
    if (n == 0) break;
    errno = 0;
    if (std::fwrite(buffer.data(), 1, static_cast<std::size_t>(n), stdout) != static_cast<std::size_t>(n)) {
      error = "writing to standard output failed" + (errno ? ": " + SystemReason(errno) : std::string());
      return false;
    }
  }
  errno = 0;
  if (std::fflush(stdout) != 0) {
    error = "writing to standard output failed" + (errno ? ": " + SystemReason(errno) : std::string());
    return false;
  }
  return true;
}

}  // namespace zarc
