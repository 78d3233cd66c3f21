#include "archive/time_blocks.h"

#include "archive/byte_reader.h"
#include "archive/records.h"

namespace za {

namespace {

constexpr std::int64_t kSecondsFrom1601 = 11644473600;
constexpr std::uint64_t kTicksPerSecond = 10000000;

// An NTFS time: 0 means none was kept.
std::optional<sys::FileTime> FromTicks(std::uint64_t ticks) {
  if (ticks == 0) return std::nullopt;
  return sys::FileTime{static_cast<std::int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601,
                       static_cast<std::uint32_t>(ticks % kTicksPerSecond) * 100u};
}

std::uint64_t ToTicks(const sys::FileTime& t) {
  if (t.Seconds < -kSecondsFrom1601) return 0;
  return static_cast<std::uint64_t>(t.Seconds + kSecondsFrom1601) * kTicksPerSecond + t.Nanoseconds / 100u;
}

// Unix seconds in 32 bits, read as unsigned: 1970 to 2106, as 7-Zip reads
// them; a file from before 1970 is rarer than one after 2038.
sys::FileTime FromUnix(std::uint32_t seconds) { return sys::FileTime{seconds, 0}; }

std::uint32_t ToUnix(const sys::FileTime& t) {
  if (t.Seconds < 0) return 0;
  if (t.Seconds > 0xFFFFFFFFll) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(t.Seconds);
}

struct Found {
  std::optional<sys::FileTime> modified, accessed;
};

// Reserved 4 bytes, then attributes as tag, size, data; tag 1 holds the
// modification, access and creation times.
Found Ntfs(const ExtraBlock& b) {
  ByteReader r(b.Data, b.Size);
  r.Skip(4);
  while (r.Ok() && r.Remaining() >= 4) {
    std::uint16_t tag = r.U16(), size = r.U16();
    const std::uint8_t* data = r.Bytes(size);
    if (!data) break;
    if (tag != 1 || size < 24) continue;
    ByteReader times(data, size);
    std::uint64_t m = times.U64(), a = times.U64();
    return Found{FromTicks(m), FromTicks(a)};
  }
  return {};
}

// A flags byte, then the times it flags, each in 4 bytes; a central copy
// keeps the flags but only the modification time.
Found Extended(const ExtraBlock& b) {
  ByteReader r(b.Data, b.Size);
  std::uint8_t flags = r.U8();
  Found f;
  if (!r.Ok()) return f;
  if (flags & 1) {
    std::uint32_t m = r.U32();
    if (!r.Ok()) return f;
    f.modified = FromUnix(m);
  }
  if (flags & 2) {
    std::uint32_t a = r.U32();
    if (r.Ok()) f.accessed = FromUnix(a);
  }
  return f;
}

// Access time, then modification time; the ids follow in a local header.
Found OldUnix(const ExtraBlock& b) {
  ByteReader r(b.Data, b.Size);
  std::uint32_t a = r.U32(), m = r.U32();
  if (!r.Ok()) return {};
  return Found{FromUnix(m), FromUnix(a)};
}

}  // namespace

TZAEntryTimes ZAReadEntryTimes(const TZAExtraFields& blocks) {
  Found ntfs, extended, old;
  for (ExtraBlock b : blocks) {
    if (b.Tag == kNtfsExtraTag && !ntfs.modified)
      ntfs = Ntfs(b);
    else if (b.Tag == kExtendedTimeExtraTag && !extended.modified)
      extended = Extended(b);
    else if (b.Tag == kInfoZipUnixExtraTag && !old.modified)
      old = OldUnix(b);
  }
  TZAEntryTimes t;
  for (const Found* f : {&ntfs, &extended, &old}) {
    if (!t.Modified && f->modified) {
      t.Modified = f->modified;
      t.ResolutionNs = f == &ntfs ? 100u : 1000000000u;
    }
    if (!t.Accessed && f->accessed) t.Accessed = f->accessed;
  }
  return t;
}

bool ZAAccessTimeIsLocal(const TZAExtraFields& central) {
  if (ZAReadEntryTimes(central).Accessed) return false;
  bool found = false;
  ExtraBlock b = central.Find(kExtendedTimeExtraTag, &found);
  return found && b.Size >= 1 && (b.Data[0] & 2);
}

std::optional<sys::FileTime> ZALocalAccessTime(const std::uint8_t* extra, std::size_t size) {
  ByteReader r(extra, size);
  while (r.Ok() && r.Remaining() >= 4) {
    ExtraBlock b;
    b.Tag = r.U16();
    b.Size = r.U16();
    b.Data = r.Bytes(b.Size);
    if (!b.Data) break;
    if (b.Tag == kExtendedTimeExtraTag) return Extended(b).accessed;
  }
  return std::nullopt;
}

std::optional<TZAEntryOwner> ZAReadEntryOwner(const TZAExtraFields& blocks) {
  std::optional<TZAEntryOwner> old;
  for (ExtraBlock b : blocks) {
    ByteReader r(b.Data, b.Size);
    if (b.Tag == kUnixOwnerExtraTag) {
      // Version 1; each id in as many bytes as its size says, of which
      // more than four would not fit an id of this system.
      if (r.U8() != 1) continue;
      std::uint32_t ids[2] = {};
      bool fits = true;
      for (std::uint32_t& id : ids) {
        std::uint8_t size = r.U8();
        const std::uint8_t* p = r.Bytes(size);
        if (!p || size > 4) {
          fits = false;
          break;
        }
        for (std::uint8_t k = 0; k < size; ++k) id |= static_cast<std::uint32_t>(p[k]) << (8 * k);
      }
      if (fits && r.Ok()) return TZAEntryOwner{ids[0], ids[1]};
    } else if (b.Tag == kInfoZipUnixExtraTag && b.Size >= 12 && !old) {
      r.Skip(8);
      std::uint16_t user = r.U16(), group = r.U16();
      if (r.Ok()) old = TZAEntryOwner{user, group};
    }
  }
  return old;
}

std::vector<std::uint8_t> ZAExtendedTimeBlock(const sys::FileTime& modified, const sys::FileTime* accessed) {
  std::vector<std::uint8_t> data(accessed ? 9 : 5);
  data[0] = accessed ? 3 : 1;
  PutU32(data.data() + 1, ToUnix(modified));
  if (accessed) PutU32(data.data() + 5, ToUnix(*accessed));
  return data;
}

std::vector<std::uint8_t> ZACentralExtendedTimeBlock(const std::uint8_t* local, std::size_t size) {
  std::vector<std::uint8_t> data(local, local + size);
  if (size >= 5 && (local[0] & 1)) data.resize(5);
  return data;
}

std::vector<std::uint8_t> ZANtfsTimeBlock(const sys::FileTime& modified, const sys::FileTime& accessed) {
  std::vector<std::uint8_t> data(4 + 4 + 24, 0);
  PutU16(data.data() + 4, 1);
  PutU16(data.data() + 6, 24);
  PutU64(data.data() + 8, ToTicks(modified));
  PutU64(data.data() + 16, ToTicks(accessed));
  // No creation time is known of a file on every system: the
  // modification time stands for it, as 7-Zip writes it without one.
  PutU64(data.data() + 24, ToTicks(modified));
  return data;
}

std::vector<std::uint8_t> ZAUnixOwnerBlock(const TZAEntryOwner& owner) {
  std::vector<std::uint8_t> data(11);
  data[0] = 1;
  data[1] = 4;
  PutU32(data.data() + 2, owner.User);
  data[6] = 4;
  PutU32(data.data() + 7, owner.Group);
  return data;
}

bool ZAIsLinkEntry(const TDirItem& item) {
  return MadeOnUnix(item.Header.VersionMadeBy) && ((item.Header.ExternalAttributes >> 16) & 0170000u) == 0120000u &&
         !item.IsFolder();
}

bool ZALaterAt(const sys::FileTime& a, const sys::FileTime& b, std::uint32_t resolutionNs) {
  if (resolutionNs == 0) resolutionNs = 1;
  auto cut = [resolutionNs](const sys::FileTime& t) {
    return sys::FileTime{t.Seconds, resolutionNs >= 1000000000u ? 0u : t.Nanoseconds / resolutionNs * resolutionNs};
  };
  return cut(a) > cut(b);
}

}  // namespace za
