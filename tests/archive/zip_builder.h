#pragma once
// Writes small zip archives byte by byte, so that tests can build exactly the
// structures (and the damage) they are about.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace za::testing {

inline void Put16(std::string& s, std::uint32_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
inline void Put32(std::string& s, std::uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
inline std::string Le32(std::uint32_t v) {
  std::string s;
  Put32(s, v);
  return s;
}
inline void Put64(std::string& s, std::uint64_t v) {
  Put32(s, static_cast<std::uint32_t>(v));
  Put32(s, static_cast<std::uint32_t>(v >> 32));
}

// One extra-field block.
inline std::string Block(std::uint16_t tag, const std::string& data) {
  std::string s;
  Put16(s, tag);
  Put16(s, static_cast<std::uint32_t>(data.size()));
  return s + data;
}

// A "NUCX" Unicode name block.
inline std::string UnicodeNameBlock(const std::u16string& name) {
  std::string d = "NUCX";
  Put32(d, static_cast<std::uint32_t>(name.size()));
  for (char16_t c : name) Put16(d, c);
  return Block(0x554E, d);
}

inline std::uint32_t Crc(const std::string& data) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Raw deflate data, as zip entries carry it.
inline std::string RawDeflate(const std::string& plain, int level = 6) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(plain.size())) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  z.avail_in = static_cast<uInt>(plain.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

struct Entry {
  Entry(std::string n, std::string d, std::uint16_t m = 0, std::uint16_t f = 0, std::uint16_t v = 20)
      : name(std::move(n)), data(std::move(d)), method(m), flags(f), versionNeeded(v) {}
  // A deflated entry of `plain`.
  static Entry Deflated(std::string n, const std::string& plain) {
    Entry e(std::move(n), RawDeflate(plain), 8);
    e.plain = plain;
    e.hasPlain = true;
    return e;
  }
  std::uint32_t PlainSize() const { return static_cast<std::uint32_t>(hasPlain ? plain.size() : data.size()); }
  std::uint32_t PlainCrc() const { return Crc(hasPlain ? plain : data); }
  std::string name;
  std::string data;  // as it lies in the archive
  std::string plain;  // the content, when `data` is compressed
  bool hasPlain = false;
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
  std::uint16_t versionNeeded = 20;
  std::uint16_t time = 0x6000;  // 12:00:00
  std::uint16_t date = 0x5A21;  // 2025-01-01
  std::uint32_t attributes = 0x20;
  std::string localExtra, centralExtra, comment;
  bool zip64 = false;  // all-ones sizes and offset, real values in a Zip64 block
  // Overrides of the central header, when set.
  std::int64_t crcOverride = -1, sizeOverride = -1, packedOverride = -1;
  std::int64_t offsetOverride = -1;  // the local header's offset as the central header gives it
  std::string localName;  // a local name other than the central one
};

// An entry encrypted with the classic PKZip cipher. The encryption header
// is a fixed pattern, not random, so that a test gives the same bytes, and
// the same verdict on a wrong password, every run.
inline Entry ClassicEncrypted(std::string name, const std::string& plain, const std::string& password) {
  const z_crc_t* table = get_crc_table();
  std::uint32_t k[3] = {0x12345678, 0x23456789, 0x34567890};
  auto update = [&](std::uint8_t p) {
    k[0] = static_cast<std::uint32_t>(table[(k[0] ^ p) & 0xFF]) ^ (k[0] >> 8);
    k[1] = (k[1] + (k[0] & 0xFF)) * 134775813u + 1;
    k[2] = static_cast<std::uint32_t>(table[(k[2] ^ (k[1] >> 24)) & 0xFF]) ^ (k[2] >> 8);
  };
  for (unsigned char c : password) update(c);
  std::string clear(11, '\x5A');
  clear += static_cast<char>(Crc(plain) >> 24);  // the byte the password check compares
  clear += plain;
  std::string data;
  for (unsigned char p : clear) {
    std::uint32_t t = (k[2] | 2) & 0xFFFF;
    data.push_back(static_cast<char>(p ^ ((t * (t ^ 1)) >> 8)));
    update(p);
  }
  Entry e(std::move(name), data, 0, 1);
  e.plain = plain;
  e.hasPlain = true;
  return e;
}

// The run of fields that local and central headers share, from the version
// needed to the date.
inline void PutVersionToDate(std::string& s, const Entry& e) {
  Put16(s, e.versionNeeded);
  Put16(s, e.flags);
  Put16(s, e.method);
  Put16(s, e.time);
  Put16(s, e.date);
}

struct Archive {
  std::vector<Entry> entries;
  std::string comment;
  std::string prefix;           // bytes in front of the zip data
  bool prefixInOffsets = true;  // offsets count the prefix (a proper self-extractor)
  bool zip64End = false;        // Zip64 end record and locator in front of the end record
  std::string trailing;         // bytes after the end record and its comment
  std::int64_t totalOverride = -1;  // total entries in the end record

  std::string Build() const {
    std::string out = prefix;
    std::uint64_t base = prefixInOffsets ? 0 : prefix.size();
    std::vector<std::uint64_t> offsets;
    for (const Entry& e : entries) {
      offsets.push_back(out.size() - base);
      std::uint32_t crc = e.PlainCrc();
      Put32(out, 0x04034B50);
      Put16(out, e.versionNeeded);
      Put16(out, e.flags);
      Put16(out, e.method);
      Put16(out, e.time);
      Put16(out, e.date);
      bool dd = e.flags & 8;
      Put32(out, dd ? 0 : crc);
      Put32(out, dd ? 0 : (e.zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(e.data.size())));
      Put32(out, dd ? 0 : (e.zip64 ? 0xFFFFFFFF : e.PlainSize()));
      Put16(out, static_cast<std::uint32_t>(e.localName.empty() ? e.name.size() : e.localName.size()));
      Put16(out, static_cast<std::uint32_t>(e.localExtra.size()));
      out += (e.localName.empty() ? e.name : e.localName) + e.localExtra + e.data;
      if (dd) {
        Put32(out, 0x08074B50);
        Put32(out, crc);
        Put32(out, static_cast<std::uint32_t>(e.data.size()));
        Put32(out, e.PlainSize());
      }
    }
    std::uint64_t dirStart = out.size();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const Entry& e = entries[i];
      std::string extra = e.centralExtra;
      if (e.zip64) {
        std::string z;
        Put64(z, e.PlainSize());
        Put64(z, e.data.size());
        Put64(z, offsets[i]);
        extra = Block(0x0001, z) + extra;
      }
      Put32(out, 0x02014B50);
      Put16(out, 20);
      Put16(out, e.versionNeeded);
      Put16(out, e.flags);
      Put16(out, e.method);
      Put16(out, e.time);
      Put16(out, e.date);
      Put32(out, e.crcOverride >= 0 ? static_cast<std::uint32_t>(e.crcOverride) : e.PlainCrc());
      Put32(out, e.zip64 ? 0xFFFFFFFF
                         : (e.packedOverride >= 0 ? static_cast<std::uint32_t>(e.packedOverride)
                                                  : static_cast<std::uint32_t>(e.data.size())));
      Put32(out, e.zip64 ? 0xFFFFFFFF
                         : (e.sizeOverride >= 0 ? static_cast<std::uint32_t>(e.sizeOverride) : e.PlainSize()));
      Put16(out, static_cast<std::uint32_t>(e.name.size()));
      Put16(out, static_cast<std::uint32_t>(extra.size()));
      Put16(out, static_cast<std::uint32_t>(e.comment.size()));
      Put16(out, 0);
      Put16(out, 0);
      Put32(out, e.attributes);
      Put32(out, e.zip64 ? 0xFFFFFFFF
                         : static_cast<std::uint32_t>(e.offsetOverride >= 0 ? e.offsetOverride : offsets[i]));
      out += e.name + extra + e.comment;
    }
    std::uint64_t dirSize = out.size() - dirStart;
    std::uint64_t total = totalOverride >= 0 ? static_cast<std::uint64_t>(totalOverride) : entries.size();
    if (zip64End) {
      std::uint64_t at = out.size() - base;
      Put32(out, 0x06064B50);
      Put64(out, 44);
      Put16(out, 45);
      Put16(out, 45);
      Put32(out, 0);
      Put32(out, 0);
      Put64(out, total);
      Put64(out, total);
      Put64(out, dirSize);
      Put64(out, dirStart - base);
      Put32(out, 0x07064B50);
      Put32(out, 0);
      Put64(out, at);
      Put32(out, 1);
    }
    Put32(out, 0x06054B50);
    Put16(out, 0);
    Put16(out, 0);
    std::uint32_t shown = zip64End ? 0xFFFF : static_cast<std::uint32_t>(total);
    Put16(out, shown);
    Put16(out, shown);
    Put32(out, zip64End ? 0xFFFFFFFF : static_cast<std::uint32_t>(dirSize));
    Put32(out, zip64End ? 0xFFFFFFFF : static_cast<std::uint32_t>(dirStart - base));
    Put16(out, static_cast<std::uint32_t>(comment.size()));
    out += comment + trailing;
    return out;
  }
};

}  // namespace za::testing
