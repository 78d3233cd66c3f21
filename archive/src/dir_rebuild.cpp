// The directory loader's searches through the archive's bytes: signatures,
// the prefix in front of the archive, and the rebuild of the directory from
// the local headers when the central directory cannot be read.
#include <algorithm>
#include <cstring>
#include <limits>

#include "archive/byte_reader.h"
#include "archive/dir_manager.h"
#include "archive/errors.h"
#include "archive/stream.h"

namespace za {

namespace {

constexpr std::size_t kScanBlock = 65536;  // read at a time by the forward searches

}  // namespace

std::int64_t TZADirManager::ScanForward(std::uint32_t signature, std::int64_t from) {
  std::int64_t size = ArchiveStream->Size();
  std::int64_t pos = std::max<std::int64_t>(from, 0);
  const std::uint8_t s0 = static_cast<std::uint8_t>(signature);
  while (pos <= size - 4) {
    std::int64_t scanEnd = scanStart_ + static_cast<std::int64_t>(scan_.size());
    if (scanStart_ < 0 || pos < scanStart_ || pos + 4 > scanEnd) {
      std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(kScanBlock, size - pos));
      scan_.resize(n);
      if (!ReadAt(pos, scan_.data(), n)) {
        scanStart_ = -1;
        throw EReadError();
      }
      scanStart_ = pos;
      scanEnd = pos + static_cast<std::int64_t>(n);
    }
    const std::uint8_t* begin = scan_.data() + (pos - scanStart_);
    const std::uint8_t* last = scan_.data() + scan_.size() - 4;  // last start that fits
    for (const std::uint8_t* p = begin; p <= last;) {
      const void* hit = std::memchr(p, s0, static_cast<std::size_t>(last - p) + 1);
      if (!hit) break;
      p = static_cast<const std::uint8_t*>(hit);
      if (GetU32(p) == signature) return scanStart_ + (p - scan_.data());
      ++p;
    }
    pos = scanEnd - 3;  // the next block overlaps the last three bytes
  }
  return -1;
}

std::int64_t TZADirManager::SearchSignature(std::uint32_t signature, std::int64_t from) {
  TZAPositionGuard guard(*ArchiveStream);
  return ScanForward(signature, from);
}

std::int64_t TZADirManager::FindLocalHeader(std::int64_t from) {
  TZAPositionGuard guard(*ArchiveStream);
  std::int64_t q = ScanForward(kLocalHeaderSignature, from);
  if (q >= 0 && ArchiveStream->Size() - q < static_cast<std::int64_t>(LocalFileHeader::kSize)) return -1;
  return q;
}

bool TZADirManager::FindDataDescriptor(std::int64_t from, DataDescriptor& descriptor) {
  TZAPositionGuard guard(*ArchiveStream);
  std::int64_t q = ScanForward(kDataDescriptorSignature, from);
  if (q < 0 || ArchiveStream->Size() - q < static_cast<std::int64_t>(DataDescriptor::kSize)) return false;
  std::uint8_t buf[DataDescriptor::kSize];
  if (!ReadAt(q, buf, sizeof buf)) return false;
  descriptor.Parse(buf);
  return true;
}

void TZADirManager::DetectPrefix(std::int64_t position) {
  if (EndRecord.EntriesTotal == 0 || Items.Count() == 0) {
    PrefixLength = position;
    return;
  }
  const CentralDirectoryHeader& t = Items.GetItem(0).Header;
  std::uint64_t first = t.LocalHeaderOffset == 0xFFFFFFFF ? std::uint64_t{Items.GetItem(0).Zip64LocalHeaderOffset} : t.LocalHeaderOffset;
  std::int64_t size = ArchiveStream->Size();
  if (first >= static_cast<std::uint64_t>(size)) return;
  std::int64_t candidate = static_cast<std::int64_t>(first);
  TZAPositionGuard guard(*ArchiveStream);
  while (candidate < size) {
    std::int64_t q = ScanForward(kLocalHeaderSignature, candidate);
    if (q < 0) return;
    std::uint8_t buf[LocalFileHeader::kSize];
    if (size - q >= static_cast<std::int64_t>(sizeof buf) && ReadAt(q, buf, sizeof buf)) {
      LocalFileHeader h;
      h.Parse(buf);
      bool nameReadable = size - q - static_cast<std::int64_t>(sizeof buf) >= h.NameLength;
      // A size of 0xFFFFFFFF stands for one in a Zip64 block, and the local
      // and central headers need not put the same sizes there.
      auto sameSize = [](std::uint32_t local, std::uint32_t central) {
        return local == central || local == 0xFFFFFFFF || central == 0xFFFFFFFF;
      };
      if (nameReadable &&
          (q == 0 || (h.VersionNeeded == t.VersionNeeded && h.Method == t.Method && h.ModTime == t.ModTime &&
                      h.ModDate == t.ModDate && h.Crc32 == t.Crc32 && sameSize(h.CompressedSize, t.CompressedSize) &&
                      sameSize(h.UncompressedSize, t.UncompressedSize)))) {
        PrefixLength = q;
        return;
      }
    }
    candidate = q + 1;
  }
}

void TZADirManager::ApplyPrefixOffset() {
  HeaderOrder.Known = false;
  std::uint32_t prefix = static_cast<std::uint32_t>(PrefixLength);
  for (std::int32_t i = 0; i < Items.Count(); ++i) {
    TDirItem& item = Items.ItemAt(i);
    if (item.Header.ExternalAttributes & 0x10) continue;
    // An offset held in the Zip64 block moves there; the all-ones mark stays.
    if (item.Header.LocalHeaderOffset == 0xFFFFFFFF)
      item.Zip64LocalHeaderOffset += static_cast<std::uint64_t>(PrefixLength);
    else
      item.Header.LocalHeaderOffset += prefix;
  }
}

void TZADirManager::RebuildFromLocalHeaders() {
  Rebuilt = true;
  RebuildDropped.clear();
  Items.Clear();
  if (Spanning()) throw EZAException(neOpenAborted, nullptr);
  std::int64_t size = ArchiveStream->Size();
  std::int64_t q = FindLocalHeader(0);
  if (q < 0) throw EZAException(neInvalidArchive, nullptr);
  std::vector<std::uint8_t> bytes;
  while (q >= 0) {
    std::uint8_t buf[LocalFileHeader::kSize];
    if (!ReadAt(q, buf, sizeof buf)) throw EReadError();
    LocalFileHeader lh;
    lh.Parse(buf);
    if (static_cast<std::int64_t>(lh.CompressedSize) < size && lh.NameLength <= 260) {
      std::int32_t i = Items.Count();
      Items.SetCount(i + 1);
      TDirItem& item = Items.ItemAt(i);
      item = TDirItem{};
      CentralDirectoryHeader& h = item.Header;
      h.VersionMadeBy = lh.VersionNeeded;
      static_cast<EntryHeaderFields&>(h) = lh;  // the fields the two headers share
      h.ExternalAttributes = (lh.UncompressedSize == 0 && !(lh.Flags & 8)) ? 0x10 : 0x20;
      h.LocalHeaderOffset = static_cast<std::uint32_t>(q);
      item.ActualMethod = lh.Method;
      if ((h.Flags & 1) && h.VersionNeeded < kNoAesVersion) item.CryptoAlgorithm = caPkzipClassic;
      std::int64_t nameAt = q + static_cast<std::int64_t>(sizeof buf);
      if (size - nameAt < lh.NameLength) {
        // The name is cut off by the end of the stream: an empty name, and
        // nothing further is read for the entry.
        Items.SetName(i, std::u16string_view());
      } else {
        bytes.resize(lh.NameLength);
        if (lh.NameLength && !ReadAt(nameAt, bytes.data(), bytes.size())) throw EReadError();
        DecodeStoredName(i, bytes.data(), bytes.size(), lh.Flags);
        if (lh.ExtraLength) {
          bytes.resize(lh.ExtraLength);
          if (!ReadAt(nameAt + lh.NameLength, bytes.data(), bytes.size())) throw EReadError();
          WalkExtraField(i, bytes.data(), bytes.size());
        }
      }
      if (lh.Flags & 8) {
        DataDescriptor dd;
        if (FindDataDescriptor(q, dd)) {
          TDirItem& again = Items.ItemAt(i);
          again.Header.Crc32 = dd.Crc32;
          again.Header.CompressedSize = dd.CompressedSize;
          again.Header.UncompressedSize = dd.UncompressedSize;
        }
      }
    } else if (lh.NameLength > 0 && lh.NameLength <= 260) {
      std::int64_t nameAt = q + static_cast<std::int64_t>(sizeof buf);
      bytes.resize(lh.NameLength);
      if (size - nameAt >= lh.NameLength && ReadAt(nameAt, bytes.data(), bytes.size())) {
        DecodeName(bytes.data(), bytes.size(), lh.Flags);
        RebuildDropped.push_back(wideName_);
      }
    }
    q = FindLocalHeader(q + 4);
  }
  DirectoryStart = size;
}

}  // namespace za
