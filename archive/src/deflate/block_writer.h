#pragma once
// Deflate's blocks from a matcher's literals and matches: the symbols of a
// block are held with their counts, and each block goes out as whichever of
// dynamic codes, the fixed codes or stored bytes is the smallest, so that
// no block is ever larger than its data stored.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bit_writer.h"

namespace za {

struct TZALengthRuns;

class TZADeflateBlocks {
 public:
  // Symbols a block holds at most: enough that the dynamic codes' header
  // (some 60 to 90 bytes) weighs little.
  static constexpr std::size_t kBlockSymbols = 1 << 16;
  // Symbols are weighed a chunk at a time: a chunk whose counts would
  // cost less under codes of its own, their header paid, ends the block
  // before it, so that codes follow changes in the data (a stretch of
  // noise inside text, a program's code and its tables).
  static constexpr std::size_t kChunk = 1 << 12;

  // The largest output of `size` bytes of input: every block stored.
  static std::size_t Bound(std::size_t size);

  // `data` is the whole input the symbols refer to, in order; the output
  // goes to `bits`.
  void Start(const std::uint8_t* data, TZABitWriter* bits);
  void Literal(std::uint8_t byte) {
    symbols_[count_++] = byte;
    ++chunkLit_[byte];
    ++at_;
    if (count_ == nextCheck_) Checkpoint();
  }
  // `length` 3 to 258, `distance` 1 to 32768.
  void Match(unsigned length, unsigned distance);
  // Ends the last block.
  void Finish();

  // What a literal or length symbol and a distance code (with its extra
  // bits) cost, by the counts of the block so far, or the fixed codes'
  // before the first block is under way: the matcher weighs a short match
  // against its bytes as literals by them.
  const std::uint8_t* LiteralCost() const { return litCost_.data(); }
  const std::uint8_t* DistanceCost() const { return distCost_.data(); }

 private:
  void Checkpoint();
  // Whether the chunk ends the block before it (never the block's first);
  // either way the block's bits as they then stand are kept for the next
  // check.
  bool SplitWorth();
  void MergeChunk();
  void UpdateCosts();
  // Writes the first `count` symbols, which cover the input from
  // blockStart_ to `end`, with the block's counts, and drops them.
  void Write(std::size_t count, std::size_t end, bool last);
  void WriteCoded(std::size_t count, bool last, bool useFixed, const std::array<std::uint8_t, 286>& litLengths,
                  const std::array<std::uint8_t, 30>& distLengths, const TZALengthRuns& runs,
                  const std::array<std::uint8_t, 19>& runLengths, std::size_t runCodes);
  void WriteSymbols(std::size_t count, const std::uint16_t* litCodes, const std::uint8_t* litLengths,
                    const std::uint16_t* distCodes, const std::uint8_t* distLengths);
  void WriteStored(std::size_t from, std::size_t to, bool last);

  const std::uint8_t* data_ = nullptr;
  TZABitWriter* bits_ = nullptr;
  // Input positions: the block's start, the chunk's, the next symbol's.
  std::size_t blockStart_ = 0, chunkStart_ = 0, at_ = 0;
  // Blocks to be stored are held back and joined with the next ones to be
  // stored, so that data that does not compress goes out in pieces of
  // 64 KiB, whatever the blocks of symbols were: from here to blockStart_.
  std::size_t storedStart_ = 0;
  // A literal is its byte; a match is 256 + length - 3 with the distance
  // in the bits from 9 up.
  std::vector<std::uint32_t> symbols_ = std::vector<std::uint32_t>(kBlockSymbols);
  std::size_t count_ = 0, chunkFirst_ = 0, nextCheck_ = 0;
  // Counts of the block before its chunk, and of the chunk.
  std::array<std::uint32_t, 286> litFreq_{};
  std::array<std::uint32_t, 30> distFreq_{};
  std::array<std::uint32_t, 286> chunkLit_{};
  std::array<std::uint32_t, 30> chunkDist_{};
  double blockBits_ = 0;  // the entropy of the block's counts
  std::array<std::uint8_t, 286> litCost_{};
  std::array<std::uint8_t, 30> distCost_{};
};

}  // namespace za
