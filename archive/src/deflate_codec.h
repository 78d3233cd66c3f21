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

// How one call of an inflater ended: `have` bytes came out into a buffer
// of `outSize`, `before` bytes of input were there and `after` are left.
// Failed for bad data or output beyond `room` (a lying header cannot fill
// the disk). Done at the end of the stream, or when nothing more can come
// from this input: it is used up and the output had room for more, or
// nothing moved. A buffer filled by the last input may still owe the rest
// of a match: the inflater is called again, and moves nothing when it
// owed nothing.
inline InflateResult InflateOutcome(bool failed, bool ended, std::size_t have, std::size_t outSize, std::uint64_t room,
                                    std::size_t before, std::size_t after) {
  if (failed || have > room) return InflateResult::Failed;
  if (ended || (after == 0 && have < outSize) || (have == 0 && after == before)) return InflateResult::Done;
  return InflateResult::More;
}

// One call of inflate into `output` (`outSize` bytes) from the input set in
// `z`; `have` gets what came out.
inline InflateResult InflateStep(z_stream& z, std::uint8_t* output, std::size_t outSize, std::uint64_t room,
                                 std::size_t& have) {
  z.next_out = output;
  z.avail_out = static_cast<uInt>(outSize);
  uInt before = z.avail_in;
  int result = inflate(&z, Z_NO_FLUSH);
  have = outSize - z.avail_out;
  // Called again with nothing owed, inflate says it could not move.
  if (result == Z_BUF_ERROR && have == 0) return InflateResult::Done;
  return InflateOutcome(result < 0, result == Z_STREAM_END, have, outSize, room, before, z.avail_in);
}

// The output side of an inflater: the buffer its pieces go to, and the
// order in which they are reported and handed on. Every inflater goes
// through it, so that all of them hand on the same pieces in the same
// order for the same data.
class TZAInflateOutput {
 public:
  void Begin(std::uint64_t declared, std::uint8_t* output, std::size_t outputSize) {
    if (output) {
      out_ = output;
      outSize_ = outputSize;
      return;
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
  }

  // Runs `step(output, outSize, room, have)` until this input gives nothing more.
  template <typename Step>
  bool Run(Step&& step, TZACodecOutput& out) {
    for (;;) {
      if (out.Report()) break;
      std::size_t have;
      InflateResult result = step(out_, outSize_, out.Room(), have);
      if (result == InflateResult::Failed) return false;
      // Nothing is handed on for a call that made nothing: inflaters differ
      // in how often they make nothing (one waits for a whole block header).
      if (have) {
        if (!out.Write(out_, have)) break;
        out.Count(out_, have);
      }
      if (result == InflateResult::Done) break;
    }
    return true;
  }

  void Release() {
    own_.reset();
    ownSize_ = 0;
  }

 private:
  std::unique_ptr<std::uint8_t[]> own_;
  std::size_t ownSize_ = 0;
  std::uint8_t* out_ = nullptr;
  std::size_t outSize_ = 0;
};

class TZADeflateCodec final : public TZACodec {
 public:
  std::span<const std::uint8_t> Prefix() const override { return kZlibHeader; }

  bool Begin(std::uint64_t declared, std::uint8_t* output, std::size_t outputSize) override {
    stream_.emplace();
    if (!stream_->Ok()) return false;
    output_.Begin(declared, output, outputSize);
    return true;
  }

  bool Feed(std::uint8_t* data, std::size_t size, TZACodecOutput& out) override {
    z_stream& z = stream_->Z();
    z.next_in = data;
    z.avail_in = static_cast<uInt>(size);
    return output_.Run(
        [&z](std::uint8_t* output, std::size_t outSize, std::uint64_t room, std::size_t& have) {
          return InflateStep(z, output, outSize, room, have);
        },
        out);
  }

  // The buffer of its own goes back (the end of a batch).
  void Release() {
    output_.Release();
    stream_.reset();
  }

 private:
  std::optional<InflateStream> stream_;
  TZAInflateOutput output_;
};

}  // namespace za
