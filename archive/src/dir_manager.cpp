#include "archive/dir_manager.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "archive/byte_reader.h"
#include "archive/errors.h"
#include "archive/stream.h"
#include "entry_reader.h"
#include "sys/codepage.h"

namespace za {

namespace {

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates
// or values past U+10FFFF) and not plain ASCII, which reads the same in
// every code page.
bool WellFormedNonAsciiUtf8(const std::uint8_t* p, std::size_t n) {
  bool wide = false;
  for (std::size_t i = 0; i < n;) {
    std::uint8_t b = p[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    std::size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    if (len == 0 || b > 0xF4 || n - i < len) return false;
    std::uint8_t lo = 0x80, hi = 0xBF;  // the second byte's range
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
    if (p[i + 1] < lo || p[i + 1] > hi) return false;
    for (std::size_t k = 2; k < len; ++k)
      if ((p[i + k] & 0xC0) != 0x80) return false;
    i += len;
    wide = true;
  }
  return wide;
}

constexpr std::int64_t kEndSearchWindow = 65600;  // 0x10040
// The central directory is read in bulk, a window at a time: one read for
// any directory of up to some 15,000 entries, bounded memory for larger ones.
constexpr std::size_t kDirectoryWindow = 1u << 20;

// Sequential reader from `start` through one bulk buffer, refilled only when
// a directory is larger than the window: up to `end`, or with `end` < 0 up
// to where the stream gives out (the directory of a multi-volume archive
// runs on into the next volume). Take(n) gives n contiguous bytes or raises
// EReadError, as a read past the end would.
class TZAReadWindow {
 public:
  TZAReadWindow(TZAStream& stream, std::int64_t start, std::int64_t end)
      : stream_(stream), bufStart_(start), end_(end) {
    if (stream.Seek(start, TZASeekOrigin::soBeginning) != start) throw EReadError();
    std::int64_t region = end < 0 ? static_cast<std::int64_t>(kDirectoryWindow) : std::max<std::int64_t>(end - start, 0);
    buf_.resize(static_cast<std::size_t>(std::min<std::int64_t>(region, kDirectoryWindow)));
    Fill();
  }
  const std::uint8_t* Take(std::size_t n) {
    if (len_ - cur_ >= n) {
      const std::uint8_t* p = buf_.data() + cur_;
      cur_ += n;
      return p;
    }
    if (end_ >= 0 && static_cast<std::uint64_t>(end_ - Position()) < n) throw EReadError();
    // Move what is left to the front and read on.
    std::memmove(buf_.data(), buf_.data() + cur_, len_ - cur_);
    bufStart_ += static_cast<std::int64_t>(cur_);
    len_ -= cur_;
    cur_ = 0;
    if (buf_.size() < n) buf_.resize(n);
    Fill();
    if (len_ < n) throw EReadError();
    cur_ = n;
    return buf_.data();
  }
  // Meaningful until the reading has moved on to another volume.
  std::int64_t Position() const { return bufStart_ + static_cast<std::int64_t>(cur_); }

 private:
  // The stream stays where the last fill left it: reading is sequential,
  // which is also how a read crosses from one volume into the next.
  void Fill() {
    std::int64_t want = static_cast<std::int64_t>(buf_.size() - len_);
    if (end_ >= 0) want = std::min(want, end_ - (bufStart_ + static_cast<std::int64_t>(len_)));
    if (want <= 0) return;
    std::int64_t got = stream_.Read(buf_.data() + len_, want);
    if (got > 0) len_ += static_cast<std::size_t>(got);
  }
  TZAStream& stream_;
  std::vector<std::uint8_t> buf_;
  std::int64_t bufStart_;
  std::int64_t end_;
  std::size_t cur_ = 0, len_ = 0;
};

// The number of the last volume: the end record's number of its own disk,
// or when that holds 0xFFFF the Zip64 locator's count of disks less one.
std::int32_t LastVolume(const EndOfCentralDirectory& end, const Zip64EndOfCentralDirectoryLocator* locator) {
  if (end.DiskNumber != 0xFFFF) return end.DiskNumber;
  if (!locator || locator->TotalDisks == 0) return 0;
  return static_cast<std::int32_t>(std::min<std::uint32_t>(locator->TotalDisks - 1, 0x7FFFFFFF));
}

}  // namespace

TZADirManager::TZADirManager(TZAStream* archiveStream, const TZADirOptions& options, bool createMode,
                             bool isCustomStream, TZAVolumeSwitch switchVolume)
    : ArchiveStream(archiveStream),
      CreateMode(createMode),
      IsCustomStream(isCustomStream),
      Options(options),
      SwitchVolume(std::move(switchVolume)) {
  ResetEndRecord();
  if (createMode) {
    VolumeInfo.VolumeKind = TZAVolumeNumberInfo::vnFirst;
    VolumeInfo.VolumeNumber = 0;
  }
}

// Volume by volume: split files or spanned disks. Pieces cut from one
// archive at arbitrary bytes are read as the one archive they make.
bool TZADirManager::Spanning() const { return !IsCustomStream && Options.MultiVolume; }

void TZADirManager::ResetEndRecord() {
  Items.SetCount(0);
  EndRecord = EndOfCentralDirectory{};
  EndRecord.Signature = kEndRecordSignature;
}

bool TZADirManager::ReadAt(std::int64_t position, void* buffer, std::size_t count) {
  if (position < 0 || ArchiveStream->Seek(position, TZASeekOrigin::soBeginning) != position) return false;
  return ArchiveStream->Read(buffer, static_cast<std::int64_t>(count)) == static_cast<std::int64_t>(count);
}

bool TZADirManager::FindEndRecord(std::uint32_t signature, std::int64_t& position, EndOfCentralDirectory& record,
                                  std::string& comment) {
  comment.clear();
  record = EndOfCentralDirectory{};
  position = -1;
  TZAPositionGuard guard(*ArchiveStream);
  std::int64_t size = ArchiveStream->Size();
  std::int64_t window = std::min(size, kEndSearchWindow);
  if (window < 4) return false;
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(window));
  std::int64_t base = size - window;
  if (!ReadAt(base, buf.data(), buf.size())) throw EReadError();
  std::uint8_t sig[4];
  PutU32(sig, signature);
  // With zero padding accepted, a record may end anywhere from the last
  // byte that is not zero on (a pipe's block padding, as tar writes it).
  std::int64_t used = window;
  if (Options.PaddedEndRecord)
    while (used > 0 && buf[static_cast<std::size_t>(used - 1)] == 0) --used;
  for (std::int64_t c = window - 4; c >= 0; --c) {
    const std::uint8_t* p = buf.data() + c;
    if (p[0] != sig[0] || std::memcmp(p, sig, 4) != 0) continue;
    std::int64_t after = window - c;  // bytes from the candidate on
    if (after < static_cast<std::int64_t>(EndOfCentralDirectory::kSize)) continue;
    std::int64_t end = c + static_cast<std::int64_t>(EndOfCentralDirectory::kSize) + GetU16(p + 20);
    if (end != window && (end > window || end < used)) continue;
    record.Parse(p);
    position = base + c;
    if (record.CommentLength)
      comment.assign(reinterpret_cast<const char*>(p + EndOfCentralDirectory::kSize), record.CommentLength);
    return true;
  }
  return false;
}

bool TZADirManager::CheckEndRecord() {
  scanStart_ = -1;
  bool found = FindEndRecord(kEndRecordSignature, EndRecordPosition, EndRecord, ZipComment);
  return Options.Repair ? true : found;
}

std::int32_t TZADirManager::EndRecordLastVolume() {
  if (EndRecordPosition < 0) return 0;
  if (EndRecord.DiskNumber != 0xFFFF) return EndRecord.DiskNumber;
  constexpr auto kLocator = static_cast<std::int64_t>(Zip64EndOfCentralDirectoryLocator::kSize);
  std::uint8_t buf[Zip64EndOfCentralDirectoryLocator::kSize];
  if (EndRecordPosition < kLocator || !ReadAt(EndRecordPosition - kLocator, buf, sizeof buf)) return 0;
  Zip64EndOfCentralDirectoryLocator locator;
  locator.Parse(buf);
  return LastVolume(EndRecord, locator.Signature == kZip64LocatorSignature ? &locator : nullptr);
}


bool TZADirManager::PrintableAsciiKept() {
  std::string printable;
  for (char c = 0x20; c < 0x7F; ++c) printable.push_back(c);
  std::string bytes = printable;
  if (Options.OemNames) sys::OemToAnsiInPlace(bytes.data(), bytes.size());
  std::u16string wide;
  sys::AnsiToWide(bytes, wide);
  return wide == std::u16string(printable.begin(), printable.end());
}

bool TZADirManager::ReadsAsItsBytes(const std::uint8_t* name, std::size_t length) const {
  if (!printableKept_) return false;
  // Every byte is looked at, without a branch for each, so that the test
  // of a million names goes many bytes at a time.
  std::uint8_t highest = 0;  // of the bytes counted from 0x20 on, those below wrapping round
  for (std::size_t i = 0; i < length; ++i) highest = std::max<std::uint8_t>(highest, name[i] - 0x20);
  return highest < 0x7F - 0x20;
}

void TZADirManager::DecodeName(const std::uint8_t* name, std::size_t length, std::uint16_t flags,
                               std::uint16_t madeBy) {
  // Every reading of such a name gives its bytes back: UTF-8 or not, the
  // flag and the guess decide nothing.
  if (ReadsAsItsBytes(name, length)) {
    lastGuess_ = NameGuess::None;
    wideName_.resize(length);
    for (std::size_t i = 0; i < length; ++i) wideName_[i] = name[i];
    return;
  }
  nameBuffer_.assign(reinterpret_cast<const char*>(name), reinterpret_cast<const char*>(name) + length);
  nameBuffer_.push_back('\0');
  // Zip on Unix stores the bytes of the file name as they are, which today
  // means UTF-8, and seldom sets the flag; unzip, 7z and bsdtar show such
  // names as UTF-8. Names from DOS and Windows hosts stay code-page text.
  lastGuess_ = NameGuess::None;
  if (Options.Utf8FlagNames && !(flags & kUtf8NameFlag) && MadeOnUnix(madeBy) &&
      std::any_of(name, name + length, [](std::uint8_t b) { return b >= 0x80; }))
    lastGuess_ = WellFormedNonAsciiUtf8(name, length) && !notUtf8_ ? NameGuess::Utf8 : NameGuess::NotUtf8;
  bool utf8 = Options.Utf8FlagNames && ((flags & kUtf8NameFlag) || lastGuess_ == NameGuess::Utf8);
  if (!utf8 && Options.OemNames) sys::OemToAnsiInPlace(nameBuffer_.data(), length);
  std::size_t n = std::strlen(nameBuffer_.data());  // an embedded zero byte ends the name
  std::string_view bytes(nameBuffer_.data(), n);
  if (utf8)
    wideName_ = sys::Utf8ToWide(bytes);
  else
    sys::AnsiToWide(bytes, wideName_);
}

void TZADirManager::DecodeStoredName(std::int32_t index, const std::uint8_t* name, std::size_t length,
                                     std::uint16_t flags, std::uint16_t madeBy) {
  if (length == 0) {
    Items.SetName(index, std::u16string_view());
    return;
  }
  // Nearly every name of a million: kept in the bytes it was read from,
  // with no pass through UTF-16.
  if (ReadsAsItsBytes(name, length)) {
    lastGuess_ = NameGuess::None;
    Items.SetNarrowName(index, std::string_view(reinterpret_cast<const char*>(name), length));
    return;
  }
  DecodeName(name, length, flags, madeBy);
  Items.SetName(index, wideName_);
  if (lastGuess_ == NameGuess::Utf8) guessedUtf8_.push_back(index);
  if (lastGuess_ == NameGuess::NotUtf8) notUtf8_ = true;
}

void TZADirManager::ReadGuessesThroughCodePages() {
  // A name read as UTF-8 turns back into its stored bytes exactly.
  for (std::int32_t index : guessedUtf8_) {
    std::string bytes = sys::WideToUtf8(Items.GetItem(index).EntryName.str());
    if (Options.OemNames) sys::OemToAnsiInPlace(bytes.data(), bytes.size());
    sys::AnsiToWide(bytes, wideName_);
    Items.SetName(index, wideName_);
  }
  guessedUtf8_.clear();
}

void TZADirManager::WalkExtraField(std::int32_t index, const std::uint8_t* extra, std::size_t length) {
  if (length == 0) return;
  TDirItem& item = Items.ItemAt(index);
  item.HasZip64Info = false;
  item.ExtraFields.Clear();
  item.ExtraFields.Reserve(length);
  ByteReader field(extra, length);
  // A trailing fragment shorter than a block header is dropped.
  while (field.Remaining() >= 4) {
    std::uint16_t tag = field.U16();
    std::size_t size = field.U16();
    if (size > field.Remaining()) size = field.Remaining();  // cut to what the field holds
    const std::uint8_t* data = field.Bytes(size);
    item.ExtraFields.Add(tag, data, static_cast<std::uint16_t>(size));
    ByteReader block(data, size);
    if (tag == kZip64ExtraTag) {
      // Values are present only for the fixed fields that hold all ones; one
      // cut by the end of the block is not taken, nor any after it.
      auto take = [&block](auto&& out, std::size_t bytes) {
        if (block.Remaining() == 0) return;
        std::uint64_t v = bytes == 8 ? block.U64() : block.U16();
        if (block.Ok()) out = v;
      };
      if (item.Header.UncompressedSize == 0xFFFFFFFF) take(item.Zip64UncompressedSize, 8);
      if (item.Header.CompressedSize == 0xFFFFFFFF) take(item.Zip64CompressedSize, 8);
      if (item.Header.LocalHeaderOffset == 0xFFFFFFFF) take(item.Zip64LocalHeaderOffset, 8);
      if (item.Header.DiskNumberStart == 0xFFFF) {
        std::uint64_t disk = item.Zip64DiskStart;
        take(disk, 2);  // the low half of the 4-byte field
        item.Zip64DiskStart = static_cast<std::uint32_t>(disk);
      }
      item.HasZip64Info = true;
    } else if (tag == kUnicodeNameExtraTag) {
      TUnicodeExtendedInfo info;
      if (info.ParseBlock(data, size)) {
        Items.SetName(index, info.Name);
        if (!guessedUtf8_.empty() && guessedUtf8_.back() == index) guessedUtf8_.pop_back();
      }
    } else if (tag == kAesExtraTag && item.Header.VersionNeeded < kNoAesVersion) {
      block.U16();  // vendor version
      block.U16();  // vendor identifier
      std::uint8_t strength = block.U8();
      std::uint16_t method = block.U16();
      if (block.Ok()) {
        if (strength == 1) item.CryptoAlgorithm = caAES_128;
        if (strength == 2) item.CryptoAlgorithm = caAES_192;
        if (strength == 3) item.CryptoAlgorithm = caAES_256;
        item.ActualMethod = method;
      }
    }
  }
}

void TZADirManager::ReadCentralDirectory(std::int64_t start, std::uint32_t count) {
  // The bytes of a directory spread over volumes are not known in advance:
  // entries are then made as their headers arrive, so a count that lies
  // costs no more memory than the bytes that back it.
  bool spread = Spanning();
  // Kept entries, like those of a spread directory, are made as they come.
  const bool keepSome = static_cast<bool>(Options.KeepEntry);
  const bool grow = spread || keepSome;
  EntriesLeftOut = 0;
  HeaderOrder = TZAHeaderOrder{};
  Items.SetCount(grow ? 0 : static_cast<std::int32_t>(count));
  TZAReadWindow window(*ArchiveStream, start, spread ? -1 : ArchiveStream->Size());
  guessedUtf8_.clear();
  notUtf8_ = false;
  printableKept_ = PrintableAsciiKept();
  std::u16string keptName;
  for (std::uint32_t k = 0; k < count; ++k) {
    std::int32_t i = static_cast<std::int32_t>(k - EntriesLeftOut);
    if (k == 0) DirectoryStart = window.Position();
    const std::uint8_t* header = window.Take(CentralDirectoryHeader::kSize);
    if (grow) Items.SetCount(i + 1);
    TDirItem& item = Items.ItemAt(i);
    item.Header.Parse(header);
    item.ActualMethod = item.Header.Method;
    if ((item.Header.Flags & 1) && item.Header.VersionNeeded < kNoAesVersion) item.CryptoAlgorithm = caPkzipClassic;
    DecodeStoredName(i, window.Take(item.Header.NameLength), item.Header.NameLength, item.Header.Flags,
                     item.Header.VersionMadeBy);
    WalkExtraField(i, window.Take(item.Header.ExtraLength), item.Header.ExtraLength);
    if (item.Header.CommentLength)
      item.Comment = std::string_view(reinterpret_cast<const char*>(window.Take(item.Header.CommentLength)),
                                      item.Header.CommentLength);
    if (keepSome && !Options.KeepEntry(item.EntryName.ViewIn(keptName))) {
      Items.DropLast();
      ++EntriesLeftOut;
    } else if (item.PackedSize() > 0) {
      HeaderOrder.Take(TZAEntryReader::StartKey(0, item.LocalOffset()),
                       TZAEntryReader::StartKey(TZAEntryReader::GivenVolume(*this, item), item.LocalOffset()));
    }
  }
  if (notUtf8_) ReadGuessesThroughCodePages();
  std::vector<std::int32_t>().swap(guessedUtf8_);
}

bool TZADirManager::ReadZip64EndRecord(std::int64_t position) {
  std::uint8_t buf[Zip64EndOfCentralDirectory::kSize];
  if (!ReadAt(position, buf, sizeof buf)) return false;
  Zip64EndRecord.Parse(buf);
  return true;
}

void TZADirManager::FindZip64End(std::int64_t& p) {
  if (p > static_cast<std::int64_t>(Zip64EndOfCentralDirectoryLocator::kSize)) {
    std::uint8_t buf[Zip64EndOfCentralDirectoryLocator::kSize];
    if (!ReadAt(p - static_cast<std::int64_t>(Zip64EndOfCentralDirectoryLocator::kSize), buf, sizeof buf)) throw EReadError();
    Zip64Locator.Parse(buf);
    if (Zip64Locator.Signature == kZip64LocatorSignature) {
      HasZip64End = true;
      p -= static_cast<std::int64_t>(Zip64EndOfCentralDirectoryLocator::kSize);
    }
  }
  if (HasZip64End) {
    if (Spanning() && SwitchVolume) {
      // In a multi-volume archive the Zip64 end record may lie on an earlier
      // volume than its locator, at an offset within that volume.
      if (Zip64Locator.EndRecordDisk > static_cast<std::uint32_t>(LastVolume(EndRecord, &Zip64Locator)))
        throw EZAException(neNoZip64End, nullptr);
      ArchiveStream = SwitchVolume(static_cast<std::int32_t>(Zip64Locator.EndRecordDisk));
      std::uint64_t named = Zip64Locator.EndRecordOffset;
      if (named > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ||
          !ReadZip64EndRecord(static_cast<std::int64_t>(named)))
        throw EReadError();
      if (Zip64EndRecord.Signature != kZip64EndRecordSignature) throw EZAException(neNoZip64End, nullptr);
    } else {
      if (!(p > static_cast<std::int64_t>(Zip64EndOfCentralDirectory::kSize))) throw EZAException(neNoZip64End, nullptr);
      std::int64_t inFront = p - static_cast<std::int64_t>(Zip64EndOfCentralDirectory::kSize);
      std::uint64_t named = Zip64Locator.EndRecordOffset;
      bool readable = named <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) &&
                      ReadZip64EndRecord(static_cast<std::int64_t>(named));
      // A stub put in front of the archive without adjusting its offsets makes
      // the locator name a position that does not count the stub; the record
      // then lies directly in front of the locator, where it is taken to be.
      bool found = readable && Zip64EndRecord.Signature == kZip64EndRecordSignature;
      if (!found) found = ReadZip64EndRecord(inFront) && Zip64EndRecord.Signature == kZip64EndRecordSignature;
      if (!found && !readable) throw EReadError();
      if (!found) throw EZAException(neNoZip64End, nullptr);
      p = inFront;
    }
  }
}

bool TZADirManager::LocateDirectory(std::int64_t p, std::int64_t& start, std::uint64_t& count) {
  std::int64_t dirVolume = EndRecord.StartDiskNumber != 0xFFFF ? EndRecord.StartDiskNumber
                           : HasZip64End                        ? Zip64EndRecord.StartDiskNumber
                                                                : 0;
  std::int64_t lastVolume = LastVolume(EndRecord, HasZip64End ? &Zip64Locator : nullptr);
  VolumeInfo.VolumeNumber = static_cast<std::int32_t>(std::min<std::int64_t>(dirVolume, 0x7FFFFFFF));
  VolumeInfo.LastVolumeNumber = static_cast<std::int32_t>(lastVolume);
  if (Spanning() && SwitchVolume) {
    // A directory said to start after the last volume is not there to read.
    if (dirVolume > lastVolume) return false;
    ArchiveStream = SwitchVolume(VolumeInfo.VolumeNumber);
  }

  // Where the central directory starts and how many headers it holds. A
  // count that cannot fit in the bytes in front of the end structures (or,
  // spread over volumes, in the directory's stated size) makes the directory
  // unreadable; nothing is allocated for it.
  std::uint64_t dirSize = HasZip64End ? Zip64EndRecord.CentralDirSize : EndRecord.CentralDirSize;
  std::uint64_t dirOffset = HasZip64End ? Zip64EndRecord.CentralDirOffset : EndRecord.CentralDirOffset;
  count = HasZip64End ? static_cast<std::uint32_t>(Zip64EndRecord.EntriesTotal) : EndRecord.EntriesTotal;
  std::int64_t size = ArchiveStream->Size();
  start = -1;
  std::uint64_t room = 0;
  if (Spanning()) {
    if (dirOffset <= static_cast<std::uint64_t>(size)) {
      start = static_cast<std::int64_t>(dirOffset);
      room = dirSize;
    }
  } else if (dirSize <= static_cast<std::uint64_t>(p)) {
    start = p - static_cast<std::int64_t>(dirSize);
    room = static_cast<std::uint64_t>(p - start);
  }
  return start >= 0 && count <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) &&
         count * CentralDirectoryHeader::kSize <= room;
}

void TZADirManager::LoadDirectory() {
  HeaderOrder = TZAHeaderOrder{};
  VolumeInfo = TZAVolumeNumberInfo{};
  ResetEndRecord();
  PrefixLength = 0;
  HasZip64End = false;
  Rebuilt = false;
  DirectoryStart = 0;
  Zip64Locator = Zip64EndOfCentralDirectoryLocator{};
  Zip64EndRecord = Zip64EndOfCentralDirectory{};
  scanStart_ = -1;

  std::int64_t p;
  EndOfCentralDirectory found;
  if (!FindEndRecord(kEndRecordSignature, p, found, ZipComment)) {
    RebuildFromLocalHeaders();
    return;
  }
  EndRecord = found;

  FindZip64End(p);
  if (!HasZip64End && EndRecord.EntriesTotal == 0xFFFF) {
    RebuildFromLocalHeaders();
    return;
  }

  std::int64_t start;
  std::uint64_t count;
  if (!LocateDirectory(p, start, count)) {
    RebuildFromLocalHeaders();
    return;
  }

  try {
    ReadCentralDirectory(start, static_cast<std::uint32_t>(count));
  } catch (const std::exception&) {
    Items.Clear();
    RebuildFromLocalHeaders();
    return;
  }
  // Offsets moved for a prefix may no longer keep their order: the reader
  // then finds it for itself.
  HeaderOrder.Known = true;
  HeaderOrder.Changes = Items.Changes();

  if (VolumeInfo.LastVolumeNumber == 0) {
    DetectPrefix(p);
    for (std::int32_t i = 0; i < Items.Count(); ++i) {
      const TDirItem& item = Items.GetItem(i);
      if (item.Header.CompressedSize == 0) continue;
      if (item.Header.LocalHeaderOffset < static_cast<std::uint32_t>(PrefixLength)) ApplyPrefixOffset();
      break;
    }
  }
}


}  // namespace za
