// Our own block decoder against libbz2: every block an encoder writes is
// taken, byte for byte libbz2's; what it does not take, libbz2 decodes.
#include <bzlib.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "../../archive/src/codecs/posix/bzip2_block_decoder.h"
#include "../../archive/src/codecs/posix/bzip2_blocks.h"

namespace {

std::vector<std::uint8_t> Compressed(const std::string& text, int level) {
  std::vector<std::uint8_t> out(text.size() + text.size() / 100 + 600);
  unsigned size = static_cast<unsigned>(out.size());
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &size, const_cast<char*>(text.data()),
                                     static_cast<unsigned>(text.size()), level, 0, 0),
            BZ_OK);
  out.resize(size);
  return out;
}

// Every block of the stream of `text` through the decoder, joined.
std::string Joined(const std::string& text, int level, za::TZABZip2BlockDecoder& decoder, unsigned* taken) {
  std::vector<std::uint8_t> stream = Compressed(text, level);
  za::TZABZip2Bits bits(stream.data(), stream.size());
  std::vector<std::uint64_t> magics;
  bits.FindMagics(0, magics);
  std::string out;
  *taken = 0;
  for (std::size_t k = 0; k + 1 < magics.size(); ++k) {
    if (!decoder.Decode(bits, magics[k], magics[k + 1], stream[3], text.size())) continue;
    ++*taken;
    out.append(reinterpret_cast<const char*>(decoder.Output()), decoder.OutputSize());
  }
  EXPECT_EQ(*taken + 1, magics.size()) << "blocks refused";
  return out;
}

TEST(BZip2BlockDecoderTest, TakesWhatEncodersWriteAsLibbz2DecodesIt) {
  std::mt19937 rng(42);
  std::string words, noise, runs, bytes;
  static const char* const kWords[] = {"setup", "zone", "archive", "entry", "window", "host"};
  while (words.size() < 700000) words += std::string(kWords[rng() % 6]) + " " + std::to_string(rng() % 100) + "\n";
  for (int i = 0; i < 300000; ++i) noise += static_cast<char>(rng());
  // Runs of every length around the four that start a count, and longer
  // than one count holds.
  for (int len = 1; runs.size() < 400000; len = len % 600 + 1) runs += std::string(len, static_cast<char>('a' + len % 3));
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  za::TZABZip2BlockDecoder decoder;
  unsigned taken = 0;
  for (int level : {1, 9}) {
    SCOPED_TRACE(level);
    for (const std::string* text : {&words, &noise, &runs, &bytes}) {
      EXPECT_EQ(Joined(*text, level, decoder, &taken), *text);
      EXPECT_GE(taken, 1u);
    }
    EXPECT_EQ(Joined("x", level, decoder, &taken), "x");
    EXPECT_EQ(Joined("abcdaaaa", level, decoder, &taken), "abcdaaaa");  // a run of four ends the block
  }
}

TEST(BZip2BlockDecoderTest, RefusesWrongEndsDamageAndTooMuchOutput) {
  std::string words;
  for (int i = 0; words.size() < 200000; ++i) words += "entry " + std::to_string(i * 7919 % 5000) + " ";
  std::vector<std::uint8_t> stream = Compressed(words, 9);
  za::TZABZip2Bits bits(stream.data(), stream.size());
  std::vector<std::uint64_t> magics;
  bits.FindMagics(0, magics);
  ASSERT_EQ(magics.size(), 2u);
  za::TZABZip2BlockDecoder decoder;
  ASSERT_TRUE(decoder.Decode(bits, 32, magics[1], '9', words.size()));
  EXPECT_FALSE(decoder.Decode(bits, 32, magics[1] - 1, '9', words.size()));
  EXPECT_FALSE(decoder.Decode(bits, 32, magics[1] + 1, '9', words.size()));
  EXPECT_FALSE(decoder.Decode(bits, 32, magics[1], '1', words.size()));  // larger than the stream's blocks
  EXPECT_FALSE(decoder.Decode(bits, 32, magics[1], '9', words.size() - 1));
  // A changed byte anywhere in the block: refused, or (where it falls on
  // bits that do not matter) the same output.
  for (std::size_t at = 4; at < stream.size() - 10; at += 97) {
    std::vector<std::uint8_t> changed = stream;
    changed[at] ^= 0x10;
    za::TZABZip2Bits other(changed.data(), changed.size());
    if (decoder.Decode(other, 32, magics[1], '9', words.size()))
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(decoder.Output()), decoder.OutputSize()), words) << at;
  }
  // One byte over and over: more output from one block than is held.
  const std::string zeros(20u << 20, '\0');
  std::vector<std::uint8_t> packed = Compressed(zeros, 9);
  za::TZABZip2Bits zbits(packed.data(), packed.size());
  magics.clear();
  zbits.FindMagics(0, magics);
  EXPECT_FALSE(decoder.Decode(zbits, 32, magics[1], '9', zeros.size()));
}

}  // namespace
