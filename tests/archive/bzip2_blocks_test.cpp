#include <bzlib.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "../../archive/src/codecs/posix/bzip2_blocks.h"

namespace {

class Collect final : public za::TZADecodeSink {
 public:
  bool Write(const std::uint8_t* data, std::size_t size) override {
    text.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool Progress(std::uint64_t) override { return false; }
  std::string text;
};

// Text of many words in no order, so that bzip2 -1 makes several blocks of
// it, none of them much like another.
std::string Words(std::size_t size) {
  static const char* const kWords[] = {"archive", "entry", "block", "window", "stream", "record", "zone", "host"};
  std::mt19937 rng(20261209);
  std::string text;
  while (text.size() < size) text += std::string(kWords[rng() % 8]) + (rng() % 9 ? " " : "\n") + std::to_string(rng() % 1000);
  text.resize(size);
  return text;
}

std::vector<std::uint8_t> Compressed(const std::string& text) {
  std::vector<std::uint8_t> out(text.size() + text.size() / 100 + 600);
  unsigned size = static_cast<unsigned>(out.size());
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &size, const_cast<char*>(text.data()),
                                     static_cast<unsigned>(text.size()), 1, 0, 0),
            BZ_OK);
  out.resize(size);
  return out;
}

struct Outcome {
  bool passed = false;
  std::string output;
};

// `stream` through `codec` in chunks of `chunk` bytes, as an entry of
// `declared` bytes whose content is `text`.
Outcome Decode(za::TZACodec& codec, std::vector<std::uint8_t> stream, std::size_t chunk, const std::string& text) {
  Collect sink;
  za::TZACodecOutput out(sink, text.size());
  bool fed = codec.Begin(text.size(), nullptr, 0);
  for (std::size_t at = 0; fed && at < stream.size(); at += chunk)
    fed = codec.Feed(stream.data() + at, std::min(chunk, stream.size() - at), out);
  EXPECT_LE(sink.text.size(), text.size());
  Outcome outcome;
  outcome.passed = fed && sink.text == text;
  outcome.output = std::move(sink.text);
  return outcome;
}

// A stream of `size` bytes of words and the places of its magics.
struct Blocks {
  explicit Blocks(std::size_t size) : text(Words(size)), stream(Compressed(text)), bits(stream.data(), stream.size()) {
    bits.FindMagics(0, magics);
  }
  std::string text;
  std::vector<std::uint8_t> stream;
  za::TZABZip2Bits bits;
  std::vector<std::uint64_t> magics;
};

TEST(BZip2BlocksTest, EveryBlockFoundAndDecodedAloneInAnyChunks) {
  Blocks b(450000);
  const auto& [text, stream, bits, magics] = b;
  ASSERT_GE(magics.size(), 5u);  // blocks of 100 kB, and the end
  EXPECT_EQ(magics.front(), 32u);
  EXPECT_EQ(bits.Get(magics.back(), 48), za::kBZip2EndMagic);
  auto codec = za::ZABZip2CodecAs(true);
  for (std::size_t chunk : {std::size_t{1} << 20, std::size_t{4093}, std::size_t{61}}) {
    SCOPED_TRACE(chunk);
    EXPECT_TRUE(Decode(*codec, stream, chunk, text).passed);
  }
}

TEST(BZip2BlocksTest, APieceEndingInsideItsBlockIsShortAndGivesNothing) {
  Blocks b(250000);
  const auto& [text, stream, bits, magics] = b;
  ASSERT_GE(magics.size(), 3u);
  std::vector<std::uint8_t> buffer(1 << 16);
  za::TZABZip2PieceDecoder decoder;
  std::string first;
  auto keep = [&](const std::uint8_t* data, std::size_t size) {
    first.append(reinterpret_cast<const char*>(data), size);
    return true;
  };
  for (std::uint64_t cut : {magics[1] - 1, magics[1] - 200, (magics[0] + magics[1]) / 2, magics[0] + 80}) {
    SCOPED_TRACE(cut);
    std::vector<std::uint8_t> piece;
    bits.OneBlockStream(magics[0], cut, '1', piece);
    EXPECT_EQ(decoder.Decode(piece, cut - magics[0], buffer.data(), buffer.size(), keep), za::TZABZip2Piece::Short);
    EXPECT_EQ(first, "");
  }
  std::vector<std::uint8_t> piece;
  bits.OneBlockStream(magics[0], magics[1], '1', piece);
  EXPECT_EQ(decoder.Decode(piece, magics[1] - magics[0], buffer.data(), buffer.size(), keep), za::TZABZip2Piece::Done);
  EXPECT_EQ(first, text.substr(0, first.size()));
  EXPECT_GT(first.size(), 90000u);
}

// A changed byte anywhere: decoded in blocks, the entry passes exactly when
// libbz2 on the whole stream passes it.
TEST(BZip2BlocksTest, ChangedBytesPassOrFailAsTheSerialDecoder) {
  const std::string text = Words(330000);
  const std::vector<std::uint8_t> original = Compressed(text);
  auto blocks = za::ZABZip2CodecAs(true);
  auto serial = za::ZABZip2CodecAs(false);
  int failed = 0;
  for (std::size_t at = 0; at < original.size(); at += original.size() / 150 + 1) {
    for (std::uint8_t change : {std::uint8_t{0x01}, std::uint8_t{0xA5}}) {
      SCOPED_TRACE(std::to_string(at) + " ^ " + std::to_string(change));
      std::vector<std::uint8_t> stream = original;
      stream[at] ^= change;
      Outcome inBlocks = Decode(*blocks, stream, 7001, text);
      Outcome whole = Decode(*serial, stream, 7001, text);
      EXPECT_EQ(inBlocks.passed, whole.passed);
      failed += !whole.passed;
    }
  }
  EXPECT_GT(failed, 250);
}

}  // namespace
