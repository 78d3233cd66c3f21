#include "volume_sink.h"

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

}  // namespace

// ---- numbered pieces

void TZAVolumeLayout::InstallPieces(std::unique_ptr<TZAStream> out, const std::u16string& temp) const {
  const TZABaseArchiver& a = state_.Component();
  const TZASpanningOptions& options = a.SpanningOptions();
  const std::u16string target = a.FileName();
  std::int64_t size = options.VolumeSizeBytes();
  std::int64_t first = options.FirstVolumeSize > 0 ? options.FirstVolumeSize : size;
  std::vector<std::u16string> pieces;
  try {
    if (!options.AdvancedNaming || size <= 0)
      throw Exception(u"Split archives are written with AdvancedNaming and a volume size");
    std::int64_t total = out->Size();
    out->SetPosition(0);
    for (std::int64_t done = 0; done < total;) {
      std::int64_t n = std::min((pieces.empty() ? first : size), total - done);
      std::unique_ptr<TZAStream> piece;
      pieces.push_back(transaction_.CreateTemp(ZAFolderOf(target), piece));
      TZAOutput w(*piece);
      ZACopyBytes(*out, static_cast<std::uint64_t>(n), [&](const std::uint8_t* data, std::size_t k) { w.Write(data, k); });
      w.Flush();
      ZAFlushFile(*piece);
      done += n;
    }
  } catch (...) {
    transaction_.DropLayout(out, temp, pieces);
    throw;
  }
  transaction_.ReleaseForLayout(out, temp);
  // The empty file the new archive was opened as has no place beside its pieces.
  if (sys::WideFileExists(target)) {
    sys::WideDirEntry info;
    if (sys::WideStat(target, info) && info.Size == 0) sys::WideDeleteFile(target);
  }
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    std::u16string name = ZANumberedVolumeName(target, static_cast<std::int32_t>(i));
    if (!sys::WideReplaceFile(pieces[i], name)) {
      for (std::size_t k = i; k < pieces.size(); ++k) sys::WideDeleteFile(pieces[k]);
      throw EZAException(neCannotCreateFile, &a, {name});
    }
  }
}

// ---- volumes cut between records

// The volumes of a split set as they are written: each a new file, none
// larger than its volume size; they take their names only once all of
// them are complete (a spanned one is put on its disk as soon as it is).
class TZAVolumeLayout::Volumes {
 public:
  // `spanned`: each volume is put on its own blank disk as `target` once
  // complete; a size below 0 takes what is free on each disk.
  Volumes(const TZAVolumeLayout& layout, std::u16string folder, std::int64_t first, std::int64_t size, bool spanned,
          std::u16string target)
      : layout_(layout), folder_(std::move(folder)), first_(first), size_(size), spanned_(spanned),
        disk_(std::move(target)) {
    Begin();
  }
  ~Volumes() {
    out_.reset();
    file_.reset();
    for (const std::u16string& name : names_)
      if (!name.empty()) sys::WideDeleteFile(name);
  }

  std::uint32_t Disk() const { return static_cast<std::uint32_t>(names_.size() - 1); }
  std::uint64_t Position() const { return out_->Position(); }
  std::uint64_t Room() const { return limit_ - std::min(limit_, Position()); }
  TZAOutput& Current() { return *out_; }

  // Begins a new volume unless `count` bytes fit in what is left of this
  // one (or it is empty): records stay whole where they can.
  void Reserve(std::uint64_t count) {
    if (count > Room() && Position() > 0) Next();
  }
  // Bytes that may run over into the next volumes.
  void Write(const std::uint8_t* data, std::uint64_t count) {
    while (count > 0) {
      if (Room() == 0) Next();
      std::uint64_t n = std::min(count, Room());
      out_->Write(data, static_cast<std::size_t>(n));
      data += n;
      count -= n;
    }
  }
  void Copy(TZAStream& source, std::uint64_t count) {
    ZACopyBytes(source, count, [this](const std::uint8_t* data, std::size_t n) { Write(data, n); });
  }
  // Completes the last volume; the caller names the files and owns them now.
  std::vector<std::u16string> Finish() {
    Close();
    return std::move(names_);
  }

 private:
  void Begin() {
    // Disk numbers are 16-bit in the end record and the central headers.
    if (names_.size() >= 0xFFFF) throw Exception(u"Too many volumes for a split archive");
    const std::int32_t volume = static_cast<std::int32_t>(names_.size());
    std::int64_t limit = volume == 0 ? first_ : size_;
    if (spanned_ && volume > 0) {
      layout_.RequestBlankDisk(volume, disk_);
      if (limit < 0) limit = layout_.FreeOnDisk(disk_);
    }
    // Room for a local header and a little data at the least.
    limit_ = static_cast<std::uint64_t>(std::max<std::int64_t>(limit, 64));
    names_.push_back(layout_.transaction_.CreateTemp(folder_, file_));
    out_ = std::make_unique<TZAOutput>(*file_);
  }
  void Close() {
    out_->Flush();
    ZAFlushFile(*file_);
    out_.reset();
    file_.reset();
    if (spanned_) {
      layout_.PutOnDisk(names_.back(), disk_, static_cast<std::int32_t>(names_.size()) - 1);
      sys::WideDeleteFile(names_.back());
      names_.back().clear();
    }
  }
  void Next() {
    Close();
    Begin();
  }

  const TZAVolumeLayout& layout_;
  std::u16string folder_;
  std::int64_t first_, size_;
  bool spanned_;
  std::u16string disk_;  // the name on the disk in the drive
  std::uint64_t limit_ = 0;
  std::vector<std::u16string> names_;
  std::unique_ptr<TZAStream> file_;
  std::unique_ptr<TZAOutput> out_;
};

void TZAVolumeLayout::InstallSplit(std::unique_ptr<TZAStream> out, const std::u16string& temp,
                                   TZAWrittenArchive written, bool spanned) const {
  const TZABaseArchiver& a = state_.Component();
  const TZASpanningOptions& options = a.SpanningOptions();
  const std::u16string target = a.FileName();
  const std::int64_t size = options.VolumeSizeBytes();
  std::int64_t first = options.FirstVolumeSize > 0 ? options.FirstVolumeSize : size;
  std::vector<std::u16string> volumes;
  try {
    if (size <= 0 && !spanned) throw Exception(u"Split archives need a volume size");
    // The first disk is in the drive: what it can take bounds its volume.
    if (spanned && first < 0) first = FreeOnDisk(target);
    const std::uint64_t prefix = written.LocalAt.empty() ? written.End.DirectoryOffset : written.LocalAt.front();
    if (prefix > static_cast<std::uint64_t>(first)) throw EZAException(neSFXStubTooLarge, &a);
    if (first < 64) throw Exception(u"The first volume is too small for a split archive");
    const bool several = out->Size() > first;
    if (!several && !spanned) {
      transaction_.InstallFile(std::move(out), temp);
      return;
    }
    // Spanned volumes are made away from the drive, then put on their disks.
    std::u16string folder = !spanned              ? ZAFolderOf(target)
                            : !a.TempDir().empty() ? a.TempDir()
                                                   : sys::WideTempFolder();
    Volumes split(*this, folder, first, size, spanned, target);
    LayOut(*out, split, written, prefix, several);
    volumes = split.Finish();
  } catch (...) {
    transaction_.DropLayout(out, temp, volumes);
    throw;
  }
  transaction_.ReleaseForLayout(out, temp);
  if (spanned) return;  // each disk has its volume already
  const std::int32_t last = static_cast<std::int32_t>(volumes.size()) - 1;
  for (std::int32_t i = 0; i <= last; ++i) {
    std::u16string name = i == last ? target : ZASplitVolumeName(target, i, last);
    if (!sys::WideReplaceFile(volumes[static_cast<std::size_t>(i)], name)) {
      for (std::int32_t k = i; k <= last; ++k) sys::WideDeleteFile(volumes[static_cast<std::size_t>(k)]);
      throw EZAException(neCannotCreateFile, &a, {name});
    }
  }
}

void TZAVolumeLayout::LayOut(TZAStream& out, Volumes& split, TZAWrittenArchive& written, std::uint64_t prefix,
                             bool several) const {
  out.SetPosition(0);
  if (prefix > 0 || !several) {
    split.Copy(out, prefix);
  } else {
    std::uint8_t signature[4];
    PutU32(signature, kDataDescriptorSignature);
    split.Write(signature, sizeof signature);
  }
  std::vector<TZAPlannedEntry>& entries = written.Entries;
  std::vector<std::uint32_t> disks(entries.size());
  std::vector<std::uint64_t> offsets(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::uint64_t at = written.LocalAt[i];
    const std::uint64_t next = i + 1 < entries.size() ? written.LocalAt[i + 1] : written.End.DirectoryOffset;
    split.Reserve(written.LocalSize[i]);
    disks[i] = split.Disk();
    offsets[i] = split.Position();
    out.SetPosition(static_cast<std::int64_t>(at));
    split.Copy(out, next - at);
  }

  TZAEndOfDirectory end = written.End;
  std::uint64_t directorySize = 0;
  std::uint32_t countedDisk = 0;
  std::uint64_t counted = 0;  // central headers that start on countedDisk
  for (std::size_t i = 0; i < entries.size(); ++i) {
    TZAPlannedEntry& e = entries[i];
    e.Header.DiskNumberStart = static_cast<std::uint16_t>(disks[i]);
    if (e.Header.LocalHeaderOffset == 0xFFFFFFFF)
      PatchZip64Offset(e, offsets[i]);
    else
      e.Header.LocalHeaderOffset = static_cast<std::uint32_t>(offsets[i]);
    TZAMemoryStream memory;
    {
      TZAOutput w(memory);
      ZAWriteCentralHeader(w, e.Header, e.Name, e.Extra, e.Comment);
      w.Flush();
    }
    split.Reserve(memory.Data().size());
    if (i == 0) {
      end.DirectoryDisk = split.Disk();
      end.DirectoryOffset = split.Position();
    }
    const std::uint32_t disk = split.Disk();
    if (disk != countedDisk) counted = 0;
    countedDisk = disk;
    ++counted;
    split.Write(memory.Data().data(), memory.Data().size());
    directorySize += memory.Data().size();
  }
  if (entries.empty()) {
    end.DirectoryDisk = split.Disk();
    end.DirectoryOffset = split.Position();
  }
  end.DirectorySize = directorySize;
  const std::uint64_t tail =
      (written.Zip64 ? Zip64EndOfCentralDirectory::kSize + Zip64EndOfCentralDirectoryLocator::kSize : 0) +
      EndOfCentralDirectory::kSize + std::min<std::size_t>(end.Comment.size(), 0xFFFF);
  split.Reserve(tail);
  if (split.Room() < tail) throw Exception(u"The volume size is too small for the end of the central directory");
  end.ThisDisk = split.Disk();
  end.EntriesOnThisDisk = countedDisk == end.ThisDisk ? counted : 0;
  ZAWriteEndOfDirectory(split.Current(), end, written.Zip64);
}

// ---- spanned disks

// Bytes free on the drive that holds `name` (the free space of the disk
// in it); what cannot be told is taken for a full disk.
std::int64_t TZAVolumeLayout::FreeOnDisk(const std::u16string& name) const {
  std::int64_t free = sys::WideFreeSpace(ZAFolderOf(name));
  return free < 0 ? 0 : free;
}

// Asks for the blank disk of `volume` (0 for the first); `name` may be
// changed by the handler. A refusal ends the commit with an error.
void TZAVolumeLayout::RequestBlankDisk(std::int32_t volume, std::u16string& name) const {
  TZABaseArchiver& a = state_.Component();
  bool cancel = false;
  if (a.OnRequestBlankVolume)
    a.OnRequestBlankVolume(&a, volume + 1, name, cancel);
  else
    cancel = !a.Dialogs().ConfirmVolume(ZAFormat(u"Please insert blank disk #%d", {std::int64_t{volume} + 1}));
  if (cancel) throw Exception(u"Writing the spanned archive was cancelled");
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
