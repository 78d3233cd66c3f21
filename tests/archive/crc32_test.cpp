// The CRC-32 of decoded data, whichever backend serves the platform: zlib's
// value for every length and alignment (the fast backends switch paths at
// 16, 64 and 256 bytes), and the same value however the data is cut.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

#include "../../archive/src/crc32.h"

namespace {

std::vector<std::uint8_t> Noise(std::size_t size) {
  std::mt19937 rng(24);
  std::vector<std::uint8_t> data(size);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  return data;
}

std::uint32_t Zlib(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
  return static_cast<std::uint32_t>(::crc32(crc, data, static_cast<uInt>(size)));
}

TEST(Crc32, TheCheckValueAndNothingAtAll) {
  const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(za::ZACrc32(0, check, sizeof check), 0xCBF43926u);
  EXPECT_EQ(za::ZACrc32(0, nullptr, 0), 0u);
  EXPECT_EQ(za::ZACrc32(0xCBF43926u, check, 0), 0xCBF43926u);
}

TEST(Crc32, ZlibsValueAtEveryLengthAndAlignment) {
  std::vector<std::uint8_t> data = Noise(4096 + 64);
  for (std::size_t at = 0; at < 16; ++at)
    for (std::size_t size = 0; size <= 1100; size += size < 300 ? 1 : 61)
      ASSERT_EQ(za::ZACrc32(0, data.data() + at, size), Zlib(data.data() + at, size)) << at << " " << size;
}

TEST(Crc32, TheSameHoweverTheDataIsCut) {
  std::vector<std::uint8_t> data = Noise(3u << 20);
  const std::uint32_t whole = Zlib(data.data(), data.size());
  EXPECT_EQ(za::ZACrc32(0, data.data(), data.size()), whole);
  for (std::size_t piece : {1u, 7u, 63u, 4096u, 100000u}) {
    std::uint32_t crc = 0;
    for (std::size_t at = 0; at < data.size(); at += piece)
      crc = za::ZACrc32(crc, data.data() + at, std::min(piece, data.size() - at));
    EXPECT_EQ(crc, whole) << piece;
  }
}

}  // namespace
