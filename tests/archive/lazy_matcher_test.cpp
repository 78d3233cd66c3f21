// Our own deflate, whole inputs: zlib's inflate gives back every input
// exactly, at every effort, and the output is never larger than the input
// stored; matches reach as far back as the window and no farther.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../archive/src/deflate/lazy_matcher.h"
#include "memory_volumes.h"
#include "raw_inflate.h"

namespace {

using za::testing::Inflated;
using za::testing::Noise;

const za::TZAMatchEffort kEfforts[] = {{8, 16, 128, 32, 16}, {4, 4, 8, 1, 1}, {258, 258, 258, 4096, 4096}};

std::string Deflated(const std::string& data, const za::TZAMatchEffort& effort) {
  std::vector<std::uint8_t> out;
  za::ZADeflateWhole(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), effort, out);
  return std::string(out.begin(), out.end());
}

std::size_t StoredBound(std::size_t size) { return size + 5 * (size / 65535 + 1); }

std::string Words(std::size_t size, std::uint32_t seed) {
  static const char* const kWords[] = {"archive", "entry", "zone", "host", "setup", "stream", "record", "window"};
  std::string s;
  while (s.size() < size) {
    seed = seed * 1103515245u + 12345u;
    s += kWords[(seed >> 16) % 8];
    s += (seed >> 8) % 13 ? ' ' : '\n';
    if ((seed >> 20) % 7 == 0) s += std::to_string(seed % 100000);
  }
  s.resize(size);
  return s;
}

TEST(LazyMatcherTest, EveryKindOfInputInflatesBackExactly) {
  std::string all256;
  for (int r = 0; r < 3; ++r)
    for (int b = 0; b < 256; ++b) all256 += static_cast<char>(b);
  const std::vector<std::string> inputs = {
      "", "a", "ab", "abc", "abcd", std::string(100000, 'a'), all256,
      Words(300000, 1),                                   // many blocks of matches
      Noise(70000, 2),                                    // stored blocks, more than one piece
      Noise(3000, 3) + std::string(5000, 0) + Noise(3000, 3),
      std::string("abcabcabcabd") + "abcabcabcabd",       // short matches, overlapping
  };
  for (const za::TZAMatchEffort& effort : kEfforts)
    for (const std::string& data : inputs) {
      SCOPED_TRACE(std::to_string(data.size()) + " bytes, chain " + std::to_string(effort.chain));
      const std::string packed = Deflated(data, effort);
      EXPECT_EQ(Inflated(packed), data);
      EXPECT_LE(packed.size(), StoredBound(data.size()));
    }
}

TEST(LazyMatcherTest, SizesAroundTheWindowAndBlockBoundariesInflateBack) {
  // Literals alone fill a block's symbols at 32768; matches at the
  // window's edge.
  for (std::size_t size : {32767u, 32768u, 32769u, 65535u, 65536u, 65537u, 98304u + 1})
    for (const std::string& data : {Noise(size, 11), Words(size, 12), Noise(size / 2, 13) + Noise(size - size / 2, 13)}) {
      SCOPED_TRACE(size);
      const std::string packed = Deflated(data, kEfforts[0]);
      EXPECT_EQ(Inflated(packed), data);
      EXPECT_LE(packed.size(), StoredBound(data.size()));
    }
}

TEST(LazyMatcherTest, ARepeatJustWithinTheWindowIsFoundAndOneBeyondItIsNotTaken) {
  for (std::size_t period : {32767u, 32769u}) {
    const std::string once = Noise(period, 21);
    const std::string data = once + once.substr(0, 20000);
    const std::string packed = Deflated(data, kEfforts[0]);
    ASSERT_EQ(Inflated(packed), data) << period;
    if (period == 32767)
      EXPECT_LT(packed.size(), period + 1000);  // the repeat as matches
    else
      EXPECT_GT(packed.size(), data.size() - 100);  // out of reach
  }
}

}  // namespace
