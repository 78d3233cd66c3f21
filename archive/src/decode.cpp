// Decoding of one entry within a batch: the entry's data found behind its
// local header, the password asked for, the decoder run into the batch's
// writer, and its verdict turned into the batch's outcome.
#include <algorithm>
#include <cstring>
#include <limits>

#include "archive/archiver.h"
#include "archive/zip_ciphers.h"
#include "decode_ahead.h"
#include "decoder.h"
#include "entry_reader.h"
#include "stored_blocks.h"

namespace za {

namespace {

static_assert(kZACodecPiece == TZADecodeAhead::kLargestKept + 1);

// Packed bytes below which an entry is checked by the batch itself: handing
// it to the helper and taking its outcome back costs more than inflating it.
// Stored data is only summed, cheaper still (and where the archive shows
// its bytes in place, summing them there costs less than the copy the
// helper would need); the other methods' decoders cost enough for any entry
// to be worth it.
constexpr std::uint64_t kWorthAhead = 2u << 10;
constexpr std::uint64_t kStoredWorthAhead = 64u << 10;

// The size an entry's progress is reported against: its Zip64 value is
// taken where the packed size, not this one, holds all ones.
std::uint64_t ReportedSize(const TDirItem& entry) {
  const CentralDirectoryHeader& h = entry.Header;
  return h.CompressedSize == 0xFFFFFFFF ? std::uint64_t{entry.Zip64UncompressedSize} : h.UncompressedSize;
}

// Whether what the directory says of an entry lets the helper take it:
// only what decodes without a question or a cipher, and is worth the
// handing over.
bool WorthAhead(const TDirItem& entry, bool keep, bool viewed) {
  const CentralDirectoryHeader& h = entry.Header;
  if ((h.Flags & 1) || h.VersionNeeded >= kNoAesVersion) return false;
  std::uint64_t packed = entry.PackedSize();
  std::uint64_t size = entry.UnpackedSize();
  // The decoder reports against one size and checks the declared one.
  if (packed == 0 || ReportedSize(entry) != size) return false;
  if (entry.ActualMethod == 0 ? viewed || packed < kStoredWorthAhead
                              : entry.ActualMethod == 8 && packed < kWorthAhead)
    return false;
  // Extraction gains only where decoding costs more than writing: stored
  // data is written straight from the archive.
  return !(keep && (entry.ActualMethod == 0 || size == 0 || size > TZADecodeAhead::kLargestKept));
}

// Whether the deflate data at `start` begins with a stored block, looked
// at without moving what the stream shows (the batch's entry, behind).
bool BeginsStored(TZAStream& stream, std::int64_t start) {
  std::uint8_t first;
  return stream.Peek(start, &first, 1) == 1 && ZABeginsStored(first);
}

}  // namespace

bool TZABaseArchiver::LocalHeaderMissing(const TZAEntrySpan& span, const TDirItem& entry) const {
  // A folder's offset is left as it was behind an added stub (it has no
  // data to find): where it points says nothing of the archive.
  return localHeadersChecked_ && !(entry.Header.ExternalAttributes & 0x10) &&
         span.Local.Signature != kLocalHeaderSignature;
}

bool TZABaseArchiver::WorthAheadAt(std::int32_t index, bool keep) {
  if (!dirManager_ || index < 0 || index >= dirManager_->Items.Count()) return false;
  const TDirItem& entry = dirManager_->Items.GetItem(index);
  return WorthAhead(entry, keep, stream_ && stream_->Viewed()) && Decoder().CodecFor(entry.ActualMethod);
}

// The batch's side of the decoder: its progress reports and its writer,
// with the disk-full question.
class TZABaseArchiver::BatchSink final : public TZADecodeSink {
 public:
  BatchSink(TZABaseArchiver& archiver, TZAStream& dest) : a_(archiver), dest_(dest), start_(dest.Position()) {}
  bool Write(const std::uint8_t* data, std::size_t size) override { return a_.WriteOutput(dest_, data, size); }
  bool Progress(std::uint64_t produced) override { return a_.progressEnabled_ && a_.RaiseDecodeProgress(produced); }
  // The hash of what was written cannot be taken back.
  bool Truncate(std::uint64_t produced) override {
    if (a_.outputHash_) return false;
    std::int64_t end = start_ + static_cast<std::int64_t>(produced);
    try {
      dest_.SetSize(end);
      dest_.SetPosition(end);
      return dest_.Position() == end;
    } catch (...) {
      return false;
    }
  }

 private:
  TZABaseArchiver& a_;
  TZAStream& dest_;
  std::int64_t start_;
};

bool TZABaseArchiver::DecodeItem(std::int32_t index, TZAStream& stream) {
  if (!dirManager_ || !stream_ || index < 0 || index >= dirManager_->Items.Count())
    throw EZAException(neDecodeIndex, this);
  const TDirItem& entry = dirManager_->Items.GetItem(index);
  cancel_ = false;  // within an operation nothing reaches here once cancelled
  // The entry's data begins on the volume that holds its local header; an
  // archive in one file (or cut into pieces read as one) has one volume.
  if (volumes_) {
    std::uint32_t volume = EntryReader().EntryVolume(*dirManager_, entry);
    if (volume > static_cast<std::uint32_t>(LastVolume())) throw EZAException(neCorruptedEntry, this);
    SwitchVolume(static_cast<std::int32_t>(volume));
  }
  lastEntryDamaged_ = false;
  decodeFailure_ = {};
  decodeFault_ = {};
  TZADecodeVerdict verdict = DecodeEntry(*stream_, stream, index);
  decodeFault_ = std::move(verdict.Fault);
  if (verdict.NativeError == neDeflate64) throw EZAException(neDeflate64, nullptr);
  if (verdict.Passed() || cancel_ || verdict.Skipped) {
    decodeFailure_ = {};
    return verdict.Skipped;
  }
  // An AES entry's check is its authentication code, not the CRC-32.
  const bool authenticated = (entry.Header.Flags & 1) && entry.CryptoAlgorithm != caPkzipClassic;
  if (decodeFailure_.Kind == TZADecodeFailure::dfNone && !authenticated) {
    decodeFailure_.Produced = verdict.Produced;
    decodeFailure_.Declared = entry.UnpackedSize();
    decodeFailure_.Crc32 = verdict.Crc32;
    decodeFailure_.DeclaredCrc32 = entry.Header.Crc32;
    decodeFailure_.Kind = verdict.DataError                                 ? TZADecodeFailure::dfData
                          : decodeFailure_.Produced != decodeFailure_.Declared ? TZADecodeFailure::dfSize
                                                                              : TZADecodeFailure::dfCrc;
  }
  if (ExtractCorruptedFiles()) {
    lastEntryDamaged_ = true;
    return false;
  }
  throw EZAException(verdict.NativeError, this);
}

void TZABaseArchiver::ReadAhead(TZADecodeAhead& ahead, const std::vector<std::int32_t>& selected,
                                std::size_t ordinal, bool keep) {
  if (!dirManager_ || !stream_ || volumes_) return;
  const TZADirArray& items = dirManager_->Items;
  // Every entry is looked at once: one left to the batch stays so, and the
  // look resumes where the helper last held enough.
  std::size_t k = std::max(ordinal + 1, ahead.Looked);
  for (; k < selected.size() && k <= ordinal + TZADecodeAhead::kAhead; ++k) {
    std::int32_t index = selected[k];
    if (index < 0 || index >= items.Count()) continue;
    const TDirItem& entry = items.GetItem(index);
    const CentralDirectoryHeader& h = entry.Header;
    // The rest is left to the batch.
    if (!WorthAhead(entry, keep, stream_->Viewed()) || !Decoder().CodecFor(entry.ActualMethod)) continue;
    std::uint64_t packed = entry.PackedSize();
    std::uint64_t size = entry.UnpackedSize();  // the reported one too, as WorthAhead found
    std::uint64_t bytes = packed + (keep ? size : 0);
    if (!ahead.Wants(k, bytes)) {
      if (bytes > TZADecodeAhead::kHeld) continue;  // more than the helper ever holds
      break;  // the helper holds enough
    }
    try {
      // As DecodeEntry finds the data; any doubt leaves the entry to it.
      // Looked at and read without moving the view of the batch's entry.
      TZAEntrySpan span = EntryReader().Look(*stream_, *dirManager_, entry);
      packed = span.Packed;
      // More than one input chunk would cut the batch's output elsewhere.
      if (span.Overlaps || packed == 0 || (keep && packed > kZACodecPiece) || LocalHeaderMissing(span, entry)) continue;
      // Deflate data of stored blocks alone is summed and written by the
      // batch from where the archive shows it (the decoder's in-place
      // path): a copy for the helper costs more than the helper saves.
      if (entry.ActualMethod == 8 && TZADecoder::StoredBlocksFitInPlace(packed, size) && stream_->Viewed() &&
          BeginsStored(*stream_, span.Start))
        continue;
      TZADecodeAhead::Job job;
      job.Data = ahead.TakeBuffer();
      job.Deflated = entry.ActualMethod == 8;
      job.Method = entry.ActualMethod;
      job.Methods = extraMethods_;
      job.Fast = fastInflate_;
      job.Keep = keep;
      std::span<const std::uint8_t> prefix = Decoder().CodecFor(entry.ActualMethod)->Prefix();
      std::size_t head = prefix.size();
      job.Data.resize(head + static_cast<std::size_t>(packed));
      if (head) std::memcpy(job.Data.data(), prefix.data(), head);
      if (stream_->Peek(span.Start, job.Data.data() + head, static_cast<std::int64_t>(packed)) !=
          static_cast<std::int64_t>(packed))
        continue;
      job.Size = size;
      job.Crc32 = h.Crc32;
      ahead.Offer(k, std::move(job));
    } catch (...) {
      // A read that fails here fails again where the batch reports it.
    }
  }
  ahead.Looked = std::max(ahead.Looked, k);
}

bool TZABaseArchiver::CancelledBeforeDecoding(std::int32_t index) {
  // What DecodeItem sets up, and the one progress report it always gives
  // before decoding; a cancel there ends the entry as it would there.
  cancel_ = false;
  std::uint64_t declared = dirManager_->Items.GetItem(index).UnpackedSize();
  expectedSize_ = declared ? declared : 2;
  return progressEnabled_ && RaiseDecodeProgress(0);
}

bool TZABaseArchiver::PassedAhead(TZADecodeAhead& ahead, std::size_t ordinal, std::int32_t index) {
  if (!dirManager_ || index < 0 || index >= dirManager_->Items.Count() || !ahead.Passed(ordinal)) return false;
  CancelledBeforeDecoding(index);
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
  // What DecodeItem does for an entry that decodes in one piece: a report
  // and the piece written (a disk-full answer may cancel it).
  if (!CancelledBeforeDecoding(index)) WriteOutput(dest, output.data(), output.size());
  return true;
}

std::unique_ptr<TZAEntryCipher> TZABaseArchiver::MakeCipher(TZACryptoAlgorithm algorithm) const {
  return cipherFactory_ ? cipherFactory_(algorithm) : ZABuiltInEntryCipher(algorithm);
}

TZADecoder& TZABaseArchiver::Decoder() {
  if (!decoder_) decoder_ = std::make_unique<TZADecoder>();
  decoder_->SetMethods(extraMethods_);
  return *decoder_;
}

TZAEntryReader& TZABaseArchiver::EntryReader() {
  if (!entryReader_) entryReader_ = std::make_unique<TZAEntryReader>();
  entryReader_->SetVolumes(volumes_ != nullptr);
  return *entryReader_;
}

TZADecodeVerdict TZABaseArchiver::DecodeEntry(TZAStream& archive, TZAStream& dest, std::int32_t index) {
  const TDirItem& entry = dirManager_->Items.GetItem(index);
  const CentralDirectoryHeader& h = entry.Header;
  bool encrypted = h.Flags & 1;
  bool aes = entry.CryptoAlgorithm != caPkzipClassic;
  TZAEntryCoding coding;
  coding.Method = entry.ActualMethod;
  coding.Declared = entry.UnpackedSize();
  coding.Crc32 = h.Crc32;
  coding.Checked = h.VersionNeeded < kNoAesVersion;
  coding.Authenticated = encrypted && aes;
  std::unique_ptr<TZAEntryCipher> cipher;
  // An AES entry from version 0x4114 on gets no decryptor and cannot decode.
  if (encrypted && (!aes || coding.Checked)) cipher = MakeCipher(aes ? entry.CryptoAlgorithm : caPkzipClassic);
  if (cipher) cipher->Bind(entry);

  archive.SetViewed(mappedReads_);
  TZAEntrySpan span = EntryReader().Find(archive, *dirManager_, entry);
  if (span.Overlaps) {
    decodeFailure_.Kind = TZADecodeFailure::dfOverlap;
    return TZADecoder::Failed();
  }
  if (LocalHeaderMissing(span, entry)) {
    decodeFailure_.Kind = TZADecodeFailure::dfLocalHeader;
    decodeFailure_.LocalOffset = entry.LocalOffset();
    return TZADecoder::Failed();
  }
  TZADecoder& decoder = Decoder();
  std::uint64_t reported = ReportedSize(entry);
  expectedSize_ = reported ? reported : 2;
  // Deflate64 is refused in its own words unless a codec for it was given.
  if (entry.ActualMethod == 9 && !decoder.CodecFor(9)) {
    TZADecodeVerdict deflate64 = TZADecoder::Failed();
    deflate64.NativeError = neDeflate64;
    return deflate64;
  }
  if (!decoder.CodecFor(entry.ActualMethod)) return TZADecoder::Failed();
  std::uint64_t packed = span.Packed;
  if (encrypted) {
    if (!cipher) return TZADecoder::Failed();  // no decryption for this entry in this build
    std::uint64_t overhead = cipher->HeaderSize() + cipher->TrailerSize();
    packed = packed > overhead ? packed - overhead : 0;
    if (!PasswordAccepted(archive, *cipher, span.Local, entry)) {
      TZADecodeVerdict skipped = TZADecoder::Failed();
      skipped.Skipped = true;
      return skipped;
    }
  }
  BatchSink sink(*this, dest);
  // A second decoding goes back to where the data starts: within one volume.
  decoder.SetFastInflate(fastInflate_ && !volumes_);
  decoder.SetWholeStoredWrites(mappedReads_);
  decoder.SetStoredBlocksInPlace(mappedReads_);
  return decoder.Decode(archive, packed, coding, cipher.get(), sink);
}

bool TZABaseArchiver::PasswordAccepted(TZAStream& archive, TZAEntryCipher& cipher, const LocalFileHeader& local,
                                       const TDirItem& entry) {
  // The encryption header may run on into the next volume: a second try
  // starts again from the volume the first began on.
  std::int32_t startVolume = volumes_ ? volumes_->Volume() : 0;
  std::int64_t start = archive.Position();
  for (;;) {
    if (volumes_) SwitchVolume(startVolume);
    archive.SetPosition(start);
    if (cipher.CheckPassword(archive, local, Password())) return true;
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
    if (skip) return false;
  }
}

bool TZABaseArchiver::RaiseDecodeProgress(std::uint64_t produced) {
  double file = static_cast<double>(produced) / static_cast<double>(expectedSize_);
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
