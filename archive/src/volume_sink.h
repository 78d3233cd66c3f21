#pragma once
// A new archive written straight into its volumes. The commit writes one
// stream, as it writes a plain archive; this sink maps each position of
// that stream to a volume file and an offset in it, starts a new volume
// where one is full, or, for a set cut between records, where a record
// announced by the entry writer would not fit in what is left of it.
// Patches of a local header and truncations of a failed entry reach back
// into the volume that holds them, so nothing written is read back but the
// first volume of a set that fits in it after all (KeepPlain).
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "archive/writer.h"
#include "entry_writer.h"
#include "transaction.h"

namespace za {

// What a set of volumes asks of its disks: spanned volumes are each put
// on a blank disk in a removable drive.
class TZAVolumeDisks {
 public:
  virtual ~TZAVolumeDisks() = default;
  // Volume `volume` (1 for the second) begins: its disk is asked for, and
  // a `limit` below 0 becomes what that disk can take.
  virtual void Begin(std::int32_t volume, std::int64_t& limit) = 0;
  // Volume `volume` is complete in `file`, which goes once it is on disk.
  virtual void Complete(std::int32_t volume, const std::u16string& file) = 0;
};

class TZAVolumeSink final : public TZAStream, public TZARecordSink {
 public:
  struct TZAShape {
    std::int64_t First = 0;    // bytes of the first volume
    std::int64_t Size = 0;     // bytes of each volume after it
    bool KeepRecords = false;  // records start a new volume rather than be cut
    bool Signature = false;    // a set with nothing in front starts with the split signature
  };
  // Volume files are made in `folder` under temporary names; `disks`, when
  // given, hears of each volume as it begins and once it is complete.
  TZAVolumeSink(const TZATransaction& transaction, std::u16string folder, TZAShape shape,
                TZAVolumeDisks* disks = nullptr);
  ~TZAVolumeSink() override;  // removes the files it still holds
  TZAVolumeSink(const TZAVolumeSink&) = delete;
  TZAVolumeSink& operator=(const TZAVolumeSink&) = delete;

  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void* data, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TZASeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(size_); }
  // Drops what lies from `size` on, and the volumes that begin there.
  void SetSize(std::int64_t size) override;
  int LastError() const override { return error_; }

  void BeginRecord(std::uint64_t at, std::uint64_t size) override;

  const TZAShape& Shape() const { return shape_; }

  // The volume that position `at` lies on, the offset there, and the room
  // left on it from there.
  std::uint32_t DiskAt(std::uint64_t at) const { return static_cast<std::uint32_t>(IndexAt(at)); }
  std::uint64_t OffsetAt(std::uint64_t at) const;
  std::uint64_t RoomAt(std::uint64_t at) const;
  // A set that fits its first volume after all: that volume becomes a
  // plain archive, bounded no more and without the signature.
  void KeepPlain();
  bool Plain() const { return plain_; }
  // Completes the volumes; the names of their files in order, which the
  // caller owns now (spanned ones are on their disks and gone already).
  std::vector<std::u16string> Finish();
  // A failure to make a volume file, kept as it was raised: within an
  // entry it must not pass for a failure of that entry.
  std::exception_ptr Failure() const { return failure_; }

 private:
  struct Volume {
    std::uint64_t Start;  // the position of its first byte in the stream
    std::uint64_t Base;   // where that byte lies in the file
    std::uint64_t Limit;  // bytes the file may hold
    std::u16string File;  // empty until the first byte
  };
  std::uint64_t EndOf(std::size_t index) const;
  std::size_t IndexAt(std::uint64_t at) const;
  void Extend(std::uint64_t at);
  void NewVolume(std::uint64_t start);
  // The file of volume `index`, ready for writing at `offset`.
  TZAStream& FileFor(std::size_t index, std::uint64_t offset);
  void CloseBack();
  void CloseLast();

  const TZATransaction& transaction_;
  std::u16string folder_;
  TZAShape shape_;
  TZAVolumeDisks* disks_;
  std::vector<Volume> volumes_;
  std::uint64_t position_ = 0, size_ = 0;
  int error_ = 0;
  bool startsWithRecord_ = false;  // the first record came before any byte
  bool plain_ = false;
  std::exception_ptr failure_;
  // The newest volume's file, written through a buffer, and one earlier
  // file that a patch reached back into.
  std::size_t lastIndex_ = 0, backIndex_ = 0;
  std::unique_ptr<TZAStream> lastFile_, backFile_;
  std::unique_ptr<TZAOutput> last_;
};

}  // namespace za
