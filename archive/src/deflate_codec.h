#pragma once
// Method 8: raw deflate data through zlib.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "codec.h"

namespace za {

// Raw deflate data goes to zlib behind a zlib header; the Adler-32 that
// zlib then expects never comes, so the end is found by counting input.
inline constexpr std::uint8_t kZlibHeader[2] = {0x78, 0x01};

class InflateStream {
 public:
  // No Adler-32 is kept: the trailer it would be checked against never comes.
  InflateStream() { ok_ = inflateInit(&z_) == Z_OK && inflateValidate(&z_, 0) == Z_OK; }
  ~InflateStream() {
    if (ok_) inflateEnd(&z_);
  }
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;
  bool Ok() const { return ok_; }
  z_stream& Z() { return z_; }

 private:
  z_stream z_{};
  bool ok_;
};

enum class InflateResult { Failed, More, Done };

// One call of inflate into `output` (`outSize` bytes) from the input set in
// `z`; `have` gets what came out. Failed for bad data or output beyond
// `room` (a lying header cannot fill the disk). Done at the end of the
// stream, or when the input is used up or nothing moved: nothing more can
// come from this input.
inline InflateResult InflateStep(z_stream& z, std::uint8_t* output, std::size_t outSize, std::uint64_t room,
                                 std::size_t& have) {
  z.next_out = output;
  z.avail_out = static_cast<uInt>(outSize);
  uInt before = z.avail_in;
  int result = inflate(&z, Z_NO_FLUSH);
  have = outSize - z.avail_out;
  if (result < 0 || have > room) return InflateResult::Failed;
  if (result == Z_STREAM_END || z.avail_in == 0 || (have == 0 && z.avail_in == before)) return InflateResult::Done;
  return InflateResult::More;
}

class TZADeflateCodec final : public TZACodec {
 public:
  std::span<const std::uint8_t> Prefix() const override { return kZlibHeader; }

  bool Begin(std::uint64_t declared, std::uint8_t* output, std::size_t outputSize) override {
    stream_.emplace();
    if (!stream_->Ok()) return false;
    if (output) {
      out_ = output;
      outSize_ = outputSize;
      return true;
    }
    // Output past the declared size is refused anyway, so a buffer one byte
    // larger than that size is as good as a full one. It grows to what an
    // entry needs and is kept for the next: small entries do not pay for a
    // full piece each.
    outSize_ = declared >= kZACodecPiece ? kZACodecPiece : static_cast<std::size_t>(declared) + 1;
    if (ownSize_ < outSize_) {
      own_.reset(new std::uint8_t[outSize_]);
      ownSize_ = outSize_;
    }
    out_ = own_.get();
    return true;
  }

  bool Feed(std::uint8_t* data, std::size_t size, TZACodecOutput& out) override {
    z_stream& z = stream_->Z();
    z.next_in = data;
    z.avail_in = static_cast<uInt>(size);
    for (;;) {
      if (out.Report()) break;
      std::size_t have;
      InflateResult step = InflateStep(z, out_, outSize_, out.Room(), have);
      if (step == InflateResult::Failed) return false;
      if (!out.Write(out_, have)) break;
      out.Count(out_, have);
      if (step == InflateResult::Done) break;
    }
    return true;
  }

  // The buffer of its own goes back (the end of a batch).
  void Release() {
    own_.reset();
    ownSize_ = 0;
    stream_.reset();
  }

 private:
  std::optional<InflateStream> stream_;
  std::unique_ptr<std::uint8_t[]> own_;
  std::size_t ownSize_ = 0;
  std::uint8_t* out_ = nullptr;
  std::size_t outSize_ = 0;
};

}  // namespace za
