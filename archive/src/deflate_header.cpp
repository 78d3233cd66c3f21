#include "deflate_header.h"

#include <array>

namespace za {

namespace {

// Bits in deflate's order, least significant first; a read past the end
// sets `out` and gives zeros.
class BitReader {
 public:
  BitReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint32_t Bits(int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      if (at_ >= size_ * 8) {
        out = true;
        return 0;
      }
      v |= static_cast<std::uint32_t>((data_[at_ >> 3] >> (at_ & 7)) & 1) << i;
      ++at_;
    }
    return v;
  }
  bool out = false;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

constexpr int kMaxBits = 15;

// A canonical code given by its lengths, as zlib's tables would take it.
struct Code {
  std::array<int, kMaxBits + 1> count{};
  std::array<int, 320> symbol{};
  int longest = 0;
};

enum class Kind { CodeLengths, Other };

// False where zlib refuses the lengths: oversubscribed, or incomplete
// unless no symbol or one of length 1 has a code (zlib keeps these for
// literals and distances; for code lengths, an empty code only fails
// later, which the caller sees as a missing end-of-block code).
bool Build(const std::uint8_t* lengths, int n, Kind kind, Code& code) {
  for (int i = 0; i < n; ++i) ++code.count[lengths[i]];
  code.count[0] = 0;
  for (int len = 1; len <= kMaxBits; ++len)
    if (code.count[len]) code.longest = len;
  if (code.longest == 0) return true;
  int left = 1;
  for (int len = 1; len <= kMaxBits; ++len) {
    left = 2 * left - code.count[len];
    if (left < 0) return false;
  }
  if (left > 0 && (kind == Kind::CodeLengths || code.longest != 1)) return false;
  std::array<int, kMaxBits + 2> offset{};
  for (int len = 1; len <= kMaxBits; ++len) offset[len + 1] = offset[len] + code.count[len];
  for (int i = 0; i < n; ++i)
    if (lengths[i]) code.symbol[offset[lengths[i]]++] = i;
  return true;
}

// One symbol of a complete code, read bit by bit; -1 past its codes.
int Decode(BitReader& in, const Code& code) {
  int first = 0, index = 0, value = 0;
  for (int len = 1; len <= code.longest; ++len) {
    value |= static_cast<int>(in.Bits(1));
    int count = code.count[len];
    if (value - first < count) return code.symbol[index + value - first];
    index += count;
    first = (first + count) << 1;
    value <<= 1;
  }
  return -1;
}

}  // namespace

TZADeflateHeader ZACheckFirstDeflateHeader(const std::uint8_t* data, std::size_t size) {
  BitReader in(data, size);
  in.Bits(1);  // last block or not
  std::uint32_t type = in.Bits(2);
  if (in.out) return TZADeflateHeader::Short;
  // Stored and fixed blocks define no code; a reserved type both refuse.
  if (type != 2) return TZADeflateHeader::Sound;
  int nlen = static_cast<int>(in.Bits(5)) + 257;
  int ndist = static_cast<int>(in.Bits(5)) + 1;
  int ncode = static_cast<int>(in.Bits(4)) + 4;
  if (in.out) return TZADeflateHeader::Short;
  if (nlen > 286 || ndist > 30) return TZADeflateHeader::Refused;
  static constexpr std::uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  std::uint8_t lengths[320] = {};
  for (int i = 0; i < ncode; ++i) lengths[kOrder[i]] = static_cast<std::uint8_t>(in.Bits(3));
  if (in.out) return TZADeflateHeader::Short;
  Code codeLengths;
  if (!Build(lengths, 19, Kind::CodeLengths, codeLengths) || codeLengths.longest == 0)
    return TZADeflateHeader::Refused;
  std::uint8_t lens[320] = {};
  for (int have = 0; have < nlen + ndist;) {
    int symbol = Decode(in, codeLengths);
    if (in.out) return TZADeflateHeader::Short;
    if (symbol < 0) return TZADeflateHeader::Refused;
    if (symbol < 16) {
      lens[have++] = static_cast<std::uint8_t>(symbol);
      continue;
    }
    int repeat;
    std::uint8_t value = 0;
    if (symbol == 16) {
      if (have == 0) return TZADeflateHeader::Refused;
      value = lens[have - 1];
      repeat = 3 + static_cast<int>(in.Bits(2));
    } else {
      repeat = symbol == 17 ? 3 + static_cast<int>(in.Bits(3)) : 11 + static_cast<int>(in.Bits(7));
    }
    if (in.out) return TZADeflateHeader::Short;
    if (have + repeat > nlen + ndist) return TZADeflateHeader::Refused;
    while (repeat--) lens[have++] = value;
  }
  if (lens[256] == 0) return TZADeflateHeader::Refused;
  Code literals, distances;
  if (!Build(lens, nlen, Kind::Other, literals) || !Build(lens + nlen, ndist, Kind::Other, distances))
    return TZADeflateHeader::Refused;
  return TZADeflateHeader::Sound;
}

}  // namespace za
