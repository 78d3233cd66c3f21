#include "bzip2_blocks.h"

#include <array>
#include <cstring>

namespace za {

std::uint64_t TZABZip2Bits::Get(std::uint64_t at, unsigned n) const {
  std::uint64_t word = 0;
  std::size_t byte = static_cast<std::size_t>(at / 8);
  for (std::size_t i = 0; i < 8; ++i) word = word << 8 | (byte + i < size_ ? data_[byte + i] : 0);
  return (word << (at % 8)) >> (64 - n);
}

void TZABZip2Bits::FindMagics(std::uint64_t from, std::vector<std::uint64_t>& into) const {
  // A magic that begins at bit s of a byte fixes the whole next byte: a
  // look at that byte leaves few places to check in full.
  static const std::array<std::uint8_t, 256> kShifts = [] {
    std::array<std::uint8_t, 256> shifts{};
    for (unsigned s = 0; s < 8; ++s)
      for (std::uint64_t magic : {kBZip2BlockMagic, kBZip2EndMagic}) shifts[(magic >> (32 + s)) & 0xFF] |= 1u << s;
    return shifts;
  }();
  const std::uint64_t bits = Count();
  if (bits < 48) return;
  for (std::size_t p = static_cast<std::size_t>(from / 8); p + 1 < size_; ++p) {
    unsigned shifts = kShifts[data_[p + 1]];
    for (unsigned s = 0; shifts; ++s, shifts >>= 1) {
      if (!(shifts & 1)) continue;
      std::uint64_t at = std::uint64_t{p} * 8 + s;
      if (at < from || at > bits - 48) continue;
      std::uint64_t v = Get(at, 48);
      if (v == kBZip2BlockMagic || v == kBZip2EndMagic) into.push_back(at);
    }
  }
}

void TZABZip2Bits::OneBlockStream(std::uint64_t begin, std::uint64_t end, std::uint8_t level,
                                  std::vector<std::uint8_t>& into) const {
  const std::uint64_t bits = end - begin;
  const std::size_t whole = static_cast<std::size_t>(bits / 8), p = static_cast<std::size_t>(begin / 8);
  const unsigned shift = begin % 8;
  into.assign({'B', 'Z', 'h', level});
  into.resize(4 + whole);
  std::uint8_t* out = into.data() + 4;
  if (shift == 0) {
    std::memcpy(out, data_ + p, whole);
  } else {
    for (std::size_t i = 0; i < whole; ++i)
      out[i] = static_cast<std::uint8_t>(data_[p + i] << shift | data_[p + i + 1] >> (8 - shift));
  }
  std::uint64_t pending = 0;
  unsigned count = 0;
  auto put = [&](std::uint64_t value, unsigned n) {
    pending = pending << n | value;
    count += n;
    while (count >= 8) {
      count -= 8;
      into.push_back(static_cast<std::uint8_t>(pending >> count));
    }
    pending &= (std::uint64_t{1} << count) - 1;
  };
  if (unsigned rest = bits % 8) put(Get(begin + bits - rest, rest), rest);
  put(kBZip2EndMagic, 48);
  put(Get(begin + 48, 32), 32);  // the block's CRC, after its magic
  if (count) into.push_back(static_cast<std::uint8_t>(pending << (8 - count)));
}

}  // namespace za
