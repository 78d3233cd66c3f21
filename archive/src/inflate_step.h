#pragma once
// Raw deflate data through zlib, as the decoder and the helpers that
// decode ahead of it both inflate it: their verdicts on an entry must be
// the same, so they share the steps.
#include <zlib.h>

#include <cstddef>
#include <cstdint>

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

}  // namespace za
