#pragma once
// Zip records as read: little-endian, byte-packed. Each record
// has Parse (from exactly its size in bytes) and Store (the reverse).
#include <cstdint>
#include <cstring>

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
constexpr std::uint16_t kNoAesVersion = 0x4114;  // VersionNeeded from which AES is not decided

inline std::uint16_t GetU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t GetU64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(GetU32(p)) | (static_cast<std::uint64_t>(GetU32(p + 4)) << 32);
}
inline void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutU64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Central directory file header, 46 bytes (also TDirItem::Header).
struct CentralDirectoryHeader {
  static constexpr std::size_t kSize = 46;
  std::uint32_t Signature = 0;
  std::uint16_t VersionMadeBy = 0;
  std::uint16_t VersionNeeded = 0;
  std::uint16_t Flags = 0;
  std::uint16_t Method = 0;
  std::uint16_t ModTime = 0;
  std::uint16_t ModDate = 0;
  std::uint32_t Crc32 = 0;
  std::uint32_t CompressedSize = 0;
  std::uint32_t UncompressedSize = 0;
  std::uint16_t NameLength = 0;
  std::uint16_t ExtraLength = 0;
  std::uint16_t CommentLength = 0;
  std::uint16_t DiskNumberStart = 0;
  std::uint16_t InternalAttributes = 0;
  std::uint32_t ExternalAttributes = 0;
  std::uint32_t LocalHeaderOffset = 0;

  void Parse(const std::uint8_t* p) {
    Signature = GetU32(p);
    VersionMadeBy = GetU16(p + 4);
    VersionNeeded = GetU16(p + 6);
    Flags = GetU16(p + 8);
    Method = GetU16(p + 10);
    ModTime = GetU16(p + 12);
    ModDate = GetU16(p + 14);
    Crc32 = GetU32(p + 16);
    CompressedSize = GetU32(p + 20);
    UncompressedSize = GetU32(p + 24);
    NameLength = GetU16(p + 28);
    ExtraLength = GetU16(p + 30);
    CommentLength = GetU16(p + 32);
    DiskNumberStart = GetU16(p + 34);
    InternalAttributes = GetU16(p + 36);
    ExternalAttributes = GetU32(p + 38);
    LocalHeaderOffset = GetU32(p + 42);
  }
  void Store(std::uint8_t* p) const {
    PutU32(p, Signature);
    PutU16(p + 4, VersionMadeBy);
    PutU16(p + 6, VersionNeeded);
    PutU16(p + 8, Flags);
    PutU16(p + 10, Method);
    PutU16(p + 12, ModTime);
    PutU16(p + 14, ModDate);
    PutU32(p + 16, Crc32);
    PutU32(p + 20, CompressedSize);
    PutU32(p + 24, UncompressedSize);
    PutU16(p + 28, NameLength);
    PutU16(p + 30, ExtraLength);
    PutU16(p + 32, CommentLength);
    PutU16(p + 34, DiskNumberStart);
    PutU16(p + 36, InternalAttributes);
    PutU32(p + 38, ExternalAttributes);
    PutU32(p + 42, LocalHeaderOffset);
  }
};

// Local file header, 30 bytes (then the name and the extra field).
struct LocalFileHeader {
  static constexpr std::size_t kSize = 30;
  std::uint32_t Signature = 0;
  std::uint16_t VersionNeeded = 0;
  std::uint16_t Flags = 0;
  std::uint16_t Method = 0;
  std::uint16_t ModTime = 0;
  std::uint16_t ModDate = 0;
  std::uint32_t Crc32 = 0;
  std::uint32_t CompressedSize = 0;
  std::uint32_t UncompressedSize = 0;
  std::uint16_t NameLength = 0;
  std::uint16_t ExtraLength = 0;

  void Parse(const std::uint8_t* p) {
    Signature = GetU32(p);
    VersionNeeded = GetU16(p + 4);
    Flags = GetU16(p + 6);
    Method = GetU16(p + 8);
    ModTime = GetU16(p + 10);
    ModDate = GetU16(p + 12);
    Crc32 = GetU32(p + 14);
    CompressedSize = GetU32(p + 18);
    UncompressedSize = GetU32(p + 22);
    NameLength = GetU16(p + 26);
    ExtraLength = GetU16(p + 28);
  }
  void Store(std::uint8_t* p) const {
    PutU32(p, Signature);
    PutU16(p + 4, VersionNeeded);
    PutU16(p + 6, Flags);
    PutU16(p + 8, Method);
    PutU16(p + 10, ModTime);
    PutU16(p + 12, ModDate);
    PutU32(p + 14, Crc32);
    PutU32(p + 18, CompressedSize);
    PutU32(p + 22, UncompressedSize);
    PutU16(p + 26, NameLength);
    PutU16(p + 28, ExtraLength);
  }
};

// Data descriptor as read: 16 bytes, starting with its signature.
struct DataDescriptor {
  static constexpr std::size_t kSize = 16;
  std::uint32_t Signature = 0;
  std::uint32_t Crc32 = 0;
  std::uint32_t CompressedSize = 0;
  std::uint32_t UncompressedSize = 0;

  void Parse(const std::uint8_t* p) {
    Signature = GetU32(p);
    Crc32 = GetU32(p + 4);
    CompressedSize = GetU32(p + 8);
    UncompressedSize = GetU32(p + 12);
  }
};

// End of central directory record, 22 bytes (then the archive comment).
struct EndOfCentralDirectory {
  static constexpr std::size_t kSize = 22;
  std::uint32_t Signature = 0;
  std::uint16_t DiskNumber = 0;
  std::uint16_t StartDiskNumber = 0;
  std::uint16_t EntriesOnDisk = 0;
  std::uint16_t EntriesTotal = 0;
  std::uint32_t CentralDirSize = 0;
  std::uint32_t CentralDirOffset = 0;
  std::uint16_t CommentLength = 0;

  void Parse(const std::uint8_t* p) {
    Signature = GetU32(p);
    DiskNumber = GetU16(p + 4);
    StartDiskNumber = GetU16(p + 6);
    EntriesOnDisk = GetU16(p + 8);
    EntriesTotal = GetU16(p + 10);
    CentralDirSize = GetU32(p + 12);
    CentralDirOffset = GetU32(p + 16);
    CommentLength = GetU16(p + 20);
  }
  void Store(std::uint8_t* p) const {
    PutU32(p, Signature);
    PutU16(p + 4, DiskNumber);
    PutU16(p + 6, StartDiskNumber);
    PutU16(p + 8, EntriesOnDisk);
    PutU16(p + 10, EntriesTotal);
    PutU32(p + 12, CentralDirSize);
    PutU32(p + 16, CentralDirOffset);
    PutU16(p + 20, CommentLength);
  }
};

// Zip64 end of central directory locator, 20 bytes.
struct Zip64EndOfCentralDirectoryLocator {
  static constexpr std::size_t kSize = 20;
  std::uint32_t Signature = 0;
  std::uint32_t EndRecordDisk = 0;
  std::uint64_t EndRecordOffset = 0;
  std::uint32_t TotalDisks = 0;

  void Parse(const std::uint8_t* p) {
    Signature = GetU32(p);
    EndRecordDisk = GetU32(p + 4);
    EndRecordOffset = GetU64(p + 8);
    TotalDisks = GetU32(p + 16);
  }
  void Store(std::uint8_t* p) const {
    PutU32(p, Signature);
    PutU32(p + 4, EndRecordDisk);
    PutU64(p + 8, EndRecordOffset);
    PutU32(p + 16, TotalDisks);
  }
};

// Zip64 end of central directory record as read, 56 bytes.
struct Zip64EndOfCentralDirectory {
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

  void Parse(const std::uint8_t* p) {
    Signature = GetU32(p);
    RecordSize = GetU64(p + 4);
    VersionMadeBy = GetU16(p + 12);
    VersionNeeded = GetU16(p + 14);
    DiskNumber = GetU32(p + 16);
    StartDiskNumber = GetU32(p + 20);
    EntriesOnDisk = GetU64(p + 24);
    EntriesTotal = GetU64(p + 32);
    CentralDirSize = GetU64(p + 40);
    CentralDirOffset = GetU64(p + 48);
  }
  void Store(std::uint8_t* p) const {
    PutU32(p, Signature);
    PutU64(p + 4, RecordSize);
    PutU16(p + 12, VersionMadeBy);
    PutU16(p + 14, VersionNeeded);
    PutU32(p + 16, DiskNumber);
    PutU32(p + 20, StartDiskNumber);
    PutU64(p + 24, EntriesOnDisk);
    PutU64(p + 32, EntriesTotal);
    PutU64(p + 40, CentralDirSize);
    PutU64(p + 48, CentralDirOffset);
  }
};

}  // namespace za
