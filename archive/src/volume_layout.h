#pragma once
// A new archive laid out over volumes: pieces of a fixed size named
// "name.zip.001", ... (7-Zip's scheme), or volumes cut between records as
// "zip -s" cuts them ("name.z01", ... "name.zip"), as split files beside
// the archive or spanned disks put one by one into a removable drive.
//
// Split sets are written once, straight into their volumes (volume_sink.h).
// Spanned disks are asked for only once the archive is complete, after the
// commit's last progress report, as they always were: their archive is
// made whole away from the drive first and then cut from what the commit
// noted of each record, never by reading back its own headers.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/writer.h"
#include "entry_writer.h"
#include "transaction.h"
#include "volume_sink.h"

namespace za {

// What the commit wrote: each entry's central header, where its local
// header lies and how long that header is, and the end of the directory
// as a plain archive has it.
struct TZAWrittenArchive {
  std::vector<TZAPlannedEntry> Entries;
  std::vector<std::uint64_t> LocalAt;
  std::vector<std::uint32_t> LocalSize;
  TZAEndOfDirectory End;
  bool Zip64 = false;
};

class TZAVolumeLayout : private TZAVolumeDisks {
 public:
  TZAVolumeLayout(const TZABaseArchiver::TZAWriteState& state, const TZATransaction& transaction)
      : state_(state), transaction_(transaction) {}

  // The sink a split set is written into, beside the archive: numbered
  // pieces, or volumes cut between records. Settings that give no set are
  // refused before anything is written.
  std::unique_ptr<TZAVolumeSink> SplitSink() const;
  // What lies in front of the first record (a stub) must fit the first
  // volume, and that volume must hold a record.
  void CheckPrefix(const TZAVolumeSink& sink, std::uint64_t prefix) const;
  // Whether an archive that ends as `written` says runs over the first
  // volume of `sink` (one that does not stays a plain file).
  static bool RunsOver(const TZAVolumeSink& sink, const TZAWrittenArchive& written);
  // The central directory and the end records at the end of `sink`: each
  // record whole on one volume, disk numbers and offsets counted per volume.
  static void WriteDirectory(TZAVolumeSink& sink, const TZAWrittenArchive& written);

  // The pieces written: they take their names, the component is closed
  // after (the set is opened by the name of a piece).
  void InstallPieces(std::unique_ptr<TZAVolumeSink> sink) const;
  // The volumes written: they take their names ("zip -s" names, the last
  // the archive's), or the one plain file replaces the archive.
  void InstallSplit(std::unique_ptr<TZAVolumeSink> sink) const;
  // The archive written whole in `out` (the temporary file `temp`) laid
  // out again over spanned disks: local headers and the end records kept
  // whole on one disk (data and the directory run over), the first disk
  // opened by the split signature when there are several.
  void InstallSpanned(std::unique_ptr<TZAStream> out, const std::u16string& temp, const TZAWrittenArchive& written);

 private:
  // Spanned disks: what the drive can take, the request for a blank disk,
  // and a volume put on the disk in the drive.
  void Begin(std::int32_t volume, std::int64_t& limit) override;
  void Complete(std::int32_t volume, const std::u16string& file) override;
  std::int64_t FreeOnDisk(const std::u16string& name) const;
  void PutOnDisk(const std::u16string& volumeFile, const std::u16string& name, std::int32_t volume) const;
  // The volumes of `sink` completed, or the new archive dropped.
  std::vector<std::u16string> FinishVolumes(TZAVolumeSink& sink) const;
  // The files of a complete set renamed to the names of their volumes
  // (the rest removed when one cannot be).
  void NameVolumes(std::vector<std::u16string> files, bool numbered) const;

  const TZABaseArchiver::TZAWriteState& state_;
  const TZATransaction& transaction_;
  std::u16string disk_;  // the name on the disk in the drive
};

}  // namespace za
