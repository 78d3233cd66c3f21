#pragma once
// Bounds-checked little-endian reader over a span, with a sticky error:
// a read that does not fit fails, moves nothing and fails every later read,
// so a structure can be read field by field and checked once at the end.
#include <cstddef>
#include <cstdint>

namespace za {

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}

  bool Ok() const { return !error_; }
  std::size_t Remaining() const { return size_ - offset_; }
  std::size_t Offset() const { return offset_; }

  std::uint8_t U8() { return static_cast<std::uint8_t>(Le(1)); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Le(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Le(4)); }
  std::uint64_t U64() { return Le(8); }
  // n bytes in place, or nullptr.
  const std::uint8_t* Bytes(std::size_t n) {
    if (!Fits(n)) return nullptr;
    const std::uint8_t* p = data_ + offset_;
    offset_ += n;
    return p;
  }
  void Skip(std::size_t n) { Bytes(n); }

 private:
  bool Fits(std::size_t n) {
    if (error_ || n > size_ - offset_) {
      error_ = true;
      return false;
    }
    return true;
  }
  std::uint64_t Le(std::size_t n) {
    if (!Fits(n)) return 0;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(data_[offset_ + i]) << (8 * i);
    offset_ += n;
    return v;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
  bool error_ = false;
};

}  // namespace za
