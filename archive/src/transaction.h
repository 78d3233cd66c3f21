#pragma once
// A commit's new archive as a transaction: written into a temporary file
// (or memory), it takes the old archive's place only once complete; when
// anything fails it is dropped and the component reads its old archive
// again, so that what the transaction changed in the directory did not
// happen.
#include <memory>
#include <string>
#include <vector>

#include "archive/stream.h"
#include "paths.h"
#include "write_state.h"

namespace za {

// The folder part of a path, with its separator ("" when there is none).
inline std::u16string ZAFolderOf(std::u16string_view path) {
  return std::u16string(paths::FolderPart(path, paths::kSeparators));
}

class TZATransaction {
 public:
  explicit TZATransaction(const TZABaseArchiver::TZAWriteState& state) : state_(state) {}

  // A new file of its own name (TempFilePrefix, then "XXXXXXXX.tmp") in `folder`, opened as
  // `out`; native error 19 when none can be made there.
  std::u16string CreateTemp(std::u16string folder, std::unique_ptr<TZAStream>& out) const;
  // Drops the new archive (and the temporary file, if any) and reads the
  // old one again.
  void Abandon(std::unique_ptr<TZAStream>& out, const std::u16string& temp) const;
  // The complete new archive in `temp` replaces the archive's file, which
  // is then opened again.
  void InstallFile(std::unique_ptr<TZAStream> out, std::u16string temp) const;
  // The new archive in memory replaces the component's memory archive or
  // the content of the caller's stream.
  void InstallStream(std::unique_ptr<TZAStream> out) const;
  // For the volume layouts: the new archive (a whole one in `temp`, or the
  // volumes its stream holds) goes (Drop), or it has served and the
  // component lets go of the old one so that the volumes can take its
  // place (Release).
  void DropLayout(std::unique_ptr<TZAStream>& out, const std::u16string& temp) const;
  void ReleaseForLayout(std::unique_ptr<TZAStream>& out, const std::u16string& temp) const;

 private:
  void KeepPermissions(const std::u16string& name) const;
  std::u16string CopyBeside(const std::u16string& temp, const std::u16string& target) const;

  const TZABaseArchiver::TZAWriteState& state_;
};

}  // namespace za
