#include "decoder.h"

#include <algorithm>
#include <cstring>

#include "archive/errors.h"
#include "stored_blocks.h"

namespace za {

namespace {

// Room in front of the input chunk for a codec's prefix.
constexpr std::size_t kHeadroom = 16;

}  // namespace

bool TZAReplaySink::Write(const std::uint8_t* data, std::size_t size) {
  if (following_ && writes_ < trail_.Writes.size()) {
    produced_ += size;
    crc_ = ZACrc32(crc_, data, size);
    const TZACodecTrail::Step& step = trail_.Writes[writes_];
    if (step.Produced == produced_ && step.Crc32 == crc_) {
      ++writes_;
      return true;
    }
    if (!sink_.Truncate(Same())) return false;
  }
  following_ = false;
  return sink_.Write(data, size);
}

bool TZAReplaySink::Progress(std::uint64_t produced) {
  if (following_ && reports_ < trail_.Reports) {
    ++reports_;
    return false;
  }
  return sink_.Progress(produced);
}

bool TZAReplaySink::Finish() {
  return !following_ || writes_ == trail_.Writes.size() || sink_.Truncate(Same());
}

template <typename DecodeWith>
TZADecodeVerdict TZADecoder::FastThen(TZACodec& fast, TZACodec& reference, TZADecodeSink& sink,
                                      DecodeWith&& decode) {
  TZACodecTrail trail;
  TZADecodeVerdict verdict = decode(fast, sink, &trail);
  // A stop came at a report that the reference would have reached the
  // same way.
  if ((verdict.Passed() && fast.Conclusive()) || verdict.Stopped) return verdict;
  TZAReplaySink replay(sink, trail);
  verdict = decode(reference, replay, nullptr);
  if (!replay.Finish()) verdict.NativeError = neCorruptedEntry;
  return verdict;
}

std::pair<TZACodec*, TZACodec*> TZADecoder::FastAndReference(TZACodec& codec, std::uint16_t method) {
  if (TZACodec* reference = codec.Reference()) return {&codec, reference};
  if (fast_ && method == 8) return {&fastDeflate_, &deflate_};
  return {nullptr, nullptr};
}

TZACodec* TZADecoder::CodecFor(std::uint16_t method) {
  switch (method) {
    case 0: return &stored_;
    case 8: return &deflate_;
    default: break;
  }
  for (auto& [number, codec] : extra_)
    if (number == method) return codec.get();
  if (!methods_ || !methods_->MakeCodec) return nullptr;
  std::unique_ptr<TZACodec> made = methods_->MakeCodec(method);
  if (!made) return nullptr;
  extra_.emplace_back(method, std::move(made));
  return extra_.back().second.get();
}

TZADecodeVerdict TZADecoder::Failed(std::uint64_t produced, std::uint32_t crc) {
  TZADecodeVerdict verdict;
  verdict.Produced = produced;
  verdict.Crc32 = crc;
  verdict.NativeError = neCorruptedEntry;
  return verdict;
}

void TZADecoder::Release() {
  chunk_.reset();
  chunkSize_ = 0;
  deflate_.Release();
  extra_.clear();
  fastDeflate_.Release();
}

TZADecodeVerdict TZADecoder::Decode(TZAStream& archive, std::uint64_t packed, const TZAEntryCoding& coding,
                                    TZAEntryCipher* cipher, TZADecodeSink& sink) {
  TZACodec* codec = CodecFor(coding.Method);
  if (!codec) return Failed();
  if (coding.Method == 8 && !cipher && storedBlocksInPlace_)
    if (std::optional<TZADecodeVerdict> verdict = StoredBlocksInPlace(archive, packed, coding, sink)) return *verdict;
  auto [fast, reference] = FastAndReference(*codec, coding.Method);
  // A cipher cannot go back to the start of the data for a second decoding.
  if (cipher && reference) codec = reference;
  if (!fast || cipher) return Stream(*codec, archive, packed, coding, cipher, sink, nullptr);
  std::int64_t start = archive.Position();
  return FastThen(*fast, *reference, sink, [&](TZACodec& with, TZADecodeSink& into, TZACodecTrail* trail) {
    archive.SetPosition(start);
    return Stream(with, archive, packed, coding, nullptr, into, trail);
  });
}

TZADecodeVerdict TZADecoder::Stream(TZACodec& codec, TZAStream& archive, std::uint64_t packed,
                                    const TZAEntryCoding& coding, TZAEntryCipher* cipher, TZADecodeSink& sink,
                                    TZACodecTrail* trail) {
  if (!codec.Begin(coding.Declared, nullptr, 0)) return Failed();
  std::span<const std::uint8_t> prefix = codec.Prefix();
  codec.Expect(packed + prefix.size());
  // The chunk buffer grows to what an entry needs, up to a piece, and is
  // kept for the rest of the batch.
  std::size_t need = static_cast<std::size_t>(std::min<std::uint64_t>(kZACodecPiece, packed)) + kHeadroom;
  if (chunkSize_ < need) {
    chunk_.reset(new std::uint8_t[need]);
    chunkSize_ = need;
  }
  std::uint8_t* const chunk = chunk_.get() + kHeadroom;
  TZACodecOutput out(sink, coding.Declared, trail);
  // Where the archive shows its bytes in place, a codec that only reads its
  // input as it lies (the stored one) takes them from there.
  const bool viewed = !cipher && coding.Method == 0;
  for (std::uint64_t consumed = 0; consumed < packed && !out.Stopped();) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kZACodecPiece, packed - consumed));
    std::uint8_t* data = viewed ? const_cast<std::uint8_t*>(archive.View(static_cast<std::int64_t>(n))) : nullptr;
    if (!data) {
      data = chunk;
      if (archive.Read(data, static_cast<std::int64_t>(n)) != static_cast<std::int64_t>(n))
        return Judge(false, out, coding, cipher, &archive);
    }
    if (cipher) cipher->Decrypt(data, n);
    std::uint8_t* in = data;
    std::size_t inSize = n;
    if (consumed == 0 && !prefix.empty()) {
      in -= prefix.size();
      std::memcpy(in, prefix.data(), prefix.size());
      inSize += prefix.size();
    }
    if (!codec.Feed(in, inSize, out)) return Faulted(codec, Judge(false, out, coding, cipher, &archive));
    // Bytes gone from under the view were zeros: as a read that failed.
    if (data != chunk && archive.ViewLost()) return Judge(false, out, coding, cipher, &archive);
    consumed += n;
  }
  return Judge(true, out, coding, cipher, &archive);
}

std::optional<TZADecodeVerdict> TZADecoder::StoredBlocksInPlace(TZAStream& archive, std::uint64_t packed,
                                                                const TZAEntryCoding& coding, TZADecodeSink& sink) {
  // A declared size that is not the content's leaves the verdict, cut
  // where zlib cuts, to zlib.
  if (!StoredBlocksFitInPlace(packed, coding.Declared)) return std::nullopt;
  const std::int64_t start = archive.Position();
  const std::uint8_t* data = archive.View(static_cast<std::int64_t>(packed));
  if (!data) return std::nullopt;
  if (archive.ViewLost() ||
      ZAStoredBlocksContent(data, static_cast<std::size_t>(packed)) != static_cast<std::int64_t>(coding.Declared)) {
    archive.SetPosition(start);
    return std::nullopt;
  }
  TZACodecOutput out(sink, coding.Declared);
  if (!out.Report()) {
    ZAForEachStoredBlock(data, [&](const std::uint8_t* piece, std::size_t size) {
      if (!out.Write(piece, size)) return false;
      out.Count(piece, size);
      return true;
    });
  }
  // Bytes gone from under the view were zeros: as a read that failed.
  return Judge(!archive.ViewLost(), out, coding, nullptr, &archive);
}

TZADecodeVerdict TZADecoder::DecodeBuffer(std::uint8_t* data, std::size_t size, const TZAEntryCoding& coding,
                                          TZADecodeSink& sink, std::uint8_t* output, std::size_t outputSize) {
  TZACodec* codec = CodecFor(coding.Method);
  if (!codec) return Failed();
  auto [fast, reference] = FastAndReference(*codec, coding.Method);
  if (!fast) return Whole(*codec, data, size, coding, sink, output, outputSize, nullptr);
  return FastThen(*fast, *reference, sink, [&](TZACodec& with, TZADecodeSink& into, TZACodecTrail* trail) {
    return Whole(with, data, size, coding, into, output, outputSize, trail);
  });
}

TZADecodeVerdict TZADecoder::Whole(TZACodec& codec, std::uint8_t* data, std::size_t size,
                                   const TZAEntryCoding& coding, TZADecodeSink& sink, std::uint8_t* output,
                                   std::size_t outputSize, TZACodecTrail* trail) {
  if (!codec.Begin(coding.Declared, output, outputSize)) return Failed();
  codec.Expect(size);
  TZACodecOutput out(sink, coding.Declared, trail);
  // Fed whole rather than in chunks: a codec's verdict does not depend on
  // where its input is cut.
  bool decoded = codec.Feed(data, size, out);
  TZADecodeVerdict verdict = Judge(decoded, out, coding, nullptr, nullptr);
  return decoded ? verdict : Faulted(codec, std::move(verdict));
}

TZADecodeVerdict TZADecoder::Faulted(const TZACodec& codec, TZADecodeVerdict verdict) {
  if (const TZACodecFault* fault = codec.Fault()) verdict.Fault = *fault;
  return verdict;
}

TZADecodeVerdict TZADecoder::Judge(bool decoded, const TZACodecOutput& out, const TZAEntryCoding& coding,
                                   TZAEntryCipher* cipher, TZAStream* archive) {
  TZADecodeVerdict verdict = Failed(out.Produced(), out.Crc32());
  verdict.Stopped = out.Stopped();
  verdict.DataError = !decoded;
  bool passed = decoded && out.Produced() == coding.Declared;
  if (passed && coding.Checked)
    passed = coding.Authenticated ? cipher && archive && cipher->FinalCheck(*archive, out.Crc32())
                                  : out.Crc32() == coding.Crc32;
  if (passed) verdict.NativeError = 0;
  return verdict;
}

}  // namespace za
