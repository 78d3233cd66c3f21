// inflate_limit ARCHIVE: reads every entry's data as the engine finds it and
// inflates it with zlib, keeping a CRC-32 and writing nothing: what decoding
// costs at the least, for the extraction benchmark to compare with.
#include <zlib.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "archive/archiver.h"
#include "sys/codepage.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: inflate_limit ARCHIVE\n");
    return 2;
  }
  za::TZipArchiver zip;
  zip.SetFileName(sys::Utf8ToWide(argv[1]));
  zip.OpenArchive(za::kZAModeReadOnly);
  za::TZAStream& in = *zip.ArchiveStream();
  constexpr std::size_t kChunk = 1 << 20;
  std::vector<std::uint8_t> chunk(kChunk), out(kChunk);
  std::uint64_t total = 0;
  int bad = 0;
  for (std::int32_t i = 0; i < zip.Count(); ++i) {
    const za::TDirItem& item = zip.Item(i);
    in.SetPosition(static_cast<std::int64_t>(item.LocalOffset()));
    std::uint8_t header[30];
    in.ReadBuffer(header, sizeof header);
    in.Seek(za::GetU16(header + 26) + za::GetU16(header + 28), za::TZASeekOrigin::soCurrent);
    std::uint64_t left = item.PackedSize();
    uLong crc = crc32(0, nullptr, 0);
    z_stream z{};
    inflateInit2(&z, -15);
    while (left > 0) {
      std::size_t n = left < kChunk ? static_cast<std::size_t>(left) : kChunk;
      in.ReadBuffer(chunk.data(), static_cast<std::int64_t>(n));
      left -= n;
      if (item.ActualMethod == 0) {
        crc = crc32(crc, chunk.data(), static_cast<uInt>(n));
        total += n;
        continue;
      }
      z.next_in = chunk.data();
      z.avail_in = static_cast<uInt>(n);
      do {
        z.next_out = out.data();
        z.avail_out = kChunk;
        int r = inflate(&z, Z_NO_FLUSH);
        std::size_t have = kChunk - z.avail_out;
        crc = crc32(crc, out.data(), static_cast<uInt>(have));
        total += have;
        if (r != Z_OK) break;
      } while (z.avail_in > 0);
    }
    inflateEnd(&z);
    bad += crc != item.Header.Crc32;
  }
  std::printf("%llu bytes, %d bad\n", static_cast<unsigned long long>(total), bad);
  return bad ? 1 : 0;
}
