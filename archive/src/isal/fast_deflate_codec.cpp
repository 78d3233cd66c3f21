// ISA-L's inflater, streaming with a state of its own (some 85 KiB), about
// twice zlib's speed on x86-64. Its whole-buffer rival, libdeflate, is as
// fast but accepts streams that zlib refuses (the reserved length symbols
// of the fixed code), which no second decoding of failures could catch.
#include <isa-l/igzip_lib.h>

#include <algorithm>

#include "deflate_header.h"
#include "fast_deflate_codec.h"

namespace za {

struct TZAFastDeflateCodec::State {
  inflate_state inflater;
};

TZAFastDeflateCodec::TZAFastDeflateCodec() = default;
TZAFastDeflateCodec::~TZAFastDeflateCodec() = default;

bool TZAFastDeflateCodec::Available() { return true; }

bool TZAFastDeflateCodec::Begin(std::uint64_t declared, std::uint8_t* output, std::size_t outputSize) {
  // Not zeroed: the state is some 85 KiB, and the initialisation sets what
  // a stream needs.
  if (!state_) state_.reset(new State);
  isal_inflate_init(&state_->inflater);
  // Raw deflate with zlib's window; the CRC-32 is kept by the decoder.
  state_->inflater.crc_flag = ISAL_DEFLATE;
  state_->inflater.hist_bits = 15;
  prefixLeft_ = sizeof kZlibHeader;
  trailer_ = 0;
  finished_ = false;
  headerSound_ = false;
  output_.Begin(declared, output, outputSize);
  return true;
}

bool TZAFastDeflateCodec::Feed(std::uint8_t* data, std::size_t size, TZACodecOutput& out) {
  std::size_t skip = prefixLeft_ < size ? prefixLeft_ : size;
  // The first chunk holds the first block's header, or the data is shorter.
  if (prefixLeft_ == sizeof kZlibHeader)
    headerSound_ = ZACheckFirstDeflateHeader(data + skip, size - skip) == TZADeflateHeader::Sound;
  prefixLeft_ -= skip;
  inflate_state& s = state_->inflater;
  s.next_in = data + skip;
  s.avail_in = static_cast<std::uint32_t>(size - skip);
  return output_.Run(
      [this, &s](std::uint8_t* output, std::size_t outSize, std::uint64_t room, std::size_t& have) {
        s.next_out = output;
        s.avail_out = static_cast<std::uint32_t>(outSize);
        std::size_t before = s.avail_in;
        int result = isal_inflate(&s);
        have = outSize - s.avail_out;
        // zlib, behind the header it is given, takes the four bytes after
        // the last block for a trailer and ends only then: its calls, and
        // so the reports between them, are followed to the letter.
        bool ended = false;
        if (s.block_state == ISAL_BLOCK_FINISH) {
          // Whole bytes it read ahead lie past the last block: trailer too.
          if (!finished_) trailer_ = std::min<std::size_t>(kTrailer, static_cast<std::size_t>(s.read_in_length) / 8);
          finished_ = true;
          std::size_t take = std::min<std::size_t>(kTrailer - trailer_, s.avail_in);
          s.next_in += take;
          s.avail_in -= static_cast<std::uint32_t>(take);
          trailer_ += take;
          ended = trailer_ == kTrailer;
        }
        return InflateOutcome(result < 0, ended, have, outSize, room, before, s.avail_in);
      },
      out);
}

bool TZAFastDeflateCodec::Conclusive() const {
  return headerSound_ && state_ && state_->inflater.block_state == ISAL_BLOCK_FINISH;
}

void TZAFastDeflateCodec::Release() {
  output_.Release();
  state_.reset();
}

}  // namespace za
