#pragma once
// Method 0: the data is the content.
#include <algorithm>

#include "codec.h"

namespace za {

class TZAStoredCodec final : public TZACodec {
 public:
  // Each piece of 0xFFFF bytes is still a report, but what is fed at once
  // goes out in one write: a file system sizes its page-cache pieces by
  // the write, so 0xFFFF-byte writes cost it more than one large write.
  void SetWholeWrites(bool value) { wholeWrites_ = value; }

  bool Begin(std::uint64_t, std::uint8_t*, std::size_t) override { return true; }
  bool Feed(std::uint8_t* data, std::size_t size, TZACodecOutput& out) override {
    // Handed on in pieces of 0xFFFF bytes, each a report and a write.
    constexpr std::size_t kPiece = 0xFFFF;
    std::size_t reported = 0;  // counted and reported, not written yet
    bool fits = true;
    for (std::size_t at = 0; at < size; at += kPiece) {
      std::size_t piece = std::min(kPiece, size - at);
      if (piece > out.Room()) {
        fits = false;
        break;
      }
      out.Count(data + at, piece);
      if (out.Report()) break;
      if (wholeWrites_)
        reported += piece;
      else if (!out.Write(data + at, piece))
        break;
    }
    // What was reported before a stop goes out, as piece by piece it would.
    if (reported > 0) out.Write(data, reported);
    return fits;
  }

 private:
  bool wholeWrites_ = false;
};

}  // namespace za
