#pragma once
// Deflate's length and distance codes with their extra bits.
#include <array>
#include <cstdint>

namespace za::deflate {

struct TZACodeTables {
  // By length - 3: the code less 257, its extra bits and their base.
  std::array<std::uint8_t, 256> lengthCode;
  std::array<std::uint8_t, 29> lengthExtra;
  std::array<std::uint16_t, 29> lengthBase;
  // By distance - 1 below 256, else by 256 + ((distance - 1) >> 7).
  std::array<std::uint8_t, 512> distCode;
  std::array<std::uint8_t, 30> distExtra;
  std::array<std::uint16_t, 30> distBase;

  constexpr TZACodeTables() : lengthCode{}, lengthExtra{}, lengthBase{}, distCode{}, distExtra{}, distBase{} {
    unsigned base = 3;
    for (unsigned c = 0; c < 28; ++c) {
      lengthExtra[c] = static_cast<std::uint8_t>(c < 8 ? 0 : c / 4 - 1);
      lengthBase[c] = static_cast<std::uint16_t>(base);
      for (unsigned k = 0; k < (1u << lengthExtra[c]); ++k) lengthCode[base - 3 + k] = static_cast<std::uint8_t>(c);
      base += 1u << lengthExtra[c];
    }
    // 258 has a code of its own, not the last of 284's range.
    lengthExtra[28] = 0;
    lengthBase[28] = 258;
    lengthCode[255] = 28;
    unsigned dist = 1;
    for (unsigned c = 0; c < 30; ++c) {
      distExtra[c] = static_cast<std::uint8_t>(c < 4 ? 0 : c / 2 - 1);
      distBase[c] = static_cast<std::uint16_t>(dist);
      for (unsigned k = 0; k < (1u << distExtra[c]); ++k) {
        const unsigned d = dist - 1 + k;
        if (d < 256) distCode[d] = static_cast<std::uint8_t>(c);
        else distCode[256 + (d >> 7)] = static_cast<std::uint8_t>(c);
      }
      dist += 1u << distExtra[c];
    }
  }
  unsigned DistCode(unsigned distance) const {
    const unsigned d = distance - 1;
    return d < 256 ? distCode[d] : distCode[256 + (d >> 7)];
  }
};

inline constexpr TZACodeTables kTables{};

}  // namespace za::deflate
