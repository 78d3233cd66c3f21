#pragma once
// The writing side's pieces below the component: an output that counts
// what it writes and can go back to fill in a header, the records written
// from the same field lists as they are read (records.h), the Zip64 blocks,
// and the encoder that stores or deflates one entry's data with its CRC-32.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/records.h"
#include "archive/stream.h"
#include "archive/types.h"

namespace za {

// Sizes from which a value no longer fits its 32-bit field (or, for the
// counts, its 16-bit one): the all-ones value means "look in Zip64".
constexpr std::uint64_t kZip64Limit32 = 0xFFFFFFFF;
constexpr std::uint64_t kZip64Limit16 = 0xFFFF;
constexpr std::uint16_t kZip64Version = 45;
constexpr std::uint16_t kAesVersion = 51;

// Buffered output over a seekable stream that knows its position, so that
// offsets of written records never need the stream asked.
class TZAOutput {
 public:
  explicit TZAOutput(TZAStream& stream, std::size_t bufferSize = 1 << 20);
  ~TZAOutput();  // does not flush: a failed commit throws its output away
  TZAOutput(const TZAOutput&) = delete;
  TZAOutput& operator=(const TZAOutput&) = delete;

  void Write(const void* data, std::size_t size);
  std::uint64_t Position() const { return position_; }
  // Rewrites bytes already written (a header whose sizes are known now).
  void Patch(std::uint64_t at, const void* data, std::size_t size);
  // Drops everything from `at` on; writing goes on from there.
  void Truncate(std::uint64_t at);
  void Flush();  // EWriteError when the stream takes fewer bytes
  TZAStream& Stream() { return stream_; }

 private:
  TZAStream& stream_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t capacity_, used_ = 0;
  std::uint64_t position_;  // of the next byte written
};

// Copies `count` bytes of `source` from its position to `write`, at most
// 1 MiB at a time. `step`, when given, hears of the bytes copied so far
// after each piece; its false stops the copy, and false is returned.
using TZAByteWriter = std::function<void(const std::uint8_t* data, std::size_t size)>;
bool ZACopyBytes(TZAStream& source, std::uint64_t count, const TZAByteWriter& write,
                 const std::function<bool(std::uint64_t done)>& step = {});

// Has the system put what was written to the file stream `file` on its
// disk: EWriteError with the system's reason when it cannot.
void ZAFlushFile(TZAStream& file);

// Blocks of the extra field as they are written.
class TZAExtraWriter {
 public:
  void Add(std::uint16_t tag, const std::uint8_t* data, std::size_t size);
  // A Zip64 block with the given values, in the format's order.
  void AddZip64(const std::vector<std::uint64_t>& values);
  // A Unicode name block ("NUCX") carrying `name`.
  void AddUnicodeName(std::u16string_view name);
  // An AES block: vendor version, "AE", key strength, the real method.
  void AddAes(std::uint16_t vendorVersion, std::uint8_t strength, std::uint16_t method);
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  std::size_t Size() const { return bytes_.size(); }

 private:
  std::vector<std::uint8_t> bytes_;
};

void ZAWriteLocalHeader(TZAOutput& out, const LocalFileHeader& header, const std::string& name,
                        const std::vector<std::uint8_t>& extra);
void ZAWriteCentralHeader(TZAOutput& out, const CentralDirectoryHeader& header, const std::string& name,
                          const std::vector<std::uint8_t>& extra, std::string_view comment);
void ZAWriteDataDescriptor(TZAOutput& out, std::uint32_t crc, std::uint64_t compressed, std::uint64_t uncompressed,
                           bool zip64);

// The end of the central directory: with Zip64 records in front of the end
// record when `zip64` is set (then every field that overflows holds its
// all-ones value), else the end record alone.
struct TZAEndOfDirectory {
  std::uint64_t Entries = 0;
  std::uint64_t DirectoryOffset = 0;
  std::uint64_t DirectorySize = 0;
  std::uint16_t VersionMadeBy = 20;
  std::string Comment;
  // A multi-disk archive: the disk of these records, the disk where the
  // directory starts (its offset counts from that disk's start) and the
  // entries whose headers lie on this disk (all of them by default).
  std::uint32_t ThisDisk = 0;
  std::uint32_t DirectoryDisk = 0;
  std::uint64_t EntriesOnThisDisk = ~std::uint64_t{0};
  // Whether the counts or positions need the Zip64 records.
  bool NeedsZip64() const;
};
void ZAWriteEndOfDirectory(TZAOutput& out, const TZAEndOfDirectory& end, bool zip64);

// Compresses the bytes of `source` from its current position to its end
// through `encoder` (archive/src/encoder.h), or stores them where it is
// null, into `out`, with their CRC-32. A compressed result that is not
// smaller than the data is thrown away and the data stored instead (the
// source is read again).
struct TZAEncodeResult {
  std::uint16_t Method = 0;
  std::uint32_t Crc32 = 0;
  std::uint64_t Compressed = 0;
  std::uint64_t Uncompressed = 0;
};
// Called with the bytes read so far; false stops the encoding (the caller
// drops what was written).
using TZAEncodeProgress = bool (*)(void* context, std::uint64_t done);
// Sees the output bytes of the entry before they are written (encryption).
class TZADataFilter {
 public:
  virtual ~TZADataFilter() = default;
  virtual void Filter(std::uint8_t* data, std::size_t size) = 0;
};
class TZAEncoder;
bool ZAEncodeEntry(TZAStream& source, TZAOutput& out, TZAEncoder* encoder, TZAEncodeResult& result,
                   TZADataFilter* filter = nullptr, TZAEncodeProgress progress = nullptr, void* context = nullptr);

}  // namespace za
