#pragma once
// Deflate's bits, least significant first, gathered 64 at a time so that a
// symbol with its extra bits costs one shift and one or-in, and the output
// is stored four bytes at once.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace za {

class TZABitWriter {
 public:
  // `out` has room for every byte written plus kSlack: whole words are
  // stored past the last byte that counts.
  static constexpr std::size_t kSlack = 8;
  explicit TZABitWriter(std::uint8_t* out) : start_(out), at_(out) {}

  // At most 32 bits at a time.
  void Put(std::uint32_t bits, unsigned count) {
    buf_ |= static_cast<std::uint64_t>(bits) << used_;
    used_ += count;
    if (used_ >= 32) {
      const std::uint32_t word = static_cast<std::uint32_t>(buf_);
      std::memcpy(at_, &word, 4);
      at_ += 4;
      buf_ >>= 32;
      used_ -= 32;
    }
  }
  // Pads to a byte boundary with zero bits and leaves no bit pending.
  void Align() {
    while (used_ > 0) {
      *at_++ = static_cast<std::uint8_t>(buf_);
      buf_ >>= 8;
      used_ = used_ > 8 ? used_ - 8 : 0;
    }
    buf_ = 0;
  }
  void Bytes(const std::uint8_t* data, std::size_t size) {
    if (size) std::memcpy(at_, data, size);
    at_ += size;
  }
  // Bits written so far, pending ones included.
  std::uint64_t BitCount() const { return static_cast<std::uint64_t>(at_ - start_) * 8 + used_; }
  // Bytes of the finished stream, after Align.
  std::size_t Size() const { return static_cast<std::size_t>(at_ - start_); }

 private:
  std::uint8_t* start_;
  std::uint8_t* at_;
  std::uint64_t buf_ = 0;
  unsigned used_ = 0;
};

}  // namespace za
