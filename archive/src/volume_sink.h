#pragma once
// A new archive laid out over volumes: pieces of a fixed size named
// "name.zip.001", ... (7-Zip's scheme), or volumes cut between records as
// "zip -s" cuts them ("name.z01", ... "name.zip"), as split files beside
// the archive or spanned disks put one by one into a removable drive.
//
// The commit writes the archive once, whole, and notes where each record
// lies; the layout cuts it from those notes, never by reading back its
// own headers. Spanned disks are asked for only once the archive is
// complete, after the commit's last progress report, as they always were.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/writer.h"
#include "entry_writer.h"
#include "transaction.h"

namespace za {

// What the commit wrote: each entry's central header, where its local
// header lies and how long that header is, and the end of the directory.
struct TZAWrittenArchive {
  std::vector<TZAPlannedEntry> Entries;
  std::vector<std::uint64_t> LocalAt;
  std::vector<std::uint32_t> LocalSize;
  TZAEndOfDirectory End;
  bool Zip64 = false;
};

class TZAVolumeLayout {
 public:
  TZAVolumeLayout(const TZABaseArchiver::TZAWriteState& state, const TZATransaction& transaction)
      : state_(state), transaction_(transaction) {}

  // The archive written whole in `out` (the temporary file `temp`) as
  // numbered pieces of the volume size; the component is closed after: the
  // set is opened by the name of a piece.
  void InstallPieces(std::unique_ptr<TZAStream> out, const std::u16string& temp) const;
  // The archive laid out again over volumes: local headers and the end
  // records kept whole on one volume (data and the directory run over),
  // disk numbers and offsets counted per volume, the first volume opened
  // by the split signature as "zip -s" writes it. An archive that fits the
  // first volume stays one plain file, unless it is spanned.
  void InstallSplit(std::unique_ptr<TZAStream> out, const std::u16string& temp, TZAWrittenArchive written,
                    bool spanned) const;

 private:
  class Volumes;
  // Spanned disks: what the drive can take, the request for a blank disk,
  // and a volume put on the disk in the drive.
  std::int64_t FreeOnDisk(const std::u16string& name) const;
  void RequestBlankDisk(std::int32_t volume, std::u16string& name) const;
  void PutOnDisk(const std::u16string& volumeFile, const std::u16string& name, std::int32_t volume) const;
  void LayOut(TZAStream& out, Volumes& split, TZAWrittenArchive& written, std::uint64_t prefix, bool several) const;

  const TZABaseArchiver::TZAWriteState& state_;
  const TZATransaction& transaction_;
};

}  // namespace za
