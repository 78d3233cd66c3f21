#include "archive/writer.h"

#include <algorithm>
#include <cstring>

#include "archive/errors.h"
#include "crc32.h"
#include "encoder.h"

namespace za {

// ---- output

TZAOutput::TZAOutput(TZAStream& stream, std::size_t bufferSize)
    : stream_(stream),
      buffer_(new std::uint8_t[bufferSize]),
      capacity_(bufferSize),
      position_(static_cast<std::uint64_t>(stream.Position())) {}

TZAOutput::~TZAOutput() = default;

void TZAOutput::Write(const void* data, std::size_t size) {
  auto* p = static_cast<const std::uint8_t*>(data);
  position_ += size;
  if (used_ + size > capacity_) {
    Flush();
    // Large blocks go straight through rather than through the buffer.
    if (size >= capacity_) {
      if (stream_.Write(p, static_cast<std::int64_t>(size)) != static_cast<std::int64_t>(size)) {
        EWriteError e;
        e.SystemError = stream_.LastError();
        throw e;
      }
      return;
    }
  }
  std::memcpy(buffer_.get() + used_, p, size);
  used_ += size;
}

void TZAOutput::Flush() {
  if (used_ == 0) return;
  std::size_t n = used_;
  used_ = 0;
  if (stream_.Write(buffer_.get(), static_cast<std::int64_t>(n)) != static_cast<std::int64_t>(n)) {
    EWriteError e;
    e.SystemError = stream_.LastError();
    throw e;
  }
}

void TZAOutput::Patch(std::uint64_t at, const void* data, std::size_t size) {
  Flush();
  stream_.SetPosition(static_cast<std::int64_t>(at));
  stream_.WriteBuffer(data, static_cast<std::int64_t>(size));
  stream_.SetPosition(static_cast<std::int64_t>(position_));
}

void TZAOutput::Truncate(std::uint64_t at) {
  Flush();
  stream_.SetSize(static_cast<std::int64_t>(at));
  stream_.SetPosition(static_cast<std::int64_t>(at));
  position_ = at;
}

bool ZACopyBytes(TZAStream& source, std::uint64_t count, const TZAByteWriter& write,
                 const std::function<bool(std::uint64_t)>& step) {
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(count, 1 << 20)));
  for (std::uint64_t done = 0; done < count;) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, buffer.size()));
    source.ReadBuffer(buffer.data(), static_cast<std::int64_t>(n));
    write(buffer.data(), n);
    done += n;
    if (step && !step(done)) return false;
  }
  return true;
}

void ZAFlushFile(TZAStream& file) {
  if (static_cast<TZAFileStream&>(file).File().Flush()) return;
  EWriteError e;
  e.SystemError = file.LastError();
  throw e;
}

// ---- extra field

void TZAExtraWriter::Add(std::uint16_t tag, const std::uint8_t* data, std::size_t size) {
  std::uint8_t head[4];
  PutU16(head, tag);
  PutU16(head + 2, static_cast<std::uint16_t>(size));
  bytes_.insert(bytes_.end(), head, head + 4);
  if (size) bytes_.insert(bytes_.end(), data, data + size);
}

void TZAExtraWriter::AddZip64(const std::vector<std::uint64_t>& values) {
  std::vector<std::uint8_t> data(values.size() * 8);
  for (std::size_t i = 0; i < values.size(); ++i) PutU64(data.data() + 8 * i, values[i]);
  Add(kZip64ExtraTag, data.data(), data.size());
}

void TZAExtraWriter::AddUnicodeName(std::u16string_view name) {
  std::vector<std::uint8_t> data(8 + 2 * name.size());
  PutU32(data.data(), kUnicodeNameSignature);
  PutU32(data.data() + 4, static_cast<std::uint32_t>(name.size()));
  for (std::size_t i = 0; i < name.size(); ++i) PutU16(data.data() + 8 + 2 * i, name[i]);
  Add(kUnicodeNameExtraTag, data.data(), data.size());
}

void TZAExtraWriter::AddAes(std::uint16_t vendorVersion, std::uint8_t strength, std::uint16_t method) {
  std::uint8_t data[7];
  PutU16(data, vendorVersion);
  data[2] = 'A';
  data[3] = 'E';
  data[4] = strength;
  PutU16(data + 5, method);
  Add(kAesExtraTag, data, sizeof data);
}

// ---- records

void ZAWriteLocalHeader(TZAOutput& out, const LocalFileHeader& header, const std::string& name,
                        const std::vector<std::uint8_t>& extra) {
  std::uint8_t raw[LocalFileHeader::kSize];
  header.Store(raw);
  out.Write(raw, sizeof raw);
  out.Write(name.data(), name.size());
  if (!extra.empty()) out.Write(extra.data(), extra.size());
}

void ZAWriteCentralHeader(TZAOutput& out, const CentralDirectoryHeader& header, const std::string& name,
                          const std::vector<std::uint8_t>& extra, std::string_view comment) {
  std::uint8_t raw[CentralDirectoryHeader::kSize];
  header.Store(raw);
  out.Write(raw, sizeof raw);
  out.Write(name.data(), name.size());
  if (!extra.empty()) out.Write(extra.data(), extra.size());
  out.Write(comment.data(), comment.size());
}

void ZAWriteDataDescriptor(TZAOutput& out, std::uint32_t crc, std::uint64_t compressed, std::uint64_t uncompressed,
                           bool zip64) {
  std::uint8_t raw[24];
  PutU32(raw, kDataDescriptorSignature);
  PutU32(raw + 4, crc);
  if (zip64) {
    PutU64(raw + 8, compressed);
    PutU64(raw + 16, uncompressed);
    out.Write(raw, 24);
    return;
  }
  PutU32(raw + 8, static_cast<std::uint32_t>(compressed));
  PutU32(raw + 12, static_cast<std::uint32_t>(uncompressed));
  out.Write(raw, 16);
}

bool TZAEndOfDirectory::NeedsZip64() const {
  return Entries >= kZip64Limit16 || DirectoryOffset >= kZip64Limit32 || DirectorySize >= kZip64Limit32;
}

void ZAWriteEndOfDirectory(TZAOutput& out, const TZAEndOfDirectory& end, bool zip64) {
  if (zip64) {
    std::uint64_t recordAt = out.Position();
    Zip64EndOfCentralDirectory record;
    record.Signature = kZip64EndRecordSignature;
    record.RecordSize = Zip64EndOfCentralDirectory::kSize - 12;
    record.VersionMadeBy = static_cast<std::uint16_t>((end.VersionMadeBy & 0xFF00) | kZip64Version);
    record.VersionNeeded = kZip64Version;
    record.DiskNumber = end.ThisDisk;
    record.StartDiskNumber = end.DirectoryDisk;
    record.EntriesTotal = end.Entries;
    record.EntriesOnDisk = std::min(end.Entries, end.EntriesOnThisDisk);
    record.CentralDirSize = end.DirectorySize;
    record.CentralDirOffset = end.DirectoryOffset;
    std::uint8_t raw[Zip64EndOfCentralDirectory::kSize];
    record.Store(raw);
    out.Write(raw, sizeof raw);
    Zip64EndOfCentralDirectoryLocator locator;
    locator.Signature = kZip64LocatorSignature;
    locator.EndRecordDisk = end.ThisDisk;
    locator.EndRecordOffset = recordAt;
    locator.TotalDisks = end.ThisDisk + 1;
    std::uint8_t rawLocator[Zip64EndOfCentralDirectoryLocator::kSize];
    locator.Store(rawLocator);
    out.Write(rawLocator, sizeof rawLocator);
  }
  EndOfCentralDirectory record;
  record.Signature = kEndRecordSignature;
  auto count16 = [](std::uint64_t n) { return n >= kZip64Limit16 ? std::uint16_t{0xFFFF} : static_cast<std::uint16_t>(n); };
  record.DiskNumber = static_cast<std::uint16_t>(end.ThisDisk);
  record.StartDiskNumber = static_cast<std::uint16_t>(end.DirectoryDisk);
  record.EntriesTotal = count16(end.Entries);
  record.EntriesOnDisk = count16(std::min(end.Entries, end.EntriesOnThisDisk));
  record.CentralDirSize = end.DirectorySize >= kZip64Limit32 ? 0xFFFFFFFF : static_cast<std::uint32_t>(end.DirectorySize);
  record.CentralDirOffset =
      end.DirectoryOffset >= kZip64Limit32 ? 0xFFFFFFFF : static_cast<std::uint32_t>(end.DirectoryOffset);
  std::size_t comment = std::min<std::size_t>(end.Comment.size(), 0xFFFF);
  record.CommentLength = static_cast<std::uint16_t>(comment);
  std::uint8_t raw[EndOfCentralDirectory::kSize];
  record.Store(raw);
  out.Write(raw, sizeof raw);
  out.Write(end.Comment.data(), comment);
}

// ---- encoder

namespace {

constexpr std::size_t kChunk = 256 * 1024;

bool Read(TZAStream& source, std::uint8_t* buffer, std::size_t size, std::size_t& got) {
  std::int64_t n = source.Read(buffer, static_cast<std::int64_t>(size));
  if (n < 0) return false;
  got = static_cast<std::size_t>(n);
  return true;
}

void Emit(TZAOutput& out, std::uint8_t* data, std::size_t size, TZADataFilter* filter) {
  if (filter) filter->Filter(data, size);
  out.Write(data, size);
}

// A buffer for what is left of the source: small entries, the usual case
// in a tree of files, get small buffers.
std::size_t ChunkFor(TZAStream& source) {
  std::int64_t left = source.Size() - source.Position();
  if (left < 0) left = 0;
  return static_cast<std::size_t>(std::clamp<std::int64_t>(left + 1, 4096, static_cast<std::int64_t>(kChunk)));
}

bool Store(TZAStream& source, TZAOutput& out, TZAEncodeResult& r, TZADataFilter* filter, TZAEncodeProgress progress,
           void* context) {
  const std::size_t chunk = ChunkFor(source);
  std::unique_ptr<std::uint8_t[]> in(new std::uint8_t[chunk]);
  r.Method = 0;
  r.Crc32 = 0;
  r.Compressed = r.Uncompressed = 0;
  for (;;) {
    std::size_t got;
    if (!Read(source, in.get(), chunk, got)) throw EReadError();
    if (got == 0) break;
    r.Crc32 = ZACrc32(r.Crc32, in.get(), got);
    r.Uncompressed += got;
    Emit(out, in.get(), got, filter);
    if (progress && !progress(context, r.Uncompressed)) return false;
  }
  r.Compressed = r.Uncompressed;
  return true;
}

}  // namespace

bool ZAEncodeEntry(TZAStream& source, TZAOutput& out, TZAEncoder* encoder, TZAEncodeResult& result,
                   TZADataFilter* filter, TZAEncodeProgress progress, void* context) {
  if (!encoder) return Store(source, out, result, filter, progress, context);
  std::int64_t sourceStart = source.Position();
  std::uint64_t dataStart = out.Position();
  const std::size_t chunk = ChunkFor(source);
  std::unique_ptr<std::uint8_t[]> in(new std::uint8_t[chunk]);
  TZAEncodeResult r;
  r.Method = encoder->Method();
  class Sink final : public TZAEncodeSink {
   public:
    Sink(TZAOutput& out, TZADataFilter* filter, std::uint64_t& count) : out_(out), filter_(filter), count_(count) {}
    void Put(std::uint8_t* data, std::size_t size) override {
      count_ += size;
      Emit(out_, data, size, filter_);
    }

   private:
    TZAOutput& out_;
    TZADataFilter* filter_;
    std::uint64_t& count_;
  } sink(out, filter, r.Compressed);
  bool larger = false;
  for (bool end = false; !end;) {
    std::size_t got;
    if (!Read(source, in.get(), chunk, got)) throw EReadError();
    end = got == 0;
    r.Crc32 = ZACrc32(r.Crc32, in.get(), got);
    r.Uncompressed += got;
    if (!encoder->Encode(in.get(), got, end, sink)) throw std::bad_alloc();
    if (progress && !progress(context, r.Uncompressed)) return false;
    // Data that does not shrink is stored: once the compressed output has
    // caught up with what went in there is nothing to win.
    if (!filter && r.Compressed >= r.Uncompressed + 64 && r.Uncompressed > 0) {
      larger = true;
      break;
    }
  }
  // An encrypting filter cannot go back: its output stays compressed.
  if (!filter && (larger || r.Compressed >= r.Uncompressed)) {
    out.Truncate(dataStart);
    source.SetPosition(sourceStart);
    return Store(source, out, result, filter, progress, context);
  }
  result = r;
  return true;
}

}  // namespace za
