// Deflate as the writer's encoder: zlib's and the faster compressor give
// data that inflates back to the source, whatever pieces it comes in.
#include <gtest/gtest.h>

#include <string>

#include "../../archive/src/deflate_encoder.h"
#include "memory_volumes.h"
#include "raw_inflate.h"

namespace {

class Collect final : public za::TZAEncodeSink {
 public:
  void Put(std::uint8_t* data, std::size_t size) override { out.append(reinterpret_cast<const char*>(data), size); }
  std::string out;
};

using za::testing::Inflated;

std::string Text(std::size_t size) {
  std::string s;
  for (std::size_t i = 0; s.size() < size; ++i) s += "entry " + std::to_string(i * 7919 % 1000) + " of the setup tree\n";
  s.resize(size);
  return s;
}

// Fed in pieces of `piece` bytes, then told the end with nothing more.
std::string Encoded(za::TZAEncoder& encoder, const std::string& data, std::size_t piece) {
  Collect sink;
  const auto* p = reinterpret_cast<const std::uint8_t*>(data.data());
  for (std::size_t at = 0; at < data.size(); at += piece)
    EXPECT_TRUE(encoder.Encode(p + at, std::min(piece, data.size() - at), false, sink));
  EXPECT_TRUE(encoder.Encode(p, 0, true, sink));
  return sink.out;
}

TEST(DeflateEncoderTest, EveryLevelInflatesBackTheSameWholeOrInPieces) {
  const std::string data = Text(150000) + za::testing::Noise(40000, 3) + Text(60000);
  for (bool fast : {false, true}) {
    for (int level = 1; level <= 9; ++level) {
      SCOPED_TRACE((fast ? "fast, level " : "zlib, level ") + std::to_string(level));
      auto pieces = za::ZADeflateEncoder(level, fast, data.size());
      EXPECT_EQ(pieces->Method(), 8);
      std::string a = Encoded(*pieces, data, 10007);
      EXPECT_EQ(Inflated(a), data);
      EXPECT_LT(a.size(), data.size());
      auto whole = za::ZADeflateEncoder(level, fast, data.size());
      Collect sink;
      EXPECT_TRUE(whole->Encode(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), true, sink));
      // The archive's bytes do not depend on how reading cut the source.
      EXPECT_EQ(sink.out, a);
    }
  }
  auto empty = za::ZADeflateEncoder(6, true, 0);
  EXPECT_EQ(Inflated(Encoded(*empty, "", 1)), "");
}

TEST(DeflateEncoderTest, ASourceLargerThanTheFasterOneHoldsGoesOnThroughZlib) {
  // Said to be small, as a file that grows while it is read.
  auto fast = za::ZAFastDeflateEncoder(5, 1000);
  if (!fast) GTEST_SKIP() << "no faster compressor in this build";
  const std::string data = Text(17u << 20);
  std::string packed = Encoded(*fast, data, 1u << 20);
  EXPECT_EQ(Inflated(packed), data);
  auto zlib = za::ZAZlibDeflateEncoder(5, data.size());
  EXPECT_EQ(packed, Encoded(*zlib, data, 1u << 20));
  for (int level : {0, 10}) EXPECT_EQ(za::ZAFastDeflateEncoder(level, 1000), nullptr) << level;
}

TEST(DeflateEncoderTest, TheFasterOneIsNoLargerThanZlibAtTheSameLevel) {
  const std::string data = Text(300000) + za::testing::Noise(20000, 4) + Text(100000);
  for (int level = 1; level <= 9; ++level) {
    auto fast = za::ZAFastDeflateEncoder(level, data.size());
    if (!fast) GTEST_SKIP() << "no faster compressor in this build";
    std::string packed = Encoded(*fast, data, 65536);
    EXPECT_EQ(Inflated(packed), data);
    EXPECT_LE(packed.size(), Encoded(*za::ZAZlibDeflateEncoder(level, data.size()), data, 65536).size()) << level;
  }
}

TEST(DeflateEncoderTest, DataWhoseStartDoesNotCompressStillInflatesBackAndKeepsWhatRepeats) {
  if (!za::ZAFastDeflateEncoder(6, 1000)) GTEST_SKIP() << "no faster compressor in this build";
  const std::string noise = za::testing::Noise(100000, 5);
  const std::string mostlyText = za::testing::Noise(40000, 6) + Text(400000);
  for (int level : {1, 5, 6, 9}) {
    SCOPED_TRACE(level);
    for (const std::string* data : {&noise, &mostlyText}) {
      std::string packed = Encoded(*za::ZAFastDeflateEncoder(level, data->size()), *data, 30000);
      EXPECT_EQ(Inflated(packed), *data);
      // Noise comes out about its own size (the writer then stores it);
      // text after it is still compressed.
      EXPECT_LT(packed.size(), data == &noise ? noise.size() + noise.size() / 50 : mostlyText.size() / 2);
    }
    // Text that begins well past a start of noise is still compressed.
    const std::string lateText = za::testing::Noise(100000, 8) + Text(100000) + za::testing::Noise(50000, 9);
    std::string late = Encoded(*za::ZAFastDeflateEncoder(level, lateText.size()), lateText, 65536);
    EXPECT_EQ(Inflated(late), lateText);
    EXPECT_LT(late.size(), lateText.size() - 50000);
    // Noise larger than one stored block, and just past the sample.
    for (std::size_t size : {std::size_t{200000}, std::size_t{32769}}) {
      const std::string more = za::testing::Noise(size, 10);
      std::string packed = Encoded(*za::ZAFastDeflateEncoder(level, more.size()), more, 65536);
      EXPECT_EQ(Inflated(packed), more);
      EXPECT_LE(packed.size(), more.size() + 5 * (more.size() / 65535 + 1));
    }
    // Smaller than the sample taken, and nothing at all.
    std::string small = za::testing::Noise(3000, 7);
    EXPECT_EQ(Inflated(Encoded(*za::ZAFastDeflateEncoder(level, small.size()), small, 1000)), small);
    EXPECT_EQ(Inflated(Encoded(*za::ZAFastDeflateEncoder(level, 0), "", 1)), "");
  }
}

}  // namespace
