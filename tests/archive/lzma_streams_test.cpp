#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../../archive/src/codecs/posix/lzma_streams.h"
#include "../../archive/src/crc32.h"
#include "../../archive/src/decoder.h"
#include "archive/methods.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class Collect final : public za::TZADecodeSink {
 public:
  bool Write(const std::uint8_t* data, std::size_t size) override {
    out.insert(out.end(), data, data + size);
    return true;
  }
  bool Progress(std::uint64_t) override { return false; }
  // As the batch's writer, it can take back what a second decoding does
  // not make again.
  bool Truncate(std::uint64_t produced) override {
    out.resize(static_cast<std::size_t>(produced));
    return true;
  }
  Bytes out;
};

class Gather final : public za::TZAEncodeSink {
 public:
  void Put(std::uint8_t* data, std::size_t size) override { out.insert(out.end(), data, data + size); }
  Bytes out;
};

// Text with repeats near and far, and stretches of noise.
Bytes Sample(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  const char* words[] = {"archive ", "entry ", "window ", "stream ", "record ", "zone ", "deflate ", "marker "};
  Bytes out;
  while (out.size() < size) {
    unsigned pick = rng() % 10;
    if (pick < 7) {
      const char* w = words[rng() % 8];
      out.insert(out.end(), w, w + std::strlen(w));
    } else if (pick < 9 && out.size() > 64) {
      std::size_t from = rng() % (out.size() - 32), n = 4 + rng() % 28;
      for (std::size_t i = 0; i < n; ++i) out.push_back(out[from + i]);
    } else {
      for (int i = 0; i < 16; ++i) out.push_back(static_cast<std::uint8_t>(rng()));
    }
  }
  out.resize(size);
  return out;
}

// The zip form of LZMA, as zarc writes it (with the end marker); the
// encoder's dictionary fits `hint` bytes.
Bytes Encode(const Bytes& data, std::uint64_t hint) {
  std::unique_ptr<za::TZAEncoder> encoder = za::ZALzmaEncoder(6, hint);
  Gather sink;
  EXPECT_TRUE(encoder->Encode(data.data(), data.size(), true, sink));
  return sink.out;
}

struct Outcome {
  bool fed = false;     // every Feed passed
  bool conclusive = false;
  Bytes out;
};

// `codec` fed `stream` in pieces of `piece` bytes, into the caller's
// buffer where `buffer` is set.
Outcome Feed(za::TZACodec& codec, const Bytes& stream, std::uint64_t declared, std::size_t piece,
            bool buffer = false) {
  Outcome o;
  Collect sink;
  Bytes own(static_cast<std::size_t>(declared) + 1);
  za::TZACodecOutput out(sink, declared);
  o.fed = codec.Begin(declared, buffer ? own.data() : nullptr, buffer ? own.size() : 0);
  codec.Expect(stream.size());
  Bytes copy = stream;  // codecs may write over their input
  for (std::size_t at = 0; o.fed && at < copy.size(); at += piece)
    o.fed = codec.Feed(copy.data() + at, std::min(piece, copy.size() - at), out);
  o.conclusive = codec.Conclusive();
  o.out = sink.out;
  return o;
}

// Small, around the input chunk of 1 MiB, and with a dictionary far
// smaller than the entry, so that the window goes round.
TEST(LzmaStreamsTest, OurDecoderComesToTheEndOfEncodedStreamsInAnyPieces) {
  struct Case {
    std::size_t size;
    std::uint64_t hint;
  };
  for (Case c : {Case{0, 0}, Case{1, 1}, Case{5000, 5000}, Case{300000, 300000}, Case{3u << 20, 3u << 20},
                 Case{300000, 4096}}) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes, dictionary for " + std::to_string(c.hint));
    const Bytes data = Sample(c.size, static_cast<unsigned>(c.size));
    const Bytes stream = Encode(data, c.hint);
    for (std::size_t piece : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{1000},
                              std::size_t{1} << 20, stream.size()}) {
      if (piece == 1 && c.size > 5000) continue;
      SCOPED_TRACE("pieces of " + std::to_string(piece));
      std::unique_ptr<za::TZACodec> codec = za::ZALzmaCodec();
      Outcome o = Feed(*codec, stream, c.size, piece);
      EXPECT_TRUE(o.fed);
      EXPECT_TRUE(o.conclusive);
      EXPECT_TRUE(o.out == data);
    }
    std::unique_ptr<za::TZACodec> codec = za::ZALzmaCodec();
    Outcome in = Feed(*codec, stream, c.size, stream.size(), true);
    EXPECT_TRUE(in.conclusive);
    EXPECT_TRUE(in.out == data);
  }
}

// Through the decoder: ours and then liblzma where ours does not end
// cleanly, against liblzma alone.
za::TZADecodeVerdict Decoded(bool own, Bytes stream, std::uint64_t declared, std::uint32_t crc, Bytes& out) {
  static const za::TZAMethods ours{[](std::uint16_t) { return za::ZALzmaCodec(); }, nullptr};
  static const za::TZAMethods theirs{[](std::uint16_t) { return za::ZALiblzmaLzmaCodec(); }, nullptr};
  za::TZADecoder decoder;
  decoder.SetMethods(own ? &ours : &theirs);
  za::TZAEntryCoding coding;
  coding.Method = 14;
  coding.Declared = declared;
  coding.Crc32 = crc;
  Collect sink;
  za::TZADecodeVerdict verdict = decoder.DecodeBuffer(stream.data(), stream.size(), coding, sink, nullptr, 0);
  out = sink.out;
  return verdict;
}

// Streams changed a byte at a time, cut, or declared a byte short or long:
// the verdict, the bytes handed on and what is said are liblzma's; and
// where ours alone comes to a clean end, liblzma decodes the same bytes.
TEST(LzmaStreamsTest, DamagedStreamsGetLiblzmasVerdict) {
  const Bytes data = Sample(20000, 7);
  const Bytes stream = Encode(data, data.size());
  const std::uint32_t crc = za::ZACrc32(0, data.data(), data.size());
  int clean = 0;
  auto compare = [&](const Bytes& s, std::uint64_t declared, const std::string& what) {
    SCOPED_TRACE(what);
    Bytes mine, theirs;
    za::TZADecodeVerdict a = Decoded(true, s, declared, crc, mine);
    za::TZADecodeVerdict b = Decoded(false, s, declared, crc, theirs);
    EXPECT_EQ(a.Passed(), b.Passed());
    EXPECT_EQ(a.Produced, b.Produced);
    EXPECT_EQ(a.Crc32, b.Crc32);
    EXPECT_EQ(a.DataError, b.DataError);
    EXPECT_EQ(a.Fault.Text, b.Fault.Text);
    EXPECT_TRUE(mine == theirs);
    std::unique_ptr<za::TZACodec> codec = za::ZALzmaCodec();
    Outcome o = Feed(*codec, s, declared, s.size());
    if (o.fed && o.conclusive) {
      ++clean;
      std::unique_ptr<za::TZACodec> reference = za::ZALiblzmaLzmaCodec();
      Outcome r = Feed(*reference, s, declared, s.size());
      EXPECT_TRUE(r.fed);
      EXPECT_TRUE(r.out == o.out);
      EXPECT_EQ(o.out.size(), declared);
    }
  };
  for (std::size_t at = 0; at < stream.size(); at += 97) {
    Bytes s = stream;
    s[at] ^= static_cast<std::uint8_t>(1u << (at % 8));
    compare(s, data.size(), "bit flipped at " + std::to_string(at));
  }
  for (std::size_t cut : {std::size_t{5}, std::size_t{14}, stream.size() / 2, stream.size() - 6, stream.size() - 1})
    compare(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut)), data.size(),
            "cut to " + std::to_string(cut));
  compare(stream, data.size() - 1, "declared one short");
  compare(stream, data.size() + 1, "declared one long");
  Bytes trailing = stream;
  trailing.insert(trailing.end(), 100, 0xAB);
  compare(trailing, data.size(), "bytes after the end");
  compare(stream, data.size(), "intact");
  EXPECT_GE(clean, 2);  // intact and with bytes after it
}

}  // namespace
