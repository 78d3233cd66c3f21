#pragma once
// Zip records as read: little-endian, byte-packed. Each record has Parse
// (from exactly its size in bytes) and Store (the reverse).
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace za {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr std::uint32_t kEndRecordSignature = 0x06054B50;
constexpr std::uint32_t kZip64EndRecordSignature = 0x06064B50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr std::uint32_t kDataDescriptorSignature = 0x08074B50;
constexpr std::uint32_t kUnicodeNameSignature = 0x5843554E;  // "NUCX"

constexpr std::uint16_t kZip64ExtraTag = 0x0001;
constexpr std::uint16_t kUnicodeNameExtraTag = 0x554E;
constexpr std::uint16_t kAesExtraTag = 0x9901;
// Times and owners: the NTFS block (100 ns since 1601), the extended time
// stamp (UTC seconds), the old Info-ZIP Unix block, the new Unix owner block.
constexpr std::uint16_t kNtfsExtraTag = 0x000A;
constexpr std::uint16_t kExtendedTimeExtraTag = 0x5455;
constexpr std::uint16_t kInfoZipUnixExtraTag = 0x5855;
constexpr std::uint16_t kUnixOwnerExtraTag = 0x7875;
// General-purpose flag bit 11: the name and comment are UTF-8.
constexpr std::uint16_t kUtf8NameFlag = 0x0800;
// The host byte of VersionMadeBy: 3 Unix, 19 OS X.
constexpr bool MadeOnUnix(std::uint16_t versionMadeBy) {
  return (versionMadeBy >> 8) == 3 || (versionMadeBy >> 8) == 19;
}
constexpr std::uint16_t kNoAesVersion = 0x4114;  // VersionNeeded from which AES is not decided

// Little-endian integers of the width of T.
template <class T>
constexpr T GetLE(const std::uint8_t* p) {
  T v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) v = static_cast<T>(v | (static_cast<T>(p[i]) << (8 * i)));
  return v;
}
template <class T>
constexpr void PutLE(std::uint8_t* p, T v) {
  for (std::size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t GetU16(const std::uint8_t* p) { return GetLE<std::uint16_t>(p); }
inline std::uint32_t GetU32(const std::uint8_t* p) { return GetLE<std::uint32_t>(p); }
inline std::uint64_t GetU64(const std::uint8_t* p) { return GetLE<std::uint64_t>(p); }
inline void PutU16(std::uint8_t* p, std::uint16_t v) { PutLE(p, v); }
inline void PutU32(std::uint8_t* p, std::uint32_t v) { PutLE(p, v); }
inline void PutU64(std::uint8_t* p, std::uint64_t v) { PutLE(p, v); }

// A record whose fields follow each other without gaps: `Record::Fields`
// names them once, in their order in the file, handing them in one or more
// runs to a function that takes a run; reading, writing and the size check
// all walk that one list.
template <class Record>
struct PackedRecord {
  void Parse(const std::uint8_t* p) {
    Record::Fields(static_cast<Record&>(*this), [&p](auto&... fields) {
      ((fields = GetLE<std::remove_reference_t<decltype(fields)>>(p), p += sizeof fields), ...);
    });
  }
  void Store(std::uint8_t* p) const {
    Record::Fields(static_cast<const Record&>(*this), [&p](const auto&... fields) {
      ((PutLE(p, fields), p += sizeof fields), ...);
    });
  }
  static constexpr std::size_t FieldBytes() {
    std::size_t bytes = 0;
    Record record{};
    Record::Fields(record, [&bytes](const auto&... fields) { bytes += (sizeof fields + ...); });
    return bytes;
  }
};

// The fields that the local and the central header share, in the order
// both store them.
// Held as words first, then halves: a directory keeps one per entry, and
// in file order they would be padded.
struct EntryHeaderFields {
  std::uint32_t Crc32 = 0;
  std::uint32_t CompressedSize = 0;
  std::uint32_t UncompressedSize = 0;
  std::uint16_t VersionNeeded = 0;
  std::uint16_t Flags = 0;
  std::uint16_t Method = 0;
  std::uint16_t ModTime = 0;
  std::uint16_t ModDate = 0;
  std::uint16_t NameLength = 0;
  std::uint16_t ExtraLength = 0;

  template <class R, class F>
  static constexpr void SharedFields(R& r, F& f) {
    f(r.VersionNeeded, r.Flags, r.Method, r.ModTime, r.ModDate, r.Crc32, r.CompressedSize, r.UncompressedSize,
      r.NameLength, r.ExtraLength);
  }
};

// Central directory file header, 46 bytes (also TDirItem::Header). Its
// signature is skipped as read and written as the constant: nothing goes by
// it, and a directory of a million entries holds no million copies of it.
struct CentralDirectoryHeader : PackedRecord<CentralDirectoryHeader>, EntryHeaderFields {
  static constexpr std::size_t kSize = 46;
  std::uint16_t VersionMadeBy = 0;
  std::uint16_t CommentLength = 0;
  std::uint16_t DiskNumberStart = 0;
  std::uint16_t InternalAttributes = 0;
  std::uint32_t ExternalAttributes = 0;
  std::uint32_t LocalHeaderOffset = 0;

  template <class R, class F>
  static constexpr void Fields(R& r, F&& f) {
    std::uint32_t signature = kCentralHeaderSignature;
    f(signature, r.VersionMadeBy);
    SharedFields(r, f);
    f(r.CommentLength, r.DiskNumberStart, r.InternalAttributes, r.ExternalAttributes, r.LocalHeaderOffset);
  }
};
static_assert(CentralDirectoryHeader::FieldBytes() == CentralDirectoryHeader::kSize);
static_assert(sizeof(CentralDirectoryHeader) == 44);

// Local file header, 30 bytes (then the name and the extra field).
struct LocalFileHeader : PackedRecord<LocalFileHeader>, EntryHeaderFields {
  static constexpr std::size_t kSize = 30;
  std::uint32_t Signature = 0;

  template <class R, class F>
  static constexpr void Fields(R& r, F&& f) {
    f(r.Signature);
    SharedFields(r, f);
  }
};
static_assert(LocalFileHeader::FieldBytes() == LocalFileHeader::kSize);

// Data descriptor as read: 16 bytes, starting with its signature.
struct DataDescriptor : PackedRecord<DataDescriptor> {
  static constexpr std::size_t kSize = 16;
  std::uint32_t Signature = 0;
  std::uint32_t Crc32 = 0;
  std::uint32_t CompressedSize = 0;
  std::uint32_t UncompressedSize = 0;

  template <class R, class F>
  static constexpr void Fields(R& r, F&& f) {
    f(r.Signature, r.Crc32, r.CompressedSize, r.UncompressedSize);
  }
};
static_assert(DataDescriptor::FieldBytes() == DataDescriptor::kSize);

// End of central directory record, 22 bytes (then the archive comment).
struct EndOfCentralDirectory : PackedRecord<EndOfCentralDirectory> {
  static constexpr std::size_t kSize = 22;
  std::uint32_t Signature = 0;
  std::uint16_t DiskNumber = 0;
  std::uint16_t StartDiskNumber = 0;
  std::uint16_t EntriesOnDisk = 0;
  std::uint16_t EntriesTotal = 0;
  std::uint32_t CentralDirSize = 0;
  std::uint32_t CentralDirOffset = 0;
  std::uint16_t CommentLength = 0;

  template <class R, class F>
  static constexpr void Fields(R& r, F&& f) {
    f(r.Signature, r.DiskNumber, r.StartDiskNumber, r.EntriesOnDisk, r.EntriesTotal, r.CentralDirSize,
      r.CentralDirOffset, r.CommentLength);
  }
};
static_assert(EndOfCentralDirectory::FieldBytes() == EndOfCentralDirectory::kSize);

// Zip64 end of central directory locator, 20 bytes.
struct Zip64EndOfCentralDirectoryLocator : PackedRecord<Zip64EndOfCentralDirectoryLocator> {
  static constexpr std::size_t kSize = 20;
  std::uint32_t Signature = 0;
  std::uint32_t EndRecordDisk = 0;
  std::uint64_t EndRecordOffset = 0;
  std::uint32_t TotalDisks = 0;

  template <class R, class F>
  static constexpr void Fields(R& r, F&& f) {
    f(r.Signature, r.EndRecordDisk, r.EndRecordOffset, r.TotalDisks);
  }
};
static_assert(Zip64EndOfCentralDirectoryLocator::FieldBytes() == Zip64EndOfCentralDirectoryLocator::kSize);

// Zip64 end of central directory record as read, 56 bytes.
struct Zip64EndOfCentralDirectory : PackedRecord<Zip64EndOfCentralDirectory> {
  static constexpr std::size_t kSize = 56;
  std::uint32_t Signature = 0;
  std::uint64_t RecordSize = 0;
  std::uint16_t VersionMadeBy = 0;
  std::uint16_t VersionNeeded = 0;
  std::uint32_t DiskNumber = 0;
  std::uint32_t StartDiskNumber = 0;
  std::uint64_t EntriesOnDisk = 0;
  std::uint64_t EntriesTotal = 0;
  std::uint64_t CentralDirSize = 0;
  std::uint64_t CentralDirOffset = 0;

  template <class R, class F>
  static constexpr void Fields(R& r, F&& f) {
    f(r.Signature, r.RecordSize, r.VersionMadeBy, r.VersionNeeded, r.DiskNumber, r.StartDiskNumber, r.EntriesOnDisk,
      r.EntriesTotal, r.CentralDirSize, r.CentralDirOffset);
  }
};
static_assert(Zip64EndOfCentralDirectory::FieldBytes() == Zip64EndOfCentralDirectory::kSize);

}  // namespace za
