// Decoding of one entry: its data behind the local header, in chunks,
// through one inflate stream, checked against the central directory.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "archive/archiver.h"
#include "crc32.h"
#include "decode_ahead.h"
#include "entry_reader.h"
#include "inflate_step.h"

namespace za {

namespace {

constexpr std::size_t kChunkSize = 0x100000;  // 1 MiB of input per read
constexpr std::size_t kStoredPiece = 0xFFFF;
static_assert(kChunkSize == TZADecodeAhead::kLargestKept + 1);
// Buffers grow to what an entry needs, up to a chunk, and are kept for the
// rest of the operation: small entries do not pay for a full chunk each.
std::uint8_t* Ensure(std::unique_ptr<std::uint8_t[]>& buffer, std::size_t& size, std::size_t need) {
  if (size < need) {
    buffer.reset(new std::uint8_t[need]);
    size = need;
  }
  return buffer.get();
}

}  // namespace

void TZABaseArchiver::DecodeItem(std::int32_t index, TZAStream& stream) {
  if (!dirManager_ || !stream_ || index < 0 || index >= dirManager_->Items.Count()) throw EZAException(neDecodeIndex, this);
  const TDirItem& entry = dirManager_->Items.GetItem(index);
  cancel_ = false;  // within an operation nothing reaches here once cancelled
  // The entry's data begins on the volume that holds its local header; an
  // archive in one file (or cut into pieces read as one) has one volume.
  if (volumes_) {
    std::uint32_t volume = EntryReader().EntryVolume(*dirManager_, entry);
    if (volume > static_cast<std::uint32_t>(LastVolume())) throw EZAException(neCorruptedEntry, this);
    SwitchVolume(static_cast<std::int32_t>(volume));
  }
  bool ok = DecodeEntry(*stream_, stream, index);
  if (ok || cancel_ || ExtractCorruptedFiles() || skipFile_) return;
  throw EZAException(neCorruptedEntry, this);
}

void TZABaseArchiver::ReadAhead(TZADecodeAhead& ahead, const std::vector<std::int32_t>& selected,
                                std::size_t ordinal, bool keep) {
  if (!dirManager_ || !stream_ || volumes_) return;
  const TZADirArray& items = dirManager_->Items;
  for (std::size_t k = ordinal + 1; k < selected.size() && k <= ordinal + TZADecodeAhead::kAhead; ++k) {
    std::int32_t index = selected[k];
    if (index < 0 || index >= items.Count()) continue;
    const TDirItem& entry = items.GetItem(index);
    const CentralDirectoryHeader& h = entry.Header;
    // Only what decodes without a question or a cipher; the rest is left
    // to the batch.
    if ((h.Flags & 1) || h.VersionNeeded >= kNoAesVersion || (entry.ActualMethod != 0 && entry.ActualMethod != 8))
      continue;
    std::uint64_t packed = entry.PackedSize();
    std::uint64_t size = h.CompressedSize == 0xFFFFFFFF ? entry.Zip64UncompressedSize : h.UncompressedSize;
    // The decoder reports against this size and checks the declared one.
    if (packed == 0 || size != entry.UnpackedSize()) continue;
    // Extraction gains only where inflating costs more than writing: stored
    // data is written straight from the archive.
    if (keep && (entry.ActualMethod != 8 || size == 0 || size > TZADecodeAhead::kLargestKept)) continue;
    std::uint64_t bytes = packed + (keep ? size : 0);
    if (!ahead.Wants(k, bytes)) {
      if (packed > TZADecodeAhead::kLargest || bytes > TZADecodeAhead::kHeld) continue;
      break;  // the helper holds enough
    }
    if (packed > TZADecodeAhead::kLargest) continue;
    try {
      // As DecodeEntry finds the data; any doubt leaves the entry to it.
      TZAEntrySpan span = EntryReader().Find(*stream_, *dirManager_, entry);
      packed = span.Packed;
      // More than one input chunk would cut the batch's output elsewhere.
      if (span.Overlaps || packed == 0 || (keep && packed > kChunkSize)) continue;
      TZADecodeAhead::Job job;
      job.Data = ahead.TakeBuffer();
      job.Deflated = entry.ActualMethod == 8;
      job.Keep = keep;
      std::size_t head = job.Deflated ? sizeof kZlibHeader : 0;
      job.Data.resize(head + static_cast<std::size_t>(packed));
      std::memcpy(job.Data.data(), kZlibHeader, head);
      if (stream_->Read(job.Data.data() + head, static_cast<std::int64_t>(packed)) !=
          static_cast<std::int64_t>(packed))
        continue;
      job.Size = size;
      job.Crc32 = h.Crc32;
      ahead.Offer(k, std::move(job));
    } catch (...) {
      // A read that fails here fails again where the batch reports it.
    }
  }
}

bool TZABaseArchiver::CancelledBeforeDecoding(std::int32_t index) {
  // What DecodeItem sets up, and the one progress report it always gives
  // before decoding; a cancel there ends the entry as it would there.
  cancel_ = false;
  skipFile_ = false;
  bytesProduced_ = 0;
  std::uint64_t declared = dirManager_->Items.GetItem(index).UnpackedSize();
  expectedSize_ = declared ? declared : 2;
  return progressEnabled_ && RaiseDecodeProgress();
}

bool TZABaseArchiver::PassedAhead(TZADecodeAhead& ahead, std::size_t ordinal, std::int32_t index) {
  if (!dirManager_ || index < 0 || index >= dirManager_->Items.Count() || !ahead.Passed(ordinal)) return false;
  // What DecodeItem leaves behind for a passing entry.
  if (!CancelledBeforeDecoding(index)) bytesProduced_ = dirManager_->Items.GetItem(index).UnpackedSize();
  return true;
}

bool TZABaseArchiver::WriteDecodedAhead(TZADecodeAhead& ahead, std::size_t ordinal, std::int32_t index,
                                        TZAStream& dest) {
  if (!dirManager_ || index < 0 || index >= dirManager_->Items.Count()) return false;
  TZADecodeAhead::Bytes output;
  if (!ahead.Passed(ordinal, &output)) return false;
  struct Recycle {
    TZADecodeAhead& ahead;
    TZADecodeAhead::Bytes& buffer;
    ~Recycle() { ahead.GiveBack(std::move(buffer)); }
  } recycle{ahead, output};
  std::uint64_t declared = dirManager_->Items.GetItem(index).UnpackedSize();
  if (output.size() != declared || declared == 0) return false;
  // What DecodeItem does for an entry that decodes in one piece: a report,
  // the piece written (a disk-full answer may cancel it), and what it
  // leaves behind.
  if (CancelledBeforeDecoding(index) || !WriteOutput(dest, output.data(), output.size())) return true;
  bytesProduced_ = declared;
  return true;
}

TZAEntryReader& TZABaseArchiver::EntryReader() {
  if (!entryReader_) entryReader_ = std::make_unique<TZAEntryReader>();
  entryReader_->SetVolumes(volumes_ != nullptr);
  return *entryReader_;
}

bool TZABaseArchiver::DecodeEntry(TZAStream& archive, TZAStream& dest, std::int32_t index) {
  const TDirItem& entry = dirManager_->Items.GetItem(index);
  const CentralDirectoryHeader& h = entry.Header;
  bool encrypted = h.Flags & 1;
  bool aes = entry.CryptoAlgorithm != caPkzipClassic;
  bool checked = h.VersionNeeded < kNoAesVersion;
  std::unique_ptr<TZAEntryCipher> cipher;
  // An AES entry from version 0x4114 on gets no decryptor and cannot decode.
  if (encrypted && (!aes || checked)) cipher = ZACreateEntryCipher(aes ? entry.CryptoAlgorithm : caPkzipClassic);
  if (cipher) cipher->Bind(entry);

  bytesProduced_ = 0;
  skipFile_ = false;  // an answer for an earlier entry must not carry over
  TZAEntrySpan span = EntryReader().Find(archive, *dirManager_, entry);
  const LocalFileHeader& local = span.Local;
  std::uint64_t packed = span.Packed;
  std::uint64_t unpacked = h.CompressedSize == 0xFFFFFFFF ? entry.Zip64UncompressedSize : h.UncompressedSize;
  if (span.Overlaps) return false;
  expectedSize_ = unpacked ? unpacked : 2;
  std::uint64_t declared = h.UncompressedSize == 0xFFFFFFFF ? entry.Zip64UncompressedSize : h.UncompressedSize;

  std::uint32_t crc = 0;
  bool ok;
  switch (entry.ActualMethod) {
    case 0:
    case 8: ok = DecodeChunks(archive, dest, entry, local, packed, declared, cipher.get(), crc); break;
    case 9: throw EZAException(neDeflate64, nullptr);
    default: ok = false; break;
  }
  if (bytesProduced_ != declared) ok = false;
  if (!ok) return false;
  if (!checked) return true;
  if (encrypted && aes) return cipher && cipher->FinalCheck(archive, crc);
  return crc == h.Crc32;
}

bool TZABaseArchiver::DecodeChunks(TZAStream& archive, TZAStream& dest, const TDirItem& entry,
                                   const LocalFileHeader& local, std::uint64_t packed, std::uint64_t limit,
                                   TZAEntryCipher* cipher, std::uint32_t& crc) {
  skipFile_ = false;
  bool encrypted = entry.Header.Flags & 1;
  std::uint64_t remaining = packed;
  if (encrypted) {
    if (!cipher) return false;  // no decryption for this entry in this build
    std::uint64_t overhead = cipher->HeaderSize() + cipher->TrailerSize();
    remaining = remaining > overhead ? remaining - overhead : 0;
    // The encryption header may run on into the next volume: a second try
    // starts again from the volume the first began on.
    std::int32_t startVolume = volumes_ ? volumes_->Volume() : 0;
    std::int64_t start = archive.Position();
    for (;;) {
      if (volumes_) SwitchVolume(startVolume);
      archive.SetPosition(start);
      if (cipher->CheckPassword(archive, local, Password())) break;
      std::u16string name = entry.EntryName;
      bool skip = false;
      // The handler answers in the component's own Password, which it keeps
      // also when it skips; TZipArchiver's setter is not gone through.
      if (OnPassword) {
        OnPassword(this, name, password_, skip);
      } else {
        std::string typed = password_;
        skip = !Dialogs().AskPassword(u"Password for \"" + name + u"\"", typed);
        if (!skip) password_ = typed;
      }
      if (skip) {
        skipFile_ = true;
        return false;
      }
    }
  }

  InflateStream inflater;
  if (!inflater.Ok()) return false;
  bool deflated = entry.ActualMethod == 8;
  std::uint8_t* chunk = Ensure(chunk_, chunkSize_,
                               static_cast<std::size_t>(std::min<std::uint64_t>(kChunkSize, remaining)) +
                                   sizeof kZlibHeader);
  // Output past the declared size is refused anyway, so a buffer one byte
  // larger than that size is as good as a full one.
  std::size_t outSize = limit >= kChunkSize ? kChunkSize : static_cast<std::size_t>(limit) + 1;
  std::uint8_t* output = deflated ? Ensure(output_, outputSize_, outSize) : nullptr;
  z_stream& z = inflater.Z();

  std::uint64_t consumed = 0, produced = 0;
  while (consumed < remaining && !cancel_) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkSize, remaining - consumed));
    std::uint8_t* data = chunk + sizeof kZlibHeader;
    if (archive.Read(data, static_cast<std::int64_t>(n)) != static_cast<std::int64_t>(n)) return false;
    if (encrypted) cipher->Decrypt(data, n);
    if (deflated) {
      std::uint8_t* in = data;
      std::size_t inSize = n;
      if (consumed == 0) {
        in = chunk;
        std::memcpy(in, kZlibHeader, sizeof kZlibHeader);
        inSize += sizeof kZlibHeader;
      }
      z.next_in = in;
      z.avail_in = static_cast<uInt>(inSize);
      for (;;) {
        bytesProduced_ = produced;
        if (progressEnabled_ && RaiseDecodeProgress()) break;
        std::size_t have;
        InflateResult step = InflateStep(z, output, outSize, limit - produced, have);
        if (step == InflateResult::Failed) return false;
        if (!WriteOutput(dest, output, have)) break;
        crc = ZACrc32(crc, output, have);
        produced += have;
        if (step == InflateResult::Done) break;
      }
    } else {
      for (std::size_t at = 0; at < n; at += kStoredPiece) {
        std::size_t piece = std::min(kStoredPiece, n - at);
        if (piece > limit - produced) return false;
        crc = ZACrc32(crc, data + at, piece);
        produced += piece;
        bytesProduced_ = produced;
        if (progressEnabled_ && RaiseDecodeProgress()) break;
        if (!WriteOutput(dest, data + at, piece)) break;
      }
    }
    consumed += n;
    bytesProduced_ = produced;
  }
  bytesProduced_ = produced;
  return true;
}

bool TZABaseArchiver::RaiseDecodeProgress() {
  double file = static_cast<double>(bytesProduced_) / static_cast<double>(expectedSize_);
  if (OnFileProgress) {
    bool cancel = cancel_;
    OnFileProgress(this, currentFileName_, file * 100.0, operation_, ppProcess, cancel);
    cancel_ = cancel;
    if (cancel_) return true;
  }
  if (OnOverallProgress) {
    double selected = selectedCount_ > 0 ? selectedCount_ : 1;
    bool cancel = cancel_;
    OnOverallProgress(this, (file + processedCount_) / selected * 100.0, operation_, ppProcess, cancel);
    cancel_ = cancel;
  }
  return cancel_;
}

bool TZABaseArchiver::WriteOutput(TZAStream& dest, const std::uint8_t* buffer, std::size_t count) {
  std::int64_t position = dest.Position();
  for (;;) {
    if (dest.Write(buffer, static_cast<std::int64_t>(count)) == static_cast<std::int64_t>(count)) {
      // Only whole writes count: a short one is written again from its start.
      if (outputHash_) {
        outputHash_->Update(buffer, count);
        outputHashed_ += count;
      }
      return true;
    }
    outputFailure_.SystemError = dest.LastError();
    bool giveUp = false;
    if (OnDiskFull) {
      try {
        OnDiskFull(this, 0, FileName(), giveUp);
      } catch (...) {
      }
    } else {
      giveUp = true;  // the disk-full dialog belongs to spanned archives only
    }
    if (giveUp) {
      cancel_ = true;
      return false;
    }
    dest.SetPosition(position);
  }
}

}  // namespace za
