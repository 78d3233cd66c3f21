#pragma once
// One block of a bzip2 stream decoded by our own code: codes by table
// lookup, and the inverse transform walked along several stretches of the
// block at once. That walk is one dependent load per byte into a table of
// up to 3.6 MB, which costs libbz2 most of its time; walks that do not
// wait on each other overlap those loads.
//
// It is not the judge of a stream: it takes a block only when the block is
// the plain kind an encoder writes (complete codes, not randomised, within
// the stream's block size) and its CRC matches; anything else it refuses,
// and libbz2 decodes that block and gives the verdict.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace za {

class TZABZip2Bits;

class TZABZip2BlockDecoder {
 public:
  // Output of one block held at most; a block that makes more (runs of
  // one byte, up to 46 MB a block) is left to libbz2, which streams it.
  static constexpr std::size_t kLargestOutput = 8u << 20;

  // The block whose magic begins at bit `begin` and whose data ends exactly
  // at bit `end`, in a stream of `level` ('1'..'9'); at most `room` bytes
  // of output. True: Output() holds the block's bytes, their CRC matching.
  bool Decode(const TZABZip2Bits& bits, std::uint64_t begin, std::uint64_t end, std::uint8_t level,
              std::uint64_t room);
  const std::uint8_t* Output() const { return out_.data.get(); }
  std::size_t OutputSize() const { return made_; }

  // bzip2's CRC (the CRC-32 polynomial, highest bit first) of `size` bytes.
  static std::uint32_t Crc(std::uint32_t crc, const std::uint8_t* data, std::size_t size);

 private:
  bool Codes(const TZABZip2Bits& bits, std::uint64_t& at, std::uint64_t end, std::uint32_t maxBlock);
  bool Walk(std::uint32_t origPtr);
  bool Unrun(std::uint64_t room);

  static constexpr unsigned kWalks = 8;       // walks at once
  static constexpr unsigned kStretches = 32;  // of a block walked apart

  // Buffers grow to what the blocks need and are kept for the next; they
  // are not cleared, as every block writes what it reads.
  template <typename T>
  struct Buffer {
    std::unique_ptr<T[]> data;
    std::size_t size = 0;
    // Room for `need`, the first `keep` kept; at least twice the last.
    T* Reserve(std::size_t need, std::size_t keep, std::size_t most);
  };
  Buffer<std::uint32_t> tt_;  // per position: its byte, and the next position above it
  std::uint32_t count_ = 0;   // of tt_ used
  std::uint32_t bytes_[256] = {};  // how often each byte is in the block
  Buffer<std::uint8_t> walked_;
  Buffer<std::uint8_t> rows_;  // the walks' steps, a row per round
  Buffer<std::uint8_t> out_;
  std::size_t made_ = 0;
};

}  // namespace za
