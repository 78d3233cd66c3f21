#pragma once
// Multi-volume archives written as Info-ZIP writes split archives: the
// split signature first, offsets counted within each volume, entry data and
// the central directory running on from one volume into the next wherever
// the volume is full. The end structures are never cut: the last volume
// grows to hold them.
#include <cstdint>
#include <string>
#include <vector>

#include "zip_builder.h"

namespace za::testing {

struct SplitArchive {
  std::vector<Entry> entries;
  std::size_t volumeSize = 100;
  // Zip64: every central header and the end record hold all ones, the real
  // values (disk numbers included) are in Zip64 blocks and records.
  bool zip64 = false;

  std::vector<std::string> Build() const {
    std::vector<std::string> volumes(1);
    auto put = [&](const std::string& bytes) {
      for (char c : bytes) {
        if (volumes.back().size() >= volumeSize) volumes.emplace_back();
        volumes.back().push_back(c);
      }
    };
    // Where the next byte goes: a full volume hands over to the next.
    auto here = [&](std::uint32_t& disk, std::uint64_t& offset) {
      bool full = volumes.back().size() >= volumeSize;
      disk = static_cast<std::uint32_t>(volumes.size() - (full ? 0 : 1));
      offset = full ? 0 : volumes.back().size();
    };
    std::string signature;
    Put32(signature, 0x08074B50);
    put(signature);
    std::vector<std::uint32_t> disks;
    std::vector<std::uint64_t> offsets;
    for (const Entry& e : entries) {
      std::uint32_t disk;
      std::uint64_t offset;
      here(disk, offset);
      disks.push_back(disk);
      offsets.push_back(offset);
      std::string h;
      Put32(h, 0x04034B50);
      PutVersionToDate(h, e);
      Put32(h, e.PlainCrc());
      Put32(h, static_cast<std::uint32_t>(e.data.size()));
      Put32(h, e.PlainSize());
      Put16(h, static_cast<std::uint32_t>(e.name.size()));
      Put16(h, 0);
      put(h + e.name + e.data);
    }
    std::uint32_t dirDisk;
    std::uint64_t dirOffset;
    here(dirDisk, dirOffset);
    std::uint64_t dirSize = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const Entry& e = entries[i];
      std::string extra;
      if (zip64) {
        std::string z;
        Put64(z, e.PlainSize());
        Put64(z, e.data.size());
        Put64(z, offsets[i]);
        Put32(z, disks[i]);
        extra = Block(0x0001, z);
      }
      std::string h;
      Put32(h, 0x02014B50);
      Put16(h, 20);
      PutVersionToDate(h, e);
      Put32(h, e.PlainCrc());
      Put32(h, zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(e.data.size()));
      Put32(h, zip64 ? 0xFFFFFFFF : e.PlainSize());
      Put16(h, static_cast<std::uint32_t>(e.name.size()));
      Put16(h, static_cast<std::uint32_t>(extra.size()));
      Put16(h, 0);
      Put16(h, zip64 ? 0xFFFF : disks[i]);
      Put16(h, 0);
      Put32(h, e.attributes);
      Put32(h, zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(offsets[i]));
      h += e.name + extra;
      dirSize += h.size();
      put(h);
    }
    // The end structures stay whole, in the last volume.
    if (volumes.back().size() >= volumeSize) volumes.emplace_back();
    std::string& last = volumes.back();
    std::uint32_t lastDisk = static_cast<std::uint32_t>(volumes.size() - 1);
    std::uint64_t total = entries.size();
    if (zip64) {
      std::uint64_t at = last.size();
      Put32(last, 0x06064B50);
      Put64(last, 44);
      Put16(last, 45);
      Put16(last, 45);
      Put32(last, lastDisk);
      Put32(last, dirDisk);
      Put64(last, total);
      Put64(last, total);
      Put64(last, dirSize);
      Put64(last, dirOffset);
      Put32(last, 0x07064B50);
      Put32(last, lastDisk);
      Put64(last, at);
      Put32(last, lastDisk + 1);
    }
    Put32(last, 0x06054B50);
    Put16(last, zip64 ? 0xFFFF : lastDisk);
    Put16(last, zip64 ? 0xFFFF : dirDisk);
    Put16(last, zip64 ? 0xFFFF : 0);
    Put16(last, zip64 ? 0xFFFF : static_cast<std::uint32_t>(total));
    Put32(last, zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(dirSize));
    Put32(last, zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(dirOffset));
    Put16(last, 0);
    return volumes;
  }
};

}  // namespace za::testing
