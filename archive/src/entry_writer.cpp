#include "entry_writer.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "archive/byte_reader.h"
#include "archive/crypto_primitives.h"
#include "archive/zip_ciphers.h"
#include "deflate_encoder.h"
#include "archive/errors.h"
#include "archive/time_blocks.h"
#include "sys/codepage.h"

namespace za {

namespace {

bool IsAscii(std::u16string_view s) {
  return std::all_of(s.begin(), s.end(), [](char16_t c) { return c < 0x80; });
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
  const std::string password(item.Source().EntryPassword.view());
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

std::uint64_t FinishAes(TZAOutput& out, TZADataFilter& filter) {
  std::uint8_t code[TAESCryptoTransform::kAuthenticationCodeSize];
  static_cast<AesFilter&>(filter).cipher.FinishEncryption(code);
  out.Write(code, sizeof code);
  return sizeof code;
}

// A new entry keeps the blocks it was given when it was added (times,
// owner); those of an earlier attempt at writing it go.
void KeepBlocksOfAdding(TDirItem& item) {
  TZAExtraFields given;
  for (ExtraBlock b : item.ExtraFields)
    if (b.Tag != kAesExtraTag && b.Tag != kZip64ExtraTag && b.Tag != kUnicodeNameExtraTag) given.Add(b.Tag, b.Data, b.Size);
  item.ExtraFields = std::move(given);
}

// The blocks of a local extra field as they stand; a last block whose
// size runs past the field keeps what there is of it.
TZAExtraFields KeptBlocks(const std::uint8_t* data, std::size_t size) {
  TZAExtraFields kept;
  ByteReader r(data, size);
  while (r.Remaining() >= 4) {
    const std::uint16_t tag = r.U16();
    const std::size_t n = std::min<std::size_t>(r.U16(), r.Remaining());
    kept.Add(tag, n ? r.Bytes(n) : nullptr, static_cast<std::uint16_t>(n));
  }
  return kept;
}

}  // namespace

// ---- the header planner

// A new entry with a Unix file type in the high half of its attributes
// says it was made on Unix: that is where peers look for the mode.
std::uint16_t TZAEntryWriter::MadeBy(const CentralDirectoryHeader& h) const {
  if (settings_.UnixModes && ((h.ExternalAttributes >> 16) & 0xF000))
    return static_cast<std::uint16_t>(0x0300 | (MadeBy() & 0xFF));
  return MadeBy();
}

CentralDirectoryHeader TZAEntryWriter::NewHeader(const TDirItem& item, std::uint16_t needed) const {
  CentralDirectoryHeader h = item.Header;
  h.VersionMadeBy = MadeBy(h);
  h.VersionNeeded = static_cast<std::uint16_t>((MadeBy() & 0xFF00) | needed);
  h.Flags = static_cast<std::uint16_t>(h.Flags & kUtf8NameFlag);
  return h;
}

// The stored bytes of a name and whether they are UTF-8 (flag bit 11).
std::string TZAEntryWriter::EncodeName(const std::u16string& name, std::uint16_t& flags, bool isNew,
                                       std::uint16_t madeBy) const {
  if ((flags & kUtf8NameFlag) && (isNew || settings_.Utf8FlagNames)) return sys::WideToUtf8(name);
  if (isNew && settings_.Utf8Names && !IsAscii(name)) {
    flags |= kUtf8NameFlag;
    return sys::WideToUtf8(name);
  }
  // A Unix zip's name was read as UTF-8 without the flag; written back in
  // a code page it would change under the Unix host byte it keeps.
  if (!isNew && settings_.Utf8FlagNames && MadeOnUnix(madeBy) && !IsAscii(name)) {
    flags |= kUtf8NameFlag;
    return sys::WideToUtf8(name);
  }
  return settings_.OemNames ? sys::WideToOem(name) : sys::WideToAnsi(name);
}

// The blocks both headers carry beyond Zip64: the kept ones of an old
// entry, then the Unicode name.
void TZAEntryWriter::AddCommonBlocks(TZAExtraWriter& extra, const TZAExtraFields* kept, const std::u16string& name,
                                     std::uint16_t flags, bool centralOfNew) const {
  bool hadUnicode = false;
  if (kept)
    for (ExtraBlock b : *kept) {
      if (b.Tag == kUnicodeNameExtraTag) {
        hadUnicode = true;
        continue;
      }
      if (centralOfNew && b.Tag == kExtendedTimeExtraTag) {
        std::vector<std::uint8_t> central = ZACentralExtendedTimeBlock(b.Data, b.Size);
        extra.Add(b.Tag, central.data(), static_cast<std::uint16_t>(central.size()));
      } else if (b.Tag != kZip64ExtraTag) {
        extra.Add(b.Tag, b.Data, b.Size);
      }
    }
  // A UTF-8 name needs no second copy.
  if ((settings_.UnicodeNameBlocks || hadUnicode) && !(flags & kUtf8NameFlag)) extra.AddUnicodeName(name);
}

// Central header and extra field of an entry whose data is written.
void TZAEntryWriter::Plan(TZAPlannedEntry& entry, const TDirItem& item, CentralDirectoryHeader h,
                          std::uint64_t offset, std::uint64_t packed, std::uint64_t unpacked,
                          const TZAExtraFields* kept, const std::u16string& shown) const {
  bool always = settings_.Zip64 == zmAlways;
  bool bigSizes = always || packed >= kZip64Limit32 || unpacked >= kZip64Limit32;
  bool bigOffset = always || offset >= kZip64Limit32;
  if (settings_.Zip64 == zmDisabled) {
    if (bigSizes) throw EZAException(neZip64SizesDisabled, &owner_, {shown});
    if (bigOffset) throw EZAException(neZip64Disabled, &owner_, {shown});
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
  if (item.IsNew && settings_.Zip64MadeByVersion && (h.VersionNeeded & 0xFF) >= kZip64Version)
    h.VersionMadeBy = static_cast<std::uint16_t>(
        (h.VersionMadeBy & 0xFF00) | std::max<std::uint16_t>(h.VersionMadeBy & 0xFF, h.VersionNeeded & 0xFF));
  entry.Name = EncodeName(item.EntryName, h.Flags, item.IsNew, h.VersionMadeBy);
  AddCommonBlocks(extra, kept, item.EntryName, h.Flags, item.IsNew);
  if (entry.Name.size() > 0xFFFF) throw EZAException(neNameTooLong, &owner_, {shown});
  entry.Extra = extra.Bytes();
  if (entry.Extra.size() > 0xFFFF) throw EZAException(neNameTooLong, &owner_, {shown});
  entry.Comment = std::string(item.Comment.view().substr(0, 0xFFFF));
  h.NameLength = static_cast<std::uint16_t>(entry.Name.size());
  h.ExtraLength = static_cast<std::uint16_t>(entry.Extra.size());
  h.CommentLength = static_cast<std::uint16_t>(entry.Comment.size());
  entry.Header = h;
}

// The local header of an entry: the central one's shared fields, with
// its own extra field (Zip64 sizes when `zip64`, then `tail`).
LocalFileHeader TZAEntryWriter::Local(const CentralDirectoryHeader& h, const std::string& name, bool zip64,
                                      std::uint64_t packed, std::uint64_t unpacked,
                                      const std::vector<std::uint8_t>& tail, std::vector<std::uint8_t>& extra) const {
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

std::uint32_t TZAEntryWriter::PutHeaders(TZAOutput& out, TZAPlannedEntry& entry, const TDirItem& item,
                                         const CentralDirectoryHeader& h, TZAEntrySizes planned,
                                         TZAEntrySizes local, bool localZip64, const TZAExtraFields* central,
                                         const TZAExtraFields* kept, const std::u16string& shown,
                                         std::vector<std::uint8_t>& tail, std::vector<std::uint8_t>& extra) const {
  Plan(entry, item, h, out.Position(), planned.Packed, planned.Unpacked, central, shown);
  TZAExtraWriter blocks;
  AddCommonBlocks(blocks, kept, item.EntryName, entry.Header.Flags);
  tail = blocks.Bytes();
  LocalFileHeader l = Local(entry.Header, entry.Name, localZip64, local.Packed, local.Unpacked, tail, extra);
  const auto size = static_cast<std::uint32_t>(LocalFileHeader::kSize + entry.Name.size() + extra.size());
  if (records_) records_->BeginRecord(out.Position(), size);
  ZAWriteLocalHeader(out, l, entry.Name, extra);
  return size;
}

// ---- the three ways an entry is written

std::uint32_t TZAEntryWriter::CopyOld(TZAOutput& out, TZAStream& old, TZAEntryReader& reader,
                                      const TZADirManager& dir, const TDirItem& item, TZAPlannedEntry& entry) const {
  std::vector<std::uint8_t> nameAndExtra;
  TZAEntrySpan span;
  try {
    span = reader.Find(old, dir, item, &nameAndExtra);
  } catch (const EReadError&) {
    throw EZAException(neCorruptedEntry, &owner_);
  }
  // The data is copied as the directory declares it, or not at all: where
  // the decoder cuts data that runs into the central directory, a copy
  // would give the new archive an entry that does not decode. Data that
  // runs into another entry's, or shares its local header, would be
  // written once for every entry that claims it.
  const std::int64_t directory = dir.DirectoryStart;
  if (!span.HasSignature() || span.Overlaps ||
      (!dir.Rebuilt && directory > 0 && (span.Start > directory || span.Clamped())))
    throw EZAException(neCorruptedEntry, &owner_);
  // The local extra field stays as it was, but for its Zip64 and name
  // blocks, which are written anew.
  const TZAExtraFields localKept =
      KeptBlocks(nameAndExtra.data() + span.Local.NameLength, nameAndExtra.size() - span.Local.NameLength);
  const std::uint64_t packed = span.Declared, unpacked = item.UnpackedSize();
  bool zip64 = settings_.Zip64 == zmAlways || packed >= kZip64Limit32 || unpacked >= kZip64Limit32;
  std::vector<std::uint8_t> tail, extra;
  std::uint32_t header = PutHeaders(out, entry, item, item.Header, {packed, unpacked}, {packed, unpacked}, zip64,
                                    &item.ExtraFields, &localKept, item.EntryName, tail, extra);
  try {
    ZACopyBytes(old, packed, [&](const std::uint8_t* data, std::size_t size) { out.Write(data, size); });
  } catch (const EReadError&) {
    throw EZAException(neCorruptedEntry, &owner_);
  }
  if (item.Header.Flags & 8) ZAWriteDataDescriptor(out, item.Header.Crc32, packed, unpacked, zip64);
  return header;
}

std::uint32_t TZAEntryWriter::WriteNew(TZAOutput& out, TDirItem& item, TZAStream* source,
                                       const std::u16string& shown, TZAEncodeProgress progress, void* context,
                                       TZAPlannedEntry& entry) const {
  std::uint64_t size = 0;
  std::int64_t sourceStart = 0;
  if (source) {
    sourceStart = source->Position();
    std::int64_t all = source->Size();
    size = all > sourceStart ? static_cast<std::uint64_t>(all - sourceStart) : 0;
  }
  // Folders have nothing to hide; files (empty ones too) get the cipher
  // of the password in force when they were added.
  const bool encrypted = source && !item.Source().EntryPassword.empty();
  const TZACryptoAlgorithm algorithm = encrypted ? item.CryptoAlgorithm : caPkzipClassic;
  const bool aes = encrypted && algorithm != caPkzipClassic;
  // The method asked for where it can be had, else deflate. An empty file,
  // which a cipher keeps from being stored, is deflated as before: 7-Zip
  // reads an empty XZ stream as data after the end.
  auto makeEncoder = [&]() -> std::unique_ptr<TZAEncoder> {
    if (!source) return nullptr;
    return ZAEncoderFor(size == 0 ? 8 : settings_.Method, item.CompressionSetting, size, settings_.Methods,
                        settings_.FastDeflate);
  };
  std::unique_ptr<TZAEncoder> encoder = makeEncoder();
  // With a cipher the data cannot be written again stored, so the method
  // is known before: deflate (or the one asked for) unless the level stores.
  const std::uint16_t method = !item.CompressionSetting ? 0 : encoder ? encoder->Method() : 8;
  KeepBlocksOfAdding(item);
  if (aes) {
    TZAExtraWriter block;
    block.AddAes(2, static_cast<std::uint8_t>(algorithm), method);
    item.ExtraFields.Add(kAesExtraTag, block.Bytes().data() + 4, static_cast<std::uint16_t>(block.Size() - 4));
  }
  // The local header must say Zip64 before the data is known; a file
  // that grows past the limit meanwhile is written again with it.
  bool zip64 = settings_.Zip64 == zmAlways || size >= kZip64Limit32 - (1 << 16);
  for (;;) {
    if (zip64 && settings_.Zip64 == zmDisabled) throw EZAException(neZip64SizesDisabled, &owner_, {shown});
    CentralDirectoryHeader h = NewHeader(item, aes ? kAesVersion : zip64 ? kZip64Version : 20);
    // Classic encryption checks its header against the time when the
    // CRC-32 is not known before the data: sizes follow in a descriptor.
    if (encrypted) h.Flags |= aes ? 1 : 1 | 8;
    h.Method = aes ? 99 : 0;
    h.Crc32 = 0;
    const std::uint64_t at = out.Position();
    // Planned first with the final sizes unknown: the name and blocks
    // are what the local header needs.
    const std::uint64_t unknown = zip64 ? kZip64Limit32 : 0;
    std::vector<std::uint8_t> tail, extra;
    std::uint32_t header = PutHeaders(out, entry, item, h, {unknown, unknown}, {0, 0}, zip64, &item.ExtraFields,
                                      &item.ExtraFields, shown, tail, extra);

    std::unique_ptr<TZADataFilter> filter;
    std::uint64_t overhead = 0;
    if (encrypted) filter = StartCipher(out, item, algorithm, entry.Header, overhead);
    TZAEncodeResult r;
    if (source) {
      bool finished;
      try {
        finished = ZAEncodeEntry(*source, out, encoder.get(), r, filter.get(), progress, context);
      } catch (const EReadError&) {
        throw EZAException(neCannotOpenFile, &owner_, {item.Source().SourceFileName.empty() ? shown : item.Source().SourceFileName.str()});
      }
      if (!finished) return 0;
    }
    if (aes) overhead += FinishAes(out, *filter);
    std::uint64_t packed = r.Compressed + overhead;
    if (!zip64 && (packed >= kZip64Limit32 || r.Uncompressed >= kZip64Limit32)) {
      out.Truncate(at);
      source->SetPosition(sourceStart);
      zip64 = true;
      encoder = makeEncoder();
      continue;
    }
    std::uint16_t actual = encrypted ? method : r.Method;
    if (encoder && actual == encoder->Method()) {
      h.VersionNeeded = static_cast<std::uint16_t>((h.VersionNeeded & 0xFF00) |
                                                   std::max<std::uint16_t>(h.VersionNeeded & 0xFF, encoder->VersionNeeded()));
      h.Flags |= encoder->Flags();
    }
    h.Method = aes ? 99 : actual;
    // AE-2 keeps no CRC-32: the authentication code stands for it.
    h.Crc32 = aes ? 0 : r.Crc32;
    item.Header.Method = h.Method;
    item.ActualMethod = actual;
    Plan(entry, item, h, at, packed, r.Uncompressed, &item.ExtraFields, shown);
    LocalFileHeader done = Local(entry.Header, entry.Name, zip64, packed, r.Uncompressed, tail, extra);
    std::uint8_t raw[LocalFileHeader::kSize];
    done.Store(raw);
    out.Patch(at, raw, sizeof raw);
    if (zip64) out.Patch(at + sizeof raw + entry.Name.size(), extra.data(), 4 + 16);
    if (h.Flags & 8) ZAWriteDataDescriptor(out, h.Crc32, packed, r.Uncompressed, zip64);
    return header;
  }
}

std::uint32_t TZAEntryWriter::WritePrepared(TZAOutput& out, TDirItem& item, const TZACompressAhead::Result& result,
                                            const std::u16string& shown, TZAPlannedEntry& entry) const {
  bool zip64 = settings_.Zip64 == zmAlways;
  CentralDirectoryHeader h = NewHeader(item, std::max<std::uint16_t>(zip64 ? kZip64Version : 20, result.Needed));
  h.Method = result.Method;
  h.Flags |= result.Flags;
  h.Crc32 = result.Crc32;
  item.Header.Method = item.ActualMethod = result.Method;
  KeepBlocksOfAdding(item);
  const TZAEntrySizes sizes{result.Data.size(), result.Size};
  std::vector<std::uint8_t> tail, extra;
  std::uint32_t header =
      PutHeaders(out, entry, item, h, sizes, sizes, zip64, &item.ExtraFields, &item.ExtraFields, shown, tail, extra);
  out.Write(result.Data.data(), result.Data.size());
  return header;
}

}  // namespace za
