#include "volume_layout.h"

#include <algorithm>

#include "archive/volumes.h"
#include "sys/wide_dir.h"
#include "sys/wide_file.h"

namespace za {

namespace {

// The local header offset in an entry's central Zip64 block: after the
// sizes that the header's fields send there.
void PatchZip64Offset(TZAPlannedEntry& e, std::uint64_t offset) {
  std::size_t at = 4;
  if (e.Header.UncompressedSize == 0xFFFFFFFF) at += 8;
  if (e.Header.CompressedSize == 0xFFFFFFFF) at += 8;
  if (e.Extra.size() < at + 8 || GetU16(e.Extra.data()) != kZip64ExtraTag) return;
  PutU64(&e.Extra[at], offset);
}

std::vector<std::uint8_t> CentralHeaderBytes(const TZAPlannedEntry& e) {
  std::vector<std::uint8_t> bytes(CentralDirectoryHeader::kSize);
  e.Header.Store(bytes.data());
  bytes.insert(bytes.end(), e.Name.begin(), e.Name.end());
  bytes.insert(bytes.end(), e.Extra.begin(), e.Extra.end());
  bytes.insert(bytes.end(), e.Comment.begin(), e.Comment.end());
  return bytes;
}

// The Zip64 records (when there are any) and the end record.
std::uint64_t TailSize(const TZAWrittenArchive& written) {
  return (written.Zip64 ? Zip64EndOfCentralDirectory::kSize + Zip64EndOfCentralDirectoryLocator::kSize : 0) +
         EndOfCentralDirectory::kSize + std::min<std::size_t>(written.End.Comment.size(), 0xFFFF);
}

// The volume that the sink writes on, as a stream of its own: the end
// records count the offset of the Zip64 end record in it.
class VolumeView : public TZAStream {
 public:
  VolumeView(TZAVolumeSink& sink, std::uint64_t at)
      : sink_(sink), shift_(static_cast<std::int64_t>(at) - static_cast<std::int64_t>(sink.OffsetAt(at))) {}
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void* data, std::int64_t count) override { return sink_.Write(data, count); }
  std::int64_t Seek(std::int64_t offset, TZASeekOrigin origin) override {
    const std::int64_t p = sink_.Seek(origin == TZASeekOrigin::soBeginning ? offset + shift_ : offset, origin);
    return p < 0 ? p : p - shift_;
  }
  void SetSize(std::int64_t size) override { sink_.SetSize(size + shift_); }

 private:
  TZAVolumeSink& sink_;
  std::int64_t shift_;
};

std::int64_t FirstVolumeSize(const TZASpanningOptions& options) {
  return options.FirstVolumeSize > 0 ? options.FirstVolumeSize : options.VolumeSizeBytes();
}

}  // namespace

// ---- split sets

std::unique_ptr<TZAVolumeSink> TZAVolumeLayout::SplitSink() const {
  const TZABaseArchiver& a = state_.Component();
  const TZASpanningOptions& options = a.SpanningOptions();
  const std::int64_t size = options.VolumeSizeBytes();
  TZAVolumeSink::TZAShape shape{FirstVolumeSize(options), size, !options.AdvancedNaming, !options.AdvancedNaming};
  if (options.AdvancedNaming && size <= 0)
    throw Exception(u"Split archives are written with AdvancedNaming and a volume size");
  if (size <= 0) throw Exception(u"Split archives need a volume size");
  return std::make_unique<TZAVolumeSink>(transaction_, ZAFolderOf(a.FileName()), shape);
}

void TZAVolumeLayout::CheckPrefix(const TZAVolumeSink& sink, std::uint64_t prefix) const {
  const std::int64_t first = sink.Shape().First;
  if (prefix > static_cast<std::uint64_t>(first)) throw EZAException(neSFXStubTooLarge, &state_.Component());
  if (first < 64) throw Exception(u"The first volume is too small for a split archive");
}

bool TZAVolumeLayout::RunsOver(const TZAVolumeSink& sink, const TZAWrittenArchive& written) {
  const std::uint64_t total = written.End.DirectoryOffset + written.End.DirectorySize + TailSize(written);
  return total > static_cast<std::uint64_t>(sink.Shape().First);
}

void TZAVolumeLayout::WriteDirectory(TZAVolumeSink& sink, const TZAWrittenArchive& written) {
  TZAEndOfDirectory end = written.End;
  std::uint64_t directorySize = 0;
  std::uint32_t countedDisk = 0;
  std::uint64_t counted = 0;  // central headers that start on countedDisk
  for (std::size_t i = 0; i < written.Entries.size(); ++i) {
    TZAPlannedEntry e = written.Entries[i];
    const std::uint64_t local = written.LocalAt[i];
    e.Header.DiskNumberStart = static_cast<std::uint16_t>(sink.DiskAt(local));
    if (e.Header.LocalHeaderOffset == 0xFFFFFFFF)
      PatchZip64Offset(e, sink.OffsetAt(local));
    else
      e.Header.LocalHeaderOffset = static_cast<std::uint32_t>(sink.OffsetAt(local));
    const std::vector<std::uint8_t> record = CentralHeaderBytes(e);
    const std::uint64_t at = static_cast<std::uint64_t>(sink.Position());
    sink.BeginRecord(at, record.size());
    if (i == 0) {
      end.DirectoryDisk = sink.DiskAt(at);
      end.DirectoryOffset = sink.OffsetAt(at);
    }
    const std::uint32_t disk = sink.DiskAt(at);
    if (disk != countedDisk) counted = 0;
    countedDisk = disk;
    ++counted;
    sink.WriteBuffer(record.data(), static_cast<std::int64_t>(record.size()));
    directorySize += record.size();
  }
  const std::uint64_t at = static_cast<std::uint64_t>(sink.Position());
  if (written.Entries.empty()) {
    end.DirectoryDisk = sink.DiskAt(at);
    end.DirectoryOffset = sink.OffsetAt(at);
  }
  end.DirectorySize = directorySize;
  const std::uint64_t tail = TailSize(written);
  sink.BeginRecord(at, tail);
  if (sink.RoomAt(at) < tail) throw Exception(u"The volume size is too small for the end of the central directory");
  end.ThisDisk = sink.DiskAt(at);
  end.EntriesOnThisDisk = countedDisk == end.ThisDisk ? counted : 0;
  VolumeView volume(sink, at);
  TZAOutput out(volume, 1 << 16);
  ZAWriteEndOfDirectory(out, end, written.Zip64);
  out.Flush();
}

std::vector<std::u16string> TZAVolumeLayout::FinishVolumes(TZAVolumeSink& sink) const {
  try {
    return sink.Finish();
  } catch (...) {
    // The sink removes its volumes as it goes.
    std::unique_ptr<TZAStream> none;
    transaction_.DropLayout(none, u"");
    throw;
  }
}

void TZAVolumeLayout::InstallPieces(std::unique_ptr<TZAVolumeSink> sink) const {
  const std::u16string target = state_.Component().FileName();
  std::vector<std::u16string> pieces = FinishVolumes(*sink);
  std::unique_ptr<TZAStream> volumes = std::move(sink);
  transaction_.ReleaseForLayout(volumes, u"");
  // The empty file the new archive was opened as has no place beside its pieces.
  if (sys::WideFileExists(target)) {
    sys::WideDirEntry info;
    if (sys::WideStat(target, info) && info.Size == 0) sys::WideDeleteFile(target);
  }
  NameVolumes(std::move(pieces), true);
}

void TZAVolumeLayout::InstallSplit(std::unique_ptr<TZAVolumeSink> sink) const {
  std::vector<std::u16string> files = FinishVolumes(*sink);
  const bool plain = sink->Plain();
  std::unique_ptr<TZAStream> volumes = std::move(sink);
  if (plain) {
    transaction_.InstallFile(std::move(volumes), files.front());
    return;
  }
  transaction_.ReleaseForLayout(volumes, u"");
  NameVolumes(std::move(files), false);
}

void TZAVolumeLayout::NameVolumes(std::vector<std::u16string> files, bool numbered) const {
  const TZABaseArchiver& a = state_.Component();
  const std::u16string target = a.FileName();
  const std::int32_t last = static_cast<std::int32_t>(files.size()) - 1;
  for (std::int32_t i = 0; i <= last; ++i) {
    std::u16string name = numbered    ? ZANumberedVolumeName(target, i)
                          : i == last ? target
                                      : ZASplitVolumeName(target, i, last);
    if (!sys::WideReplaceFile(files[static_cast<std::size_t>(i)], name)) {
      for (std::int32_t k = i; k <= last; ++k) sys::WideDeleteFile(files[static_cast<std::size_t>(k)]);
      throw EZAException(neCannotCreateFile, &a, {name});
    }
  }
}

// ---- spanned disks

void TZAVolumeLayout::InstallSpanned(std::unique_ptr<TZAStream> out, const std::u16string& temp,
                                     const TZAWrittenArchive& written) {
  const TZABaseArchiver& a = state_.Component();
  const TZASpanningOptions& options = a.SpanningOptions();
  const std::u16string target = a.FileName();
  std::int64_t first = FirstVolumeSize(options);
  try {
    // The first disk is in the drive: what it can take bounds its volume.
    if (first < 0) first = FreeOnDisk(target);
    const std::uint64_t prefix = written.LocalAt.empty() ? written.End.DirectoryOffset : written.LocalAt.front();
    // Volumes are made away from the drive, then put on their disks.
    const std::u16string folder = !a.TempDir().empty() ? a.TempDir() : sys::WideTempFolder();
    disk_ = target;
    TZAVolumeSink sink(transaction_, folder, {first, options.VolumeSizeBytes(), true, out->Size() > first}, this);
    CheckPrefix(sink, prefix);
    auto copy = [&](std::uint64_t count) {
      ZACopyBytes(*out, count, [&](const std::uint8_t* data, std::size_t n) {
        sink.WriteBuffer(data, static_cast<std::int64_t>(n));
      });
    };
    out->SetPosition(0);
    copy(prefix);
    for (std::size_t i = 0; i < written.Entries.size(); ++i) {
      const std::uint64_t at = written.LocalAt[i];
      const std::uint64_t next = i + 1 < written.Entries.size() ? written.LocalAt[i + 1] : written.End.DirectoryOffset;
      sink.BeginRecord(at, written.LocalSize[i]);
      out->SetPosition(static_cast<std::int64_t>(at));
      copy(next - at);
    }
    WriteDirectory(sink, written);
    sink.Finish();
  } catch (...) {
    transaction_.DropLayout(out, temp);
    throw;
  }
  transaction_.ReleaseForLayout(out, temp);
}

void TZAVolumeLayout::Begin(std::int32_t volume, std::int64_t& limit) {
  TZABaseArchiver& a = state_.Component();
  bool cancel = false;
  if (a.OnRequestBlankVolume)
    a.OnRequestBlankVolume(&a, volume + 1, disk_, cancel);
  else
    cancel = !a.Dialogs().ConfirmVolume(ZAFormat(u"Please insert blank disk #%d", {std::int64_t{volume} + 1}));
  if (cancel) throw Exception(u"Writing the spanned archive was cancelled");
  if (limit < 0) limit = FreeOnDisk(disk_);
}

void TZAVolumeLayout::Complete(std::int32_t volume, const std::u16string& file) {
  PutOnDisk(file, disk_, volume);
  sys::WideDeleteFile(file);
}

// Bytes free on the drive that holds `name` (the free space of the disk
// in it); what cannot be told is taken for a full disk.
std::int64_t TZAVolumeLayout::FreeOnDisk(const std::u16string& name) const {
  std::int64_t free = sys::WideFreeSpace(ZAFolderOf(name));
  return free < 0 ? 0 : free;
}

// Copies a complete volume onto the disk in the drive as `name`, through a
// new file there that replaces an old one only when complete. A disk too
// full for it is reported to OnDiskFull (or the user), who may free space
// or change the disk and have it written again.
void TZAVolumeLayout::PutOnDisk(const std::u16string& volumeFile, const std::u16string& name,
                                std::int32_t volume) const {
  TZABaseArchiver& a = state_.Component();
  for (;;) {
    std::u16string temp;
    try {
      TZAFileStream from(volumeFile, fmOpenRead | fmShareDenyWrite);
      std::unique_ptr<TZAStream> to;
      temp = transaction_.CreateTemp(ZAFolderOf(name), to);
      {
        TZAOutput out(*to);
        ZACopyBytes(from, static_cast<std::uint64_t>(from.Size()),
                    [&](const std::uint8_t* data, std::size_t n) { out.Write(data, n); });
        out.Flush();
      }
      ZAFlushFile(*to);
      to.reset();
      if (!sys::WideReplaceFile(temp, name)) throw EZAException(neCannotCreateFile, &a, {name});
      return;
    } catch (const EWriteError&) {
      if (!temp.empty()) sys::WideDeleteFile(temp);
      bool cancel = false;
      if (a.OnDiskFull)
        a.OnDiskFull(&a, volume + 1, name, cancel);
      else
        cancel = !a.Dialogs().ConfirmVolume(ZAFormat(
            u"Disk #%d is full. Please make room on it or insert another blank disk", {std::int64_t{volume} + 1}));
      if (cancel) throw;
    } catch (...) {
      if (!temp.empty()) sys::WideDeleteFile(temp);
      throw;
    }
  }
}

}  // namespace za
