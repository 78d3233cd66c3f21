#include "library_codec.h"

namespace za {

bool TZAStreamCodec::Begin(std::uint64_t declared, std::uint8_t* output, std::size_t outputSize) {
  // Output past the declared size is refused anyway: one byte more is room
  // enough to see it.
  outSize_ = declared >= kZACodecPiece ? kZACodecPiece : static_cast<std::size_t>(declared) + 1;
  // A caller's buffer that holds a piece is decoded into as it is: an
  // entry kept ahead is then not copied out of ours.
  if (output && outputSize >= outSize_) {
    out_ = output;
  } else {
    if (ownSize_ < outSize_) {
      own_.reset(new std::uint8_t[outSize_]);
      ownSize_ = outSize_;
    }
    out_ = own_.get();
  }
  ended_ = false;
  fault_ = {};
  return Start(declared);
}

bool TZAStreamCodec::Feed(std::uint8_t* data, std::size_t size, TZACodecOutput& out) {
  const std::uint8_t* in = data;
  std::size_t left = size;
  // What follows the end of the data is not looked at, as with deflate.
  while (!ended_) {
    if (out.Report()) break;
    std::size_t have = 0, before = left;
    Step step = Run(in, left, out_, outSize_, have);
    if (step == Step::Failed || have > out.Room()) return false;
    if (!out.Write(out_, have)) break;
    out.Count(out_, have);
    if (step == Step::End) ended_ = true;
    // A full buffer may hide more output; otherwise the library waits
    // for input, or has nothing more to give from this input.
    else if (have < outSize_ && (left == 0 || (have == 0 && left == before))) break;
  }
  return true;
}

bool TZAStreamCodec::Fail(std::string text, bool limit) {
  fault_.Text = std::move(text);
  fault_.Limit = limit;
  return false;
}

std::string TZAStreamCodec::MiB(std::uint64_t bytes) { return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB"; }

}  // namespace za
