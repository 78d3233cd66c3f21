#pragma once
// The decoder of one entry's data: it reads the data from the archive in
// chunks (or takes it whole from memory), decrypts it, runs it through the
// codec of the entry's method into a sink and judges the outcome against
// the directory. It raises no events and asks nothing: the caller reports
// what the verdict says, so every path that decodes (the batch, testing
// ahead, extracting ahead) reaches the same verdict on the same data.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "archive/entry_cipher.h"
#include "archive/stream.h"
#include "codec.h"
#include "deflate_codec.h"
#include "fast_deflate_codec.h"
#include "stored_codec.h"

namespace za {

// What the directory says of an entry's content.
struct TZAEntryCoding {
  std::uint16_t Method = 0;
  std::uint64_t Declared = 0;  // the declared size
  std::uint32_t Crc32 = 0;
  // Whether the outcome is checked at all: entries of a version from
  // 0x4114 on are taken as they come.
  bool Checked = true;
  // Checked by the cipher's authentication code rather than the CRC-32.
  bool Authenticated = false;
};

struct TZADecodeVerdict {
  std::uint64_t Produced = 0;
  std::uint32_t Crc32 = 0;
  bool Stopped = false;           // a report or the sink stopped it
  bool Skipped = false;           // the password question was answered by skipping
  bool DataError = false;         // the codec refused the data (else: size or CRC-32)
  std::int32_t NativeError = 0;   // 0 when it passed
  TZACodecFault Fault;            // what the codec found wrong, when it says
  bool Passed() const { return NativeError == 0; }
};

// The sink of the reference's decoding after the faster codec's (zlib's
// after the faster inflater's): what that one handed on is not handed on
// again while the reference makes the same, write by write and report by
// report; from where it differs, its output takes the place of the rest.
class TZAReplaySink final : public TZADecodeSink {
 public:
  TZAReplaySink(TZADecodeSink& sink, const TZACodecTrail& trail) : sink_(sink), trail_(trail) {}
  bool Write(const std::uint8_t* data, std::size_t size) override;
  bool Progress(std::uint64_t produced) override;
  // After zlib's decoding: what the first one handed on past zlib's output
  // is taken back. False when it cannot be.
  bool Finish();

 private:
  std::uint64_t Same() const { return writes_ ? trail_.Writes[writes_ - 1].Produced : 0; }

  TZADecodeSink& sink_;
  const TZACodecTrail& trail_;
  bool following_ = true;
  std::size_t writes_ = 0, reports_ = 0;
  std::uint64_t produced_ = 0;
  std::uint32_t crc_ = 0;
};

class TZADecoder {
 public:
  // The codec of a method, or null for a method without one.
  TZACodec* CodecFor(std::uint16_t method);
  // Where the codecs of methods beyond stored and deflate come from (null:
  // none, as by default).
  void SetMethods(const TZAMethods* methods) { methods_ = methods; }

  // Deflated entries in the clear go through the faster inflater where
  // the build has one; what it does not pass is decoded again by zlib,
  // whose verdict and output stand.
  void SetFastInflate(bool value) { fast_ = value && TZAFastDeflateCodec::Available(); }
  bool FastInflate() const { return fast_; }
  // Stored data fed at once is written at once (reported still piece by
  // piece).
  void SetWholeStoredWrites(bool value) { stored_.SetWholeWrites(value); }
  // Deflated entries in the clear made of stored blocks alone are summed
  // and written from where the archive shows them, where it does; zlib
  // would hand on the same bytes with the same verdict.
  void SetStoredBlocksInPlace(bool value) { storedBlocksInPlace_ = value; }
  // The entries that path takes: within one input chunk and one output
  // piece, where zlib decodes the data in one step (a report, then
  // everything at once), and large enough for the copy it saves to count.
  static bool StoredBlocksFitInPlace(std::uint64_t packed, std::uint64_t declared) {
    return packed >= (4u << 10) && packed <= kZACodecPiece && declared < kZACodecPiece;
  }

  // Decodes `packed` bytes of `archive` from its position, decrypted by
  // `cipher` (whose header is read, or null), into `sink`.
  TZADecodeVerdict Decode(TZAStream& archive, std::uint64_t packed, const TZAEntryCoding& coding,
                          TZAEntryCipher* cipher, TZADecodeSink& sink);
  // Decodes data in memory, its codec's prefix in front, in one piece,
  // into `output` (`outputSize` bytes, for codecs that need a buffer).
  TZADecodeVerdict DecodeBuffer(std::uint8_t* data, std::size_t size, const TZAEntryCoding& coding,
                                TZADecodeSink& sink, std::uint8_t* output, std::size_t outputSize);

  // A verdict that the entry does not decode.
  static TZADecodeVerdict Failed(std::uint64_t produced = 0, std::uint32_t crc = 0);

  // Buffers go back (the end of a batch).
  void Release();

 private:
  TZADecodeVerdict Judge(bool decoded, const TZACodecOutput& out, const TZAEntryCoding& coding,
                         TZAEntryCipher* cipher, TZAStream* archive);
  static TZADecodeVerdict Faulted(const TZACodec& codec, TZADecodeVerdict verdict);
  TZADecodeVerdict Stream(TZACodec& codec, TZAStream& archive, std::uint64_t packed, const TZAEntryCoding& coding,
                          TZAEntryCipher* cipher, TZADecodeSink& sink, TZACodecTrail* trail);
  TZADecodeVerdict Whole(TZACodec& codec, std::uint8_t* data, std::size_t size, const TZAEntryCoding& coding,
                         TZADecodeSink& sink, std::uint8_t* output, std::size_t outputSize, TZACodecTrail* trail);
  // The verdict on deflate data of stored blocks alone shown in place;
  // none for data that an inflater has to decide (the position is then
  // where it was).
  std::optional<TZADecodeVerdict> StoredBlocksInPlace(TZAStream& archive, std::uint64_t packed,
                                                      const TZAEntryCoding& coding, TZADecodeSink& sink);
  // The faster codec that decodes what `codec` of `method` is given, and
  // the reference it stands in for; nulls where there is none.
  std::pair<TZACodec*, TZACodec*> FastAndReference(TZACodec& codec, std::uint16_t method);
  // Runs `decode(codec, sink, trail)` with the faster codec, and again
  // with its reference (zlib for the faster inflater) when that does not
  // pass conclusively.
  template <typename DecodeWith>
  TZADecodeVerdict FastThen(TZACodec& fast, TZACodec& reference, TZADecodeSink& sink, DecodeWith&& decode);

  TZAStoredCodec stored_;
  TZADeflateCodec deflate_;
  TZAFastDeflateCodec fastDeflate_;
  bool fast_ = false;
  bool storedBlocksInPlace_ = false;
  const TZAMethods* methods_ = nullptr;
  // Codecs of other methods, made when an entry first needs one.
  std::vector<std::pair<std::uint16_t, std::unique_ptr<TZACodec>>> extra_;
  std::unique_ptr<std::uint8_t[]> chunk_;
  std::size_t chunkSize_ = 0;
};

}  // namespace za
