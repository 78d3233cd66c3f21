// The commit of an update: the whole archive is written anew, entries that
// did not change copied as they are stored, new ones encoded from their
// sources, into a new file (or memory) that takes the old archive's place
// only once it is complete.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>

#include "archive/archiver.h"
#include "archive/zip_ciphers.h"
#include "archive/crypto_primitives.h"
#include "archive/volumes.h"
#include "archive/writer.h"
#include "compress_ahead.h"
#include "sys/wide_dir.h"
#include "sys/codepage.h"
#include "sys/wide_file.h"

namespace za {

namespace {

struct PlannedEntry {
  CentralDirectoryHeader Header;
  std::string Name;
  std::vector<std::uint8_t> Extra;
  std::string Comment;
};

bool IsAscii(std::u16string_view s) {
  return std::all_of(s.begin(), s.end(), [](char16_t c) { return c < 0x80; });
}

std::u16string FolderOf(std::u16string_view path) {
  std::size_t cut = path.find_last_of(u"\\/");
  return cut == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, cut + 1));
}

// Copies `count` bytes of `source` from its position into `out`.
void CopyBytes(TZAStream& source, TZAOutput& out, std::uint64_t count) {
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(count, 1 << 20)) + 1);
  while (count > 0) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, buffer.size()));
    source.ReadBuffer(buffer.data(), static_cast<std::int64_t>(n));
    out.Write(buffer.data(), n);
    count -= n;
  }
}

}  // namespace

class TZACommit {
 public:
  explicit TZACommit(TZABaseArchiver& a) : a_(a) {}

  void Run() {
    bool toFile = a_.ownsStream_ && !a_.inMemory_;
    // A split archive is written whole, once: its volumes are not changed.
    const bool split = toFile && a_.SpanningMode() == smSplitting;
    // Spanned: written disk by disk into removable drives with the same name
    // on each; the whole archive is made first away from the drive, whose
    // disks are taken out.
    const bool spanned = toFile && a_.SpanningMode() == smSpanning;
    if ((split || spanned) && a_.stream_ && a_.stream_->Size() > 0) {
      a_.ReloadDirectory();
      throw EZAException(31, &a_);
    }
    std::u16string temp;
    std::unique_ptr<TZAStream> out;
    if (toFile) {
      try {
        std::u16string folder = !a_.TempDir().empty() ? a_.TempDir()
                                : spanned              ? sys::WideTempFolder()
                                                       : FolderOf(a_.FileName());
        temp = CreateTemp(folder, out);
      } catch (...) {
        a_.ReloadDirectory();
        throw;
      }
    } else {
      out = std::make_unique<TZAMemoryStream>();
    }
    bool written;
    try {
      written = WriteArchive(*out);
      if (written && toFile && !static_cast<TZAFileStream&>(*out).File().Flush()) {
        EWriteError e;
        e.SystemError = out->LastError();
        throw e;
      }
    } catch (...) {
      Abandon(out, temp);
      throw;
    }
    if (!written) {
      Abandon(out, temp);
      return;
    }
    if (split && a_.SpanningOptions().AdvancedNaming)
      InstallPieces(std::move(out), temp);
    else if (split || spanned)
      InstallSplit(std::move(out), temp, spanned);
    else if (toFile)
      InstallFile(std::move(out), temp);
    else
      InstallStream(std::move(out));
  }

 private:
  // Drops the new archive and reads the old one again: what a transaction
  // changed in the directory did not happen.
  void Abandon(std::unique_ptr<TZAStream>& out, const std::u16string& temp) {
    out.reset();
    if (!temp.empty()) sys::WideDeleteFile(temp);
    a_.ReloadDirectory();
  }

  std::u16string CreateTemp(std::u16string folder, std::unique_ptr<TZAStream>& out) {
    if (!folder.empty() && folder.back() != u'\\' && folder.back() != u'/') folder += u'\\';
    auto seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    seed ^= reinterpret_cast<std::uintptr_t>(this);
    for (int attempt = 0; attempt < 100; ++attempt) {
      char tag[32];
      std::snprintf(tag, sizeof tag, "~za%08x.tmp", static_cast<unsigned>((seed >> 7) + attempt * 2654435761u));
      std::u16string name = folder + std::u16string(tag, tag + std::char_traits<char>::length(tag));
      sys::WideFile file;
      if (file.CreateNew(name)) {
        out = std::make_unique<TZAFileStream>(std::move(file), name);
        return name;
      }
      if (sys::WideFileExists(name)) continue;
      break;
    }
    throw EZAException(19, &a_, {folder + u"~za*.tmp"});
  }

  // ---- the new archive

  bool WriteArchive(TZAStream& stream) {
    TZAOutput out(stream);
    TZADirManager& dir = *a_.dirManager_;
    TZAStream* old = a_.stream_;
    std::int64_t oldSize = old ? old->Size() : 0;
    if (!stubFile_.empty()) {
      CopyStub(out, stubFile_);
    } else if (oldSize > 0 && dir.PrefixLength > 0) {
      // A self-extractor's stub (or whatever lies in front) stays in front.
      old->SetPosition(0);
      CopyBytes(*old, out, static_cast<std::uint64_t>(std::min(dir.PrefixLength, oldSize)));
    } else if (oldSize == 0 && !a_.SFXStub().empty()) {
      CopyStub(out, a_.SFXStub());
    }

    TZADirArray& items = dir.Items;
    TZACompressAhead::Result prepared;
    std::vector<PlannedEntry> planned;
    planned.reserve(static_cast<std::size_t>(items.Count()));
    total_ = 0;
    for (std::int32_t i = 0; i < items.Count(); ++i)
      if (items.GetItem(i).IsNew) ++total_;
    done_ = 0;
    bool cancel = false;
    if (a_.OnOverallProgress) a_.OnOverallProgress(&a_, 0.0, a_.updateOperation_, ppStart, cancel);
    if (cancel) return false;
    StartAhead(items);
    for (std::int32_t i = 0; i < items.Count(); ++i) {
      TDirItem& item = items.ItemAt(i);
      std::u16string shown = item.EntryName;
      std::replace(shown.begin(), shown.end(), u'/', u'\\');
      TZAAction action;
      do {
        action = fxaIgnore;
        std::uint64_t start = out.Position();
        try {
          PlannedEntry entry;
          bool kept = !item.IsNew                ? CopyOld(out, *old, item, entry)
                      : TakeAhead(i, prepared) ? WritePrepared(out, item, shown, entry, prepared)
                                               : WriteNew(out, item, shown, entry);
          if (!kept) return false;
          planned.push_back(std::move(entry));
          localAt_.push_back(start);
          break;
        } catch (const EZAException& e) {
          out.Truncate(start);
          if (a_.OnProcessFileFailure)
            a_.OnProcessFileFailure(&a_, shown, item.IsNew ? a_.updateOperation_ : poUpdate, e.NativeError,
                                    e.ErrorCode, e.Message(), action);
          else
            action = a_.DefaultFailureAnswer(e);
          if (action == fxaAbort) return false;
        }
      } while (action == fxaRetry);
    }

    TZAEndOfDirectory end;
    end.DirectoryOffset = out.Position();
    for (const PlannedEntry& e : planned) ZAWriteCentralHeader(out, e.Header, e.Name, e.Extra, e.Comment);
    end.Entries = planned.size();
    end.DirectorySize = out.Position() - end.DirectoryOffset;
    end.VersionMadeBy = MadeBy();
    end.Comment = dir.ZipComment;
    // An empty archive has nothing for Zip64 to describe, and readers look
    // for a Zip64 end record only behind something.
    bool zip64 = (a_.zip64Mode_ == zmAlways && out.Position() > 0) || end.NeedsZip64() || EndsLikeALocator(planned);
    if (zip64 && a_.zip64Mode_ == zmDisabled) throw EZAException(43, &a_, {a_.FileName()});
    ZAWriteEndOfDirectory(out, end, zip64);
    out.Flush();
    end_ = end;
    zip64_ = zip64;
    planned_ = std::move(planned);
    if (a_.OnOverallProgress) a_.OnOverallProgress(&a_, 100.0, a_.updateOperation_, ppEnd, cancel);
    return !cancel;
  }

  // Readers take a Zip64 locator signature 20 bytes before the end record
  // for a locator. When the last central header (a comment, a name) puts
  // one there by chance, only a real locator keeps the archive readable.
  static bool EndsLikeALocator(const std::vector<PlannedEntry>& planned) {
    if (planned.empty()) return false;
    const PlannedEntry& e = planned.back();
    std::string tail;
    tail.append(e.Name).append(e.Extra.begin(), e.Extra.end()).append(e.Comment);
    std::uint8_t raw[CentralDirectoryHeader::kSize];
    e.Header.Store(raw);
    std::string whole(reinterpret_cast<const char*>(raw), sizeof raw);
    whole += tail;
    const std::size_t at = whole.size() - Zip64EndOfCentralDirectoryLocator::kSize;
    return GetU32(reinterpret_cast<const std::uint8_t*>(whole.data()) + at) == kZip64LocatorSignature;
  }

  void CopyStub(TZAOutput& out, const std::u16string& name) {
    std::unique_ptr<TZAFileStream> stub;
    try {
      stub = std::make_unique<TZAFileStream>(name, fmOpenRead | fmShareDenyWrite);
    } catch (const EStreamError&) {
      throw EZAException(33, &a_, {name});
    }
    CopyBytes(*stub, out, static_cast<std::uint64_t>(stub->Size()));
  }

  std::uint16_t MadeBy() const { return a_.Options().OEMFileNames ? 20 : 0x0B14; }
  // A new entry with a Unix file type in the high half of its attributes
  // says it was made on Unix: that is where peers look for the mode.
  std::uint16_t MadeBy(const CentralDirectoryHeader& h) const {
    if (a_.unixModesOnWrite_ && ((h.ExternalAttributes >> 16) & 0xF000))
      return static_cast<std::uint16_t>(0x0300 | (MadeBy() & 0xFF));
    return MadeBy();
  }

  // The stored bytes of a name and whether they are UTF-8 (flag bit 11).
  std::string EncodeName(const std::u16string& name, std::uint16_t& flags, bool isNew,
                         std::uint16_t madeBy = 0) const {
    if ((flags & kUtf8NameFlag) && (isNew || a_.Utf8FlagNames())) return sys::WideToUtf8(name);
    if (isNew && a_.utf8NamesOnWrite_ && !IsAscii(name)) {
      flags |= kUtf8NameFlag;
      return sys::WideToUtf8(name);
    }
    // A Unix zip's name was read as UTF-8 without the flag; written back in
    // a code page it would change under the Unix host byte it keeps.
    if (!isNew && a_.Utf8FlagNames() && MadeOnUnix(madeBy) && !IsAscii(name)) {
      flags |= kUtf8NameFlag;
      return sys::WideToUtf8(name);
    }
    return a_.Options().OEMFileNames ? sys::WideToOem(name) : sys::WideToAnsi(name);
  }

  // The blocks both headers carry beyond Zip64: the kept ones of an old
  // entry, then the Unicode name.
  void AddCommonBlocks(TZAExtraWriter& extra, const TZAExtraFields* kept, const std::u16string& name,
                       std::uint16_t flags) const {
    bool hadUnicode = false;
    if (kept)
      for (ExtraBlock b : *kept) {
        if (b.Tag == kUnicodeNameExtraTag) {
          hadUnicode = true;
          continue;
        }
        if (b.Tag != kZip64ExtraTag) extra.Add(b.Tag, b.Data, b.Size);
      }
    // A UTF-8 name needs no second copy.
    if ((a_.unicodeFilenames_ || hadUnicode) && !(flags & kUtf8NameFlag)) extra.AddUnicodeName(name);
  }

  // Central header and extra field of an entry whose data is written.
  void Plan(PlannedEntry& entry, const TDirItem& item, CentralDirectoryHeader h, std::uint64_t offset,
            std::uint64_t packed, std::uint64_t unpacked, const TZAExtraFields* kept, const std::u16string& shown) {
    bool always = a_.zip64Mode_ == zmAlways;
    bool bigSizes = always || packed >= kZip64Limit32 || unpacked >= kZip64Limit32;
    bool bigOffset = always || offset >= kZip64Limit32;
    if (a_.zip64Mode_ == zmDisabled) {
      if (bigSizes) throw EZAException(41, &a_, {shown});
      if (bigOffset) throw EZAException(43, &a_, {shown});
    }
    std::vector<std::uint64_t> values;
    values.reserve(3);
    h.UncompressedSize = bigSizes ? 0xFFFFFFFF : static_cast<std::uint32_t>(unpacked);
    h.CompressedSize = bigSizes ? 0xFFFFFFFF : static_cast<std::uint32_t>(packed);
    h.LocalHeaderOffset = bigOffset ? 0xFFFFFFFF : static_cast<std::uint32_t>(offset);
    if (bigSizes) {
      values.push_back(unpacked);
      values.push_back(packed);
    }
    if (bigOffset) values.push_back(offset);
    h.DiskNumberStart = 0;
    TZAExtraWriter extra;
    if (!values.empty()) {
      extra.AddZip64(values);
      h.VersionNeeded = static_cast<std::uint16_t>(
          (h.VersionNeeded & 0xFF00) | std::max<std::uint16_t>(h.VersionNeeded & 0xFF, kZip64Version));
    }
    entry.Name = EncodeName(item.EntryName, h.Flags, item.IsNew, h.VersionMadeBy);
    AddCommonBlocks(extra, kept, item.EntryName, h.Flags);
    if (entry.Name.size() > 0xFFFF) throw EZAException(61, &a_, {shown});
    entry.Extra = extra.Bytes();
    if (entry.Extra.size() > 0xFFFF) throw EZAException(61, &a_, {shown});
    entry.Comment = std::string(item.Comment.view().substr(0, 0xFFFF));
    h.Signature = kCentralHeaderSignature;
    h.NameLength = static_cast<std::uint16_t>(entry.Name.size());
    h.ExtraLength = static_cast<std::uint16_t>(entry.Extra.size());
    h.CommentLength = static_cast<std::uint16_t>(entry.Comment.size());
    entry.Header = h;
  }

  // The local header of an entry: the central one's shared fields, with
  // its own extra field (Zip64 sizes when `zip64`, then `tail`).
  LocalFileHeader Local(const CentralDirectoryHeader& h, const std::string& name, bool zip64,
                        std::uint64_t packed, std::uint64_t unpacked, const std::vector<std::uint8_t>& tail,
                        std::vector<std::uint8_t>& extra) const {
    LocalFileHeader l;
    static_cast<EntryHeaderFields&>(l) = h;
    l.Signature = kLocalHeaderSignature;
    TZAExtraWriter w;
    if (zip64) w.AddZip64({unpacked, packed});
    extra = w.Bytes();
    extra.insert(extra.end(), tail.begin(), tail.end());
    l.UncompressedSize = zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(unpacked);
    l.CompressedSize = zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(packed);
    l.NameLength = static_cast<std::uint16_t>(name.size());
    l.ExtraLength = static_cast<std::uint16_t>(extra.size());
    return l;
  }

  // ---- an entry as stored in the old archive

  bool CopyOld(TZAOutput& out, TZAStream& old, TDirItem& item, PlannedEntry& entry) {
    std::uint64_t offset = item.LocalOffset();
    std::uint8_t raw[LocalFileHeader::kSize];
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ||
        old.Seek(static_cast<std::int64_t>(offset), TZASeekOrigin::soBeginning) < 0 ||
        old.Read(raw, sizeof raw) != static_cast<std::int64_t>(sizeof raw))
      throw EZAException(8, &a_);
    LocalFileHeader oldLocal;
    oldLocal.Parse(raw);
    if (oldLocal.Signature != kLocalHeaderSignature) throw EZAException(8, &a_);
    // The local extra field stays as it was, but for its Zip64 and name
    // blocks, which are written anew.
    std::vector<std::uint8_t> oldExtra(oldLocal.NameLength + static_cast<std::size_t>(oldLocal.ExtraLength));
    if (!oldExtra.empty() && old.Read(oldExtra.data(), static_cast<std::int64_t>(oldExtra.size())) !=
                                 static_cast<std::int64_t>(oldExtra.size()))
      throw EZAException(8, &a_);
    TZAExtraFields localKept;
    for (std::size_t at = oldLocal.NameLength; at + 4 <= oldExtra.size();) {
      std::uint16_t tag = GetU16(&oldExtra[at]);
      std::size_t size = std::min<std::size_t>(GetU16(&oldExtra[at + 2]), oldExtra.size() - at - 4);
      localKept.Add(tag, size ? &oldExtra[at + 4] : nullptr, static_cast<std::uint16_t>(size));
      at += 4 + size;
    }
    std::uint64_t packed = item.PackedSize(), unpacked = item.UnpackedSize();
    std::uint64_t dataStart = static_cast<std::uint64_t>(old.Position());
    std::int64_t directory = a_.dirManager_->DirectoryStart;
    if (!a_.dirManager_->Rebuilt && directory > 0 &&
        (dataStart > static_cast<std::uint64_t>(directory) || packed > static_cast<std::uint64_t>(directory) - dataStart))
      throw EZAException(8, &a_);
    std::u16string shown = item.EntryName;
    std::uint64_t at = out.Position();
    Plan(entry, item, item.Header, at, packed, unpacked, &item.ExtraFields, shown);
    bool zip64 = a_.zip64Mode_ == zmAlways || packed >= kZip64Limit32 || unpacked >= kZip64Limit32;
    TZAExtraWriter tail;
    AddCommonBlocks(tail, &localKept, item.EntryName, entry.Header.Flags);
    std::vector<std::uint8_t> extra;
    LocalFileHeader l = Local(entry.Header, entry.Name, zip64, packed, unpacked, tail.Bytes(), extra);
    ZAWriteLocalHeader(out, l, entry.Name, extra);
    try {
      CopyBytes(old, out, packed);
    } catch (const EReadError&) {
      throw EZAException(8, &a_);
    }
    if (item.Header.Flags & 8) ZAWriteDataDescriptor(out, item.Header.Crc32, packed, unpacked, zip64);
    return true;
  }

  // ---- a new entry from its source

  struct Progress {
    TZACommit* self;
    const std::u16string* name;
    std::uint64_t size;
  };

  static bool OnProgress(void* context, std::uint64_t done) {
    auto* p = static_cast<Progress*>(context);
    TZABaseArchiver& a = p->self->a_;
    bool cancel = false;
    double part = p->size ? static_cast<double>(done) / static_cast<double>(p->size) : 1.0;
    if (a.OnFileProgress) a.OnFileProgress(&a, *p->name, part * 100.0, a.updateOperation_, ppProcess, cancel);
    if (!cancel && a.OnOverallProgress)
      a.OnOverallProgress(&a, (part + p->self->done_) / std::max(p->self->total_, 1) * 100.0, a.updateOperation_,
                          ppProcess, cancel);
    return !cancel;
  }

  class ClassicFilter : public TZADataFilter {
   public:
    TZAPkzipClassicCipher cipher;
    void Filter(std::uint8_t* data, std::size_t size) override {
      for (std::size_t i = 0; i < size; ++i) data[i] = cipher.EncryptByte(data[i]);
    }
  };
  class AesFilter : public TZADataFilter {
   public:
    explicit AesFilter(std::uint16_t keyLength) : cipher(keyLength, TZATransformDirection::Encrypt) {}
    TAESCryptoTransform cipher;
    void Filter(std::uint8_t* data, std::size_t size) override { cipher.Encrypt(data, size); }
  };

  // Writes what goes in front of the encrypted data (the classic 12-byte
  // header, or the AES salt and verification value) and gives the filter
  // that encrypts the data; `overhead` counts the bytes written.
  std::unique_ptr<TZADataFilter> StartCipher(TZAOutput& out, const TDirItem& item, TZACryptoAlgorithm algorithm,
                                             const CentralDirectoryHeader& h, std::uint64_t& overhead) {
    const std::string password(item.EntryPassword.view());
    if (algorithm == caPkzipClassic) {
      auto filter = std::make_unique<ClassicFilter>();
      std::uint8_t header[TZAPkzipClassicCipher::kHeaderSize];
      if (!ZARandomBytes(header, sizeof header - 1)) throw Exception(u"No random bytes for the encryption header");
      header[sizeof header - 1] = static_cast<std::uint8_t>(h.ModTime >> 8);
      filter->cipher.InitKeys(password);
      filter->Filter(header, sizeof header);
      out.Write(header, sizeof header);
      overhead = sizeof header;
      return filter;
    }
    std::uint16_t keyLength = algorithm == caAES_128 ? 16 : algorithm == caAES_192 ? 24 : 32;
    auto filter = std::make_unique<AesFilter>(keyLength);
    std::uint8_t salt[16 + 2];
    if (!ZARandomBytes(salt, keyLength / 2u)) throw Exception(u"No random bytes for the encryption salt");
    if (!filter->cipher.StartEncryption(password, salt, salt + keyLength / 2)) throw std::bad_alloc();
    out.Write(salt, keyLength / 2u + 2u);
    overhead = keyLength / 2u + 2u;
    return filter;
  }

  static std::uint64_t FinishAes(TZAOutput& out, TZADataFilter& filter) {
    std::uint8_t code[TAESCryptoTransform::kAuthenticationCodeSize];
    static_cast<AesFilter&>(filter).cipher.FinishEncryption(code);
    out.Write(code, sizeof code);
    return sizeof code;
  }

  bool WriteNew(TZAOutput& out, TDirItem& item, const std::u16string& shown, PlannedEntry& entry) {
    bool folder = !item.EntryName.empty() && item.EntryName.back() == u'/';
    std::unique_ptr<TZAStream> opened;
    TZAStream* source = item.SourceStream;
    if (!folder && !source) {
      try {
        // Options.ShareMode says what others may do with the file meanwhile.
        static const std::uint16_t kShare[] = {fmShareCompat, fmShareExclusive, fmShareDenyWrite, fmShareDenyRead,
                                               fmShareDenyNone};
        opened = std::make_unique<TZAFileStream>(item.SourceFileName.view(),
                                                 fmOpenRead | kShare[a_.Options().ShareMode % 5]);
      } catch (const EStreamError&) {
        throw EZAException(33, &a_, {item.SourceFileName.str()});
      }
      source = opened.get();
    }
    bool cancel = false;
    if (a_.OnFileProgress) a_.OnFileProgress(&a_, shown, 0.0, a_.updateOperation_, ppStart, cancel);
    if (cancel) return false;

    std::uint64_t size = 0;
    std::int64_t sourceStart = 0;
    if (source) {
      sourceStart = source->Position();
      std::int64_t all = source->Size();
      size = all > sourceStart ? static_cast<std::uint64_t>(all - sourceStart) : 0;
    }
    // Folders have nothing to hide; files (empty ones too) get the cipher
    // of the password in force when they were added.
    const bool encrypted = source && !item.EntryPassword.empty();
    const TZACryptoAlgorithm algorithm = encrypted ? item.CryptoAlgorithm : caPkzipClassic;
    const bool aes = encrypted && algorithm != caPkzipClassic;
    // With a cipher the data cannot be written again stored, so the method
    // is known before: deflate unless the level stores.
    const std::uint16_t method = item.CompressionSetting ? 8 : 0;
    item.ExtraFields.Clear();
    if (aes) {
      TZAExtraWriter block;
      block.AddAes(2, static_cast<std::uint8_t>(algorithm), method);
      item.ExtraFields.Add(kAesExtraTag, block.Bytes().data() + 4, static_cast<std::uint16_t>(block.Size() - 4));
    }
    // The local header must say Zip64 before the data is known; a file
    // that grows past the limit meanwhile is written again with it.
    bool zip64 = a_.zip64Mode_ == zmAlways || size >= kZip64Limit32 - (1 << 16);
    for (;;) {
      if (zip64 && a_.zip64Mode_ == zmDisabled) throw EZAException(41, &a_, {shown});
      CentralDirectoryHeader h = item.Header;
      h.VersionMadeBy = MadeBy(h);
      std::uint16_t needed = aes ? kAesVersion : zip64 ? kZip64Version : 20;
      h.VersionNeeded = static_cast<std::uint16_t>((MadeBy() & 0xFF00) | needed);
      h.Flags = static_cast<std::uint16_t>(h.Flags & kUtf8NameFlag);
      // Classic encryption checks its header against the time when the
      // CRC-32 is not known before the data: sizes follow in a descriptor.
      if (encrypted) h.Flags |= aes ? 1 : 1 | 8;
      h.Method = aes ? 99 : 0;
      h.Crc32 = 0;
      std::uint64_t at = out.Position();
      // Planned first with the final sizes unknown: the name and blocks
      // are what the local header needs.
      Plan(entry, item, h, at, zip64 ? kZip64Limit32 : 0, zip64 ? kZip64Limit32 : 0, &item.ExtraFields, shown);
      TZAExtraWriter tail;
      AddCommonBlocks(tail, &item.ExtraFields, item.EntryName, entry.Header.Flags);
      std::vector<std::uint8_t> extra;
      LocalFileHeader l = Local(entry.Header, entry.Name, zip64, 0, 0, tail.Bytes(), extra);
      ZAWriteLocalHeader(out, l, entry.Name, extra);

      std::unique_ptr<TZADataFilter> filter;
      std::uint64_t overhead = 0;
      if (encrypted) filter = StartCipher(out, item, algorithm, entry.Header, overhead);
      TZAEncodeResult r;
      if (source) {
        Progress progress{this, &shown, size};
        bool finished;
        try {
          finished = ZAEncodeEntry(*source, out, item.CompressionSetting, r, filter.get(), &TZACommit::OnProgress,
                                   &progress);
        } catch (const EReadError&) {
          throw EZAException(33, &a_, {item.SourceFileName.empty() ? shown : item.SourceFileName.str()});
        }
        if (!finished) return false;
      }
      if (aes) overhead += FinishAes(out, *filter);
      std::uint64_t packed = r.Compressed + overhead;
      if (!zip64 && (packed >= kZip64Limit32 || r.Uncompressed >= kZip64Limit32)) {
        out.Truncate(at);
        source->SetPosition(sourceStart);
        zip64 = true;
        continue;
      }
      std::uint16_t actual = encrypted ? method : r.Method;
      h.Method = aes ? 99 : actual;
      // AE-2 keeps no CRC-32: the authentication code stands for it.
      h.Crc32 = aes ? 0 : r.Crc32;
      item.Header.Method = h.Method;
      item.ActualMethod = actual;
      Plan(entry, item, h, at, packed, r.Uncompressed, &item.ExtraFields, shown);
      LocalFileHeader done = Local(entry.Header, entry.Name, zip64, packed, r.Uncompressed, tail.Bytes(), extra);
      std::uint8_t raw[LocalFileHeader::kSize];
      done.Store(raw);
      out.Patch(at, raw, sizeof raw);
      if (zip64) out.Patch(at + sizeof raw + entry.Name.size(), extra.data(), 4 + 16);
      if (h.Flags & 8) ZAWriteDataDescriptor(out, h.Crc32, packed, r.Uncompressed, zip64);
      break;
    }
    ++done_;
    if (a_.OnFileProgress) a_.OnFileProgress(&a_, shown, 100.0, a_.updateOperation_, ppEnd, cancel);
    return !cancel;
  }

  // ---- new entries made ahead by helper threads

  void StartAhead(TZADirArray& items) {
    std::vector<TZACompressAhead::Job> jobs;
    jobOf_.assign(static_cast<std::size_t>(items.Count()), -1);
    for (std::int32_t i = 0; i < items.Count(); ++i) {
      const TDirItem& item = items.GetItem(i);
      // Files only, in the clear (a cipher runs in the order of the data),
      // and small enough to be held whole.
      if (!item.IsNew || item.SourceStream || item.SourceFileName.empty() || !item.EntryPassword.empty() ||
          (!item.EntryName.empty() && item.EntryName.back() == u'/'))
        continue;
      sys::WideDirEntry info;
      if (!sys::WideStat(item.SourceFileName.view(), info) || info.Size > TZACompressAhead::kLargest) continue;
      jobOf_[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(jobs.size());
      jobs.push_back({item.SourceFileName.str(), item.CompressionSetting});
    }
    // One file is as well done by the commit itself.
    if (jobs.size() > 1) ahead_ = std::make_unique<TZACompressAhead>(std::move(jobs));
  }

  bool TakeAhead(std::int32_t index, TZACompressAhead::Result& result) {
    std::int32_t job = jobOf_.empty() ? -1 : jobOf_[static_cast<std::size_t>(index)];
    return ahead_ && job >= 0 && ahead_->Take(static_cast<std::size_t>(job), result);
  }

  bool WritePrepared(TZAOutput& out, TDirItem& item, const std::u16string& shown, PlannedEntry& entry,
                     TZACompressAhead::Result& result) {
    bool cancel = false;
    if (a_.OnFileProgress) a_.OnFileProgress(&a_, shown, 0.0, a_.updateOperation_, ppStart, cancel);
    if (cancel) return false;
    bool zip64 = a_.zip64Mode_ == zmAlways;
    CentralDirectoryHeader h = item.Header;
    h.VersionMadeBy = MadeBy(h);
    h.VersionNeeded = static_cast<std::uint16_t>((MadeBy() & 0xFF00) | (zip64 ? kZip64Version : 20));
    h.Flags = static_cast<std::uint16_t>(h.Flags & kUtf8NameFlag);
    h.Method = result.Method;
    h.Crc32 = result.Crc32;
    item.Header.Method = item.ActualMethod = result.Method;
    item.ExtraFields.Clear();
    std::uint64_t packed = result.Data.size();
    Plan(entry, item, h, out.Position(), packed, result.Size, nullptr, shown);
    TZAExtraWriter tail;
    AddCommonBlocks(tail, nullptr, item.EntryName, entry.Header.Flags);
    std::vector<std::uint8_t> extra;
    LocalFileHeader l = Local(entry.Header, entry.Name, zip64, packed, result.Size, tail.Bytes(), extra);
    ZAWriteLocalHeader(out, l, entry.Name, extra);
    out.Write(result.Data.data(), result.Data.size());
    ++done_;
    if (a_.OnOverallProgress)
      a_.OnOverallProgress(&a_, 100.0 * done_ / std::max(total_, 1), a_.updateOperation_, ppProcess, cancel);
    if (!cancel && a_.OnFileProgress) a_.OnFileProgress(&a_, shown, 100.0, a_.updateOperation_, ppEnd, cancel);
    return !cancel;
  }

  // ---- a self-extractor made of the archive

 public:
  // Writes the stub and the archive's entries, offsets counting the stub,
  // into `target`; the archive itself stays as it is.
  void MakeSFX(const std::u16string& target) {
    stubFile_ = a_.SFXStub();
    std::unique_ptr<TZAStream> out;
    std::u16string temp = CreateTemp(FolderOf(target), out);
    try {
      if (!WriteArchive(*out)) {
        out.reset();
        sys::WideDeleteFile(temp);
        return;
      }
      if (!static_cast<TZAFileStream&>(*out).File().Flush()) throw EWriteError();
      out.reset();
      if (!sys::WideReplaceFile(temp, target)) throw EZAException(19, &a_, {target});
    } catch (const EStreamError&) {
      out.reset();
      sys::WideDeleteFile(temp);
      throw EZAException(56, &a_);
    } catch (...) {
      out.reset();
      sys::WideDeleteFile(temp);
      throw;
    }
  }

 private:
  // ---- a new archive cut into volumes

  // The archive is cut into pieces of the volume size, named "name.zip.001",
  // "name.zip.002", ... as 7-Zip cuts them (SpanningOptions.AdvancedNaming);
  // readers join them into the one archive. The component is closed after:
  // the set is opened by the name of a piece.
  // A layout over volumes that failed: the whole new archive and every
  // volume made of it go, and the component reads its old state again.
  void DropLayout(std::unique_ptr<TZAStream>& out, const std::u16string& temp,
                  const std::vector<std::u16string>& made) {
    out.reset();
    sys::WideDeleteFile(temp);
    for (const std::u16string& file : made) sys::WideDeleteFile(file);
    a_.ReloadDirectory();
  }

  // A complete layout: the whole new archive has served, and the component
  // lets go of the old one so that its volumes can take its place.
  void ReleaseForLayout(std::unique_ptr<TZAStream>& out, const std::u16string& temp) {
    out.reset();
    sys::WideDeleteFile(temp);
    a_.dirManager_.reset();
    delete a_.stream_;
    a_.stream_ = nullptr;
    a_.open_ = false;
  }

  void InstallPieces(std::unique_ptr<TZAStream> out, const std::u16string& temp) {
    const TZASpanningOptions& options = a_.SpanningOptions();
    const std::u16string target = a_.FileName();
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
        pieces.push_back(CreateTemp(FolderOf(target), piece));
        TZAOutput w(*piece);
        CopyBytes(*out, w, static_cast<std::uint64_t>(n));
        w.Flush();
        if (!static_cast<TZAFileStream&>(*piece).File().Flush()) throw EWriteError();
        done += n;
      }
    } catch (...) {
      DropLayout(out, temp, pieces);
      throw;
    }
    ReleaseForLayout(out, temp);
    // The empty file the new archive was opened as has no place beside its pieces.
    if (sys::WideFileExists(target)) {
      sys::WideDirEntry info;
      if (sys::WideStat(target, info) && info.Size == 0) sys::WideDeleteFile(target);
    }
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      std::u16string name = ZANumberedVolumeName(target, static_cast<std::int32_t>(i));
      if (!sys::WideReplaceFile(pieces[i], name)) {
        for (std::size_t k = i; k < pieces.size(); ++k) sys::WideDeleteFile(pieces[k]);
        throw EZAException(19, &a_, {name});
      }
    }
  }

  // ---- a new archive split as Info-ZIP splits it ("name.z01", ... "name.zip")

  // The volumes of a split set as they are written: each a new file beside
  // the archive, none larger than its volume size; they take their names
  // only once all of them are complete.
  class SplitVolumes {
   public:
    // `spanned`: each volume is put on its own blank disk as `target`
    // once complete; a size below 0 takes what is free on each disk.
    SplitVolumes(TZACommit& commit, std::u16string folder, std::int64_t first, std::int64_t size,
                 bool spanned = false, std::u16string target = {})
        : commit_(commit), folder_(std::move(folder)), first_(first), size_(size), spanned_(spanned),
          target_(std::move(target)) {
      Begin();
    }
    ~SplitVolumes() {
      out_.reset();
      file_.reset();
      for (const std::u16string& name : names_)
        if (!name.empty()) sys::WideDeleteFile(name);
    }

    std::uint32_t Disk() const { return static_cast<std::uint32_t>(names_.size() - 1); }
    std::uint64_t Position() const { return out_->Position(); }
    std::uint64_t Limit() const { return limit_; }
    std::uint64_t Room() const { return Limit() - std::min(Limit(), Position()); }
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
      std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(count, 1 << 20)));
      while (count > 0) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, buffer.size()));
        source.ReadBuffer(buffer.data(), static_cast<std::int64_t>(n));
        Write(buffer.data(), n);
        count -= n;
      }
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
        commit_.RequestBlankDisk(volume, disk_);
        if (limit < 0) limit = commit_.FreeOnDisk(disk_);
      }
      // Room for a local header and a little data at the least.
      limit_ = static_cast<std::uint64_t>(std::max<std::int64_t>(limit, 64));
      names_.push_back(commit_.CreateTemp(folder_, file_));
      out_ = std::make_unique<TZAOutput>(*file_);
    }
    void Close() {
      out_->Flush();
      if (!static_cast<TZAFileStream&>(*file_).File().Flush()) {
        EWriteError e;
        e.SystemError = file_->LastError();
        throw e;
      }
      out_.reset();
      file_.reset();
      if (spanned_) {
        commit_.PutOnDisk(names_.back(), disk_, static_cast<std::int32_t>(names_.size()) - 1);
        sys::WideDeleteFile(names_.back());
        names_.back().clear();
      }
    }
    void Next() {
      Close();
      Begin();
    }

    TZACommit& commit_;
    std::u16string folder_;
    std::int64_t first_, size_;
    bool spanned_;
    std::u16string target_;
    std::u16string disk_ = target_;  // the name on the disk in the drive
    std::uint64_t limit_ = 0;
    std::vector<std::u16string> names_;
    std::unique_ptr<TZAStream> file_;
    std::unique_ptr<TZAOutput> out_;
  };

  // The archive written whole in `out` is laid out again over volumes:
  // local headers and the end records kept whole on one volume (data and
  // the directory run over), disk numbers and offsets counted per volume,
  // the first volume opened by the split signature as "zip -s" writes it.
  // An archive that fits the first volume stays one plain file.
  void InstallSplit(std::unique_ptr<TZAStream> out, const std::u16string& temp, bool spanned = false) {
    const TZASpanningOptions& options = a_.SpanningOptions();
    const std::u16string target = a_.FileName();
    const std::int64_t size = options.VolumeSizeBytes();
    std::int64_t first = options.FirstVolumeSize > 0 ? options.FirstVolumeSize : size;
    std::vector<std::u16string> volumes;
    try {
      if (size <= 0 && !spanned) throw Exception(u"Split archives need a volume size");
      // The first disk is in the drive: what it can take bounds its volume.
      if (spanned && first < 0) first = FreeOnDisk(target);
      const std::uint64_t prefix = localAt_.empty() ? end_.DirectoryOffset : localAt_.front();
      if (prefix > static_cast<std::uint64_t>(first)) throw EZAException(47, &a_);
      if (first < 64) throw Exception(u"The first volume is too small for a split archive");
      const bool several = out->Size() > first;
      if (!several && !spanned) {
        InstallFile(std::move(out), temp);
        return;
      }
      // Spanned volumes are made away from the drive, then put on their disks.
      std::u16string folder = !spanned                ? FolderOf(target)
                              : !a_.TempDir().empty() ? a_.TempDir()
                                                      : sys::WideTempFolder();
      SplitVolumes split(*this, folder, first, size, spanned, target);
      out->SetPosition(0);
      if (prefix > 0 || !several) {
        split.Copy(*out, prefix);
      } else {
        std::uint8_t signature[4];
        PutU32(signature, kDataDescriptorSignature);
        split.Write(signature, sizeof signature);
      }
      std::vector<std::uint32_t> disks(planned_.size());
      std::vector<std::uint64_t> offsets(planned_.size());
      for (std::size_t i = 0; i < planned_.size(); ++i) {
        const std::uint64_t at = localAt_[i];
        const std::uint64_t next = i + 1 < localAt_.size() ? localAt_[i + 1] : end_.DirectoryOffset;
        std::uint8_t raw[LocalFileHeader::kSize];
        out->SetPosition(static_cast<std::int64_t>(at));
        out->ReadBuffer(raw, sizeof raw);
        LocalFileHeader local;
        local.Parse(raw);
        const std::uint64_t header = sizeof raw + local.NameLength + std::uint64_t{local.ExtraLength};
        split.Reserve(header);
        disks[i] = split.Disk();
        offsets[i] = split.Position();
        out->SetPosition(static_cast<std::int64_t>(at));
        split.Copy(*out, next - at);
      }

      TZAEndOfDirectory end = end_;
      std::vector<std::uint8_t> bytes;
      std::uint64_t directorySize = 0;
      std::uint32_t countedDisk = 0;
      std::uint64_t counted = 0;  // central headers that start on countedDisk
      for (std::size_t i = 0; i < planned_.size(); ++i) {
        PlannedEntry& e = planned_[i];
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
      if (planned_.empty()) {
        end.DirectoryDisk = split.Disk();
        end.DirectoryOffset = split.Position();
      }
      end.DirectorySize = directorySize;
      const std::uint64_t tail = (zip64_ ? Zip64EndOfCentralDirectory::kSize + Zip64EndOfCentralDirectoryLocator::kSize : 0) +
                                 EndOfCentralDirectory::kSize + std::min<std::size_t>(end.Comment.size(), 0xFFFF);
      split.Reserve(tail);
      if (split.Room() < tail) throw Exception(u"The volume size is too small for the end of the central directory");
      end.ThisDisk = split.Disk();
      end.EntriesOnThisDisk = countedDisk == end.ThisDisk ? counted : 0;
      ZAWriteEndOfDirectory(split.Current(), end, zip64_);
      volumes = split.Finish();
    } catch (...) {
      DropLayout(out, temp, volumes);
      throw;
    }
    ReleaseForLayout(out, temp);
    if (spanned) return;  // each disk has its volume already
    const std::int32_t last = static_cast<std::int32_t>(volumes.size()) - 1;
    for (std::int32_t i = 0; i <= last; ++i) {
      std::u16string name = i == last ? target : ZASplitVolumeName(target, i, last);
      if (!sys::WideReplaceFile(volumes[static_cast<std::size_t>(i)], name)) {
        for (std::int32_t k = i; k <= last; ++k) sys::WideDeleteFile(volumes[static_cast<std::size_t>(k)]);
        throw EZAException(19, &a_, {name});
      }
    }
  }

  // ---- spanned disks

  // Bytes free on the drive that holds `name` (the free space of the disk
  // in it); what cannot be told is taken for a full disk.
  std::int64_t FreeOnDisk(const std::u16string& name) const {
    std::int64_t free = sys::WideFreeSpace(FolderOf(name));
    return free < 0 ? 0 : free;
  }

  // Asks for the blank disk of `volume` (0 for the first); `name` may be
  // changed by the handler. A refusal ends the commit with an error.
  void RequestBlankDisk(std::int32_t volume, std::u16string& name) {
    bool cancel = false;
    if (a_.OnRequestBlankVolume)
      a_.OnRequestBlankVolume(&a_, volume + 1, name, cancel);
    else
      cancel = !a_.Dialogs().ConfirmVolume(ZAFormat(u"Please insert blank disk #%d", {std::int64_t{volume} + 1}));
    if (cancel) throw Exception(u"Writing the spanned archive was cancelled");
  }

  // Copies a complete volume onto the disk in the drive as `name`, through a
  // new file there that replaces an old one only when complete. A disk too
  // full for it is reported to OnDiskFull (or the user), who may free space
  // or change the disk and have it written again.
  void PutOnDisk(const std::u16string& volumeFile, const std::u16string& name, std::int32_t volume) {
    for (;;) {
      std::u16string temp;
      try {
        TZAFileStream from(volumeFile, fmOpenRead | fmShareDenyWrite);
        std::unique_ptr<TZAStream> to;
        temp = CreateTemp(FolderOf(name), to);
        {
          TZAOutput out(*to);
          CopyBytes(from, out, static_cast<std::uint64_t>(from.Size()));
          out.Flush();
        }
        if (!static_cast<TZAFileStream&>(*to).File().Flush()) throw EWriteError();
        to.reset();
        if (!sys::WideReplaceFile(temp, name)) throw EZAException(19, &a_, {name});
        return;
      } catch (const EWriteError&) {
        if (!temp.empty()) sys::WideDeleteFile(temp);
        bool cancel = false;
        if (a_.OnDiskFull)
          a_.OnDiskFull(&a_, volume + 1, name, cancel);
        else
          cancel = !a_.Dialogs().ConfirmVolume(
              ZAFormat(u"Disk #%d is full. Please make room on it or insert another blank disk", {std::int64_t{volume} + 1}));
        if (cancel) throw;
      } catch (...) {
        if (!temp.empty()) sys::WideDeleteFile(temp);
        throw;
      }
    }
  }

  // The local header offset in an entry's central Zip64 block: after the
  // sizes that the header's fields send there.
  static void PatchZip64Offset(PlannedEntry& e, std::uint64_t offset) {
    std::size_t at = 4;
    if (e.Header.UncompressedSize == 0xFFFFFFFF) at += 8;
    if (e.Header.CompressedSize == 0xFFFFFFFF) at += 8;
    if (e.Extra.size() < at + 8 || GetU16(e.Extra.data()) != kZip64ExtraTag) return;
    PutU64(&e.Extra[at], offset);
  }

  // ---- putting the new archive in place

  void InstallFile(std::unique_ptr<TZAStream> out, std::u16string temp) {
    out.reset();
    std::u16string target = a_.FileName();
    // The archive's own handle must go before its file can be replaced.
    a_.dirManager_.reset();
    delete a_.stream_;
    a_.stream_ = nullptr;
    bool moved = sys::WideReplaceFile(temp, target);
    if (!moved && !a_.TempDir().empty()) {
      // Another volume: copied beside the archive first, so that the
      // replacement itself is still one step.
      std::u16string beside;
      try {
        beside = CopyBeside(temp, target);
      } catch (...) {
        sys::WideDeleteFile(temp);
        Reopen(target);
        throw;
      }
      sys::WideDeleteFile(temp);
      temp = beside;
      moved = sys::WideReplaceFile(temp, target);
    }
    if (!moved) {
      sys::WideDeleteFile(temp);
      Reopen(target);
      throw EZAException(27, &a_, {target});
    }
    Reopen(target);
  }

  std::u16string CopyBeside(const std::u16string& temp, const std::u16string& target) {
    TZAFileStream from(temp, fmOpenRead | fmShareDenyWrite);
    std::unique_ptr<TZAStream> to;
    std::u16string name = CreateTemp(FolderOf(target), to);
    try {
      TZAOutput out(*to);
      std::int64_t size = from.Size(), done = 0;
      std::vector<std::uint8_t> buffer(1 << 20);
      bool cancel = false;
      if (a_.OnCopyTempFileProgress) a_.OnCopyTempFileProgress(&a_, 0.0, ppStart, cancel);
      while (done < size && !cancel) {
        std::int64_t n = std::min<std::int64_t>(size - done, static_cast<std::int64_t>(buffer.size()));
        from.ReadBuffer(buffer.data(), n);
        out.Write(buffer.data(), static_cast<std::size_t>(n));
        done += n;
        if (a_.OnCopyTempFileProgress)
          a_.OnCopyTempFileProgress(&a_, 100.0 * static_cast<double>(done) / static_cast<double>(size), ppProcess,
                                    cancel);
      }
      if (cancel) throw EZAException(27, &a_, {target});
      out.Flush();
      if (!static_cast<TZAFileStream&>(*to).File().Flush()) throw EWriteError();
      if (a_.OnCopyTempFileProgress) a_.OnCopyTempFileProgress(&a_, 100.0, ppEnd, cancel);
    } catch (...) {
      to.reset();
      sys::WideDeleteFile(name);
      throw;
    }
    return name;
  }

  void Reopen(const std::u16string& target) {
    try {
      a_.stream_ = new TZAFileStream(target, kZAModeReadWrite);
    } catch (...) {
      a_.open_ = false;
      throw;
    }
    a_.ownsStream_ = true;
    a_.openMode_ = kZAModeReadWrite;
    a_.ReloadDirectory();
  }

  void InstallStream(std::unique_ptr<TZAStream> out) {
    if (a_.ownsStream_) {
      a_.dirManager_.reset();
      delete a_.stream_;
      a_.stream_ = out.release();
    } else {
      // The caller's stream gets the new archive in place of the old one.
      TZAStream& target = *a_.stream_;
      target.SetSize(0);
      target.SetPosition(0);
      target.CopyFrom(*out, 0);
    }
    a_.ReloadDirectory();
  }

  TZABaseArchiver& a_;
  // What WriteArchive wrote, for the volumes made of it: each entry's
  // central header and local header offset, the end, and whether it is Zip64.
  std::vector<PlannedEntry> planned_;
  std::vector<std::uint64_t> localAt_;
  TZAEndOfDirectory end_;
  bool zip64_ = false;
  std::int32_t total_ = 0, done_ = 0;
  std::unique_ptr<TZACompressAhead> ahead_;
  std::u16string stubFile_;  // MakeSFX: the stub in place of what was in front
  std::vector<std::int32_t> jobOf_;  // of each entry: its job ahead, or -1
};

void TZABaseArchiver::CommitUpdate() {
  std::lock_guard<std::recursive_mutex> lock(ZAEngineLock());
  TZACommit(*this).Run();
}

void TZABaseArchiver::MakeSFX(std::u16string_view sfxFileName) {
  if (!open_ || !dirManager_) throw EZAException(13, this);
  if (updateLevel_ > 0) throw EZAException(26, this);
  if (volumes_ || dirManager_->VolumeInfo.LastVolumeNumber > 0) throw EZAException(49, this);
  if (sfxStub_.empty()) throw EZAException(17, this);
  if (dirManager_->PrefixLength > 0) throw EZAException(50, this);
  if (ZAFileNamePart(sfxFileName).empty()) throw EZAException(9, this);
  std::lock_guard<std::recursive_mutex> lock(ZAEngineLock());
  updateOperation_ = poMakeSFX;
  TZACommit(*this).MakeSFX(std::u16string(sfxFileName));
}

}  // namespace za
