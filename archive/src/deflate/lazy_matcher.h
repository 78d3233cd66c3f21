#pragma once
// Deflate's matches found as zlib's middle levels find them, the longest
// match taken unless the next position has a longer one (lazy matching),
// over a 32 KiB window. Two chains of earlier positions: those with the
// same next eight bytes, where the long matches are, and those with the
// same next four, walked only where the first finds nothing. Text repeats
// short pieces so often that a chain of four-byte kin spends most of its
// steps on matches no longer than the one in hand: the eight-byte chain
// reaches as far back in a tenth of the steps. The whole input is in
// memory, so the chains hold positions in it and nothing slides.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "block_writer.h"

namespace za {

struct TZAMatchEffort {
  unsigned good;   // past a match this long, a quarter of the chain
  unsigned lazy;   // past a match this long, no look at the next position
  unsigned nice;   // a match this long ends the search
  unsigned chain;  // positions of the eight-byte chain tried at most
  unsigned shortChain;  // and of the four-byte chain
};

class TZALazyMatcher {
 public:
  static constexpr unsigned kHashBits = 16;
  static constexpr std::size_t kWindow = 32768;
  // What a matcher holds, whatever the input: its two tables.
  static constexpr std::size_t kMemory = 2 * ((std::size_t{1} << kHashBits) * 4 + kWindow * 4) + (1 << 14) * 4;

  TZALazyMatcher();
  // Parses `data` whole into `blocks`, which are flushed as they fill and
  // at the end.
  void Parse(const std::uint8_t* data, std::size_t size, const TZAMatchEffort& effort, TZADeflateBlocks& blocks);

 private:
  // By hash of four bytes, then of eight: the latest position, and each
  // position's predecessor of the same hash.
  std::unique_ptr<std::uint32_t[]> head_[2];
  std::unique_ptr<std::uint32_t[]> prev_[2];
  // By hash of three bytes, the latest position.
  std::unique_ptr<std::uint32_t[]> head3_;
};

// Deflates `size` bytes whole into `out` (raw deflate) with `effort`;
// what is written is never larger than the input stored.
void ZADeflateWhole(const std::uint8_t* data, std::size_t size, const TZAMatchEffort& effort,
                    std::vector<std::uint8_t>& out);

}  // namespace za
