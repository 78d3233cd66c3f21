#pragma once
// Method 0: the data is the content.
#include <algorithm>

#include "codec.h"

namespace za {

class TZAStoredCodec final : public TZACodec {
 public:
  bool Begin(std::uint64_t, std::uint8_t*, std::size_t) override { return true; }
  bool Feed(std::uint8_t* data, std::size_t size, TZACodecOutput& out) override {
    // Handed on in pieces of 0xFFFF bytes, each a report and a write.
    constexpr std::size_t kPiece = 0xFFFF;
    for (std::size_t at = 0; at < size; at += kPiece) {
      std::size_t piece = std::min(kPiece, size - at);
      if (piece > out.Room()) return false;
      out.Count(data + at, piece);
      if (out.Report() || !out.Write(data + at, piece)) break;
    }
    return true;
  }
};

}  // namespace za
