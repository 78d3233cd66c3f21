#pragma once
// How an LZMA decoder's window is handed on, for the codecs over it (the
// zip form of LZMA, XZ): the window is the entry's whole output where the
// dictionary reaches that far (the caller's buffer when it holds it), else
// the dictionary's size, used round; output goes on a piece and a report
// at a time, and never past the declared size.
#include <cstddef>
#include <cstdint>

#include "../codec.h"
#include "lzma_decoder.h"

namespace za {

class TZALzmaOutlet {
 public:
  explicit TZALzmaOutlet(TZALzmaDecoder& decoder) : decoder_(decoder) {}

  void Begin(std::uint64_t declared, std::uint8_t* output, std::size_t outputSize) {
    declared_ = declared;
    output_ = output;
    outputSize_ = outputSize;
    flushed_ = 0;
    reported_ = false;
  }
  // A window for matches of up to `dictionary` bytes back; false where
  // that is over the limit of memory or cannot be had.
  bool SetWindow(std::uint32_t dictionary);

  // Output the decoder may still make: of the declared size, what is not
  // in the window yet.
  std::uint64_t Room(const TZACodecOutput& out) const {
    return declared_ - out.Produced() - (decoder_.Position() - flushed_);
  }
  // The window position the next Decode may go up to: the end of the
  // piece, of the window, or of `room` more bytes.
  std::size_t Limit(std::uint64_t room) const {
    std::size_t pos = decoder_.Position();
    std::size_t limit = decoder_.Capacity() < flushed_ + kZACodecPiece ? decoder_.Capacity() : flushed_ + kZACodecPiece;
    return room < limit - pos ? pos + static_cast<std::size_t>(room) : limit;
  }
  // A report before each piece of output; true when it stops the entry.
  bool Report(TZACodecOutput& out) {
    if (reported_) return false;
    reported_ = true;
    return out.Report();
  }
  // Hands on what the window holds past what was handed on; false when
  // the sink stopped.
  bool Hand(TZACodecOutput& out);
  // The same once a piece or the whole window is there.
  bool HandFull(TZACodecOutput& out) {
    std::size_t pos = decoder_.Position();
    if (pos - flushed_ < kZACodecPiece && pos < decoder_.Capacity()) return true;
    return Hand(out);
  }

 private:
  TZALzmaDecoder& decoder_;
  std::uint64_t declared_ = 0;
  std::uint8_t* output_ = nullptr;
  std::size_t outputSize_ = 0;
  std::size_t flushed_ = 0;  // window position up to which output was handed on
  bool reported_ = false;
};

}  // namespace za
