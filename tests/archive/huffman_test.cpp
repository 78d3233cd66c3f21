// Length-limited Huffman codes: within the limit, complete (deflate's
// decoders refuse any other code of two symbols or more), and a length for
// every symbol that occurs, whatever the counts.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "../../archive/src/deflate/huffman.h"

namespace {

// The code space the lengths take, in units of 2^-limit; a complete code
// takes all of it.
std::uint64_t Space(const std::vector<std::uint8_t>& lengths, unsigned limit) {
  std::uint64_t space = 0;
  for (std::uint8_t l : lengths)
    if (l) space += std::uint64_t{1} << (limit - l);
  return space;
}

void ExpectSound(const std::vector<std::uint32_t>& freq, unsigned limit) {
  std::vector<std::uint8_t> lengths(freq.size());
  za::ZAHuffmanLengths(freq.data(), freq.size(), limit, lengths.data());
  EXPECT_EQ(Space(lengths, limit), std::uint64_t{1} << limit);
  for (std::size_t s = 0; s < freq.size(); ++s) {
    EXPECT_LE(lengths[s], limit) << s;
    if (freq[s]) {
      EXPECT_GT(lengths[s], 0) << s;
    }
  }
  // A rarer symbol never has the shorter code.
  for (std::size_t a = 0; a < freq.size(); ++a)
    for (std::size_t b = 0; b < freq.size(); ++b)
      if (freq[a] && freq[b] && freq[a] < freq[b]) {
        EXPECT_GE(lengths[a], lengths[b]) << a << " " << b;
      }
}

TEST(HuffmanTest, CountsThatWouldMakeDeepTreesStayWithinTheLimitAndComplete) {
  // Fibonacci counts make a tree one level deeper per symbol.
  std::vector<std::uint32_t> fib(30);
  fib[0] = fib[1] = 1;
  for (std::size_t i = 2; i < fib.size(); ++i) fib[i] = fib[i - 1] + fib[i - 2];
  ExpectSound(fib, 15);
  ExpectSound(std::vector<std::uint32_t>(fib.begin(), fib.begin() + 19), 7);
  // Every literal and length, most of them rare.
  std::vector<std::uint32_t> wide(286, 1);
  wide[32] = 1u << 30;
  wide[101] = 1u << 20;
  ExpectSound(wide, 15);
  ExpectSound(std::vector<std::uint32_t>(19, 5), 7);
}

TEST(HuffmanTest, OneOrNoSymbolStillGivesTwoCodesOfOneBit) {
  for (std::size_t only : {0u, 1u, 29u}) {
    std::vector<std::uint32_t> freq(30, 0);
    freq[only] = 7;
    std::vector<std::uint8_t> lengths(30);
    za::ZAHuffmanLengths(freq.data(), 30, 15, lengths.data());
    EXPECT_EQ(lengths[only], 1);
    EXPECT_EQ(Space(lengths, 15), 1u << 15) << only;
  }
  std::vector<std::uint32_t> none(30, 0);
  std::vector<std::uint8_t> lengths(30);
  za::ZAHuffmanLengths(none.data(), 30, 15, lengths.data());
  EXPECT_EQ(Space(lengths, 15), 1u << 15);
}

TEST(HuffmanTest, CanonicalCodesAreReversedForBitsSentLowFirst) {
  // Lengths 2, 1, 3, 3: canonical codes 10, 0, 110, 111.
  const std::uint8_t lengths[4] = {2, 1, 3, 3};
  std::uint16_t codes[4];
  za::ZAHuffmanCodes(lengths, 4, codes);
  EXPECT_EQ(codes[0], 0b01);
  EXPECT_EQ(codes[1], 0b0);
  EXPECT_EQ(codes[2], 0b011);
  EXPECT_EQ(codes[3], 0b111);
}

}  // namespace
