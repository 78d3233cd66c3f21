#include <gtest/gtest.h>
#include <lzma.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
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

// The codec of `method` (14 or 95): ours, then liblzma, or liblzma alone.
std::unique_ptr<za::TZACodec> Codec(std::uint16_t method, bool own) {
  if (method == 95) return own ? za::ZAXzCodec() : za::ZALiblzmaXzCodec();
  return own ? za::ZALzmaCodec() : za::ZALiblzmaLzmaCodec();
}

// Through the decoder: ours and then liblzma where ours does not end
// cleanly, against liblzma alone.
za::TZADecodeVerdict Decoded(std::uint16_t method, bool own, Bytes stream, std::uint64_t declared,
                             std::uint32_t crc, Bytes& out) {
  static const za::TZAMethods ours{[](std::uint16_t m) { return Codec(m, true); }, nullptr};
  static const za::TZAMethods theirs{[](std::uint16_t m) { return Codec(m, false); }, nullptr};
  za::TZADecoder decoder;
  decoder.SetMethods(own ? &ours : &theirs);
  za::TZAEntryCoding coding;
  coding.Method = method;
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
// Compares ours-then-liblzma with liblzma alone on a stream of `method`;
// counts the streams ours alone brings to a clean end.
struct Verdicts {
  std::uint16_t method;
  std::uint32_t crc;
  int clean = 0;
  // Whether ours alone ended cleanly.
  bool operator()(const Bytes& s, std::uint64_t declared, const std::string& what) {
    SCOPED_TRACE(what);
    Bytes mine, theirs;
    za::TZADecodeVerdict a = Decoded(method, true, s, declared, crc, mine);
    za::TZADecodeVerdict b = Decoded(method, false, s, declared, crc, theirs);
    EXPECT_EQ(a.Passed(), b.Passed());
    EXPECT_EQ(a.Produced, b.Produced);
    EXPECT_EQ(a.Crc32, b.Crc32);
    EXPECT_EQ(a.DataError, b.DataError);
    EXPECT_EQ(a.Fault.Text, b.Fault.Text);
    EXPECT_TRUE(mine == theirs);
    std::unique_ptr<za::TZACodec> codec = Codec(method, true);
    Outcome o = Feed(*codec, s, declared, s.size());
    if (!o.fed || !o.conclusive) return false;
    ++clean;
    std::unique_ptr<za::TZACodec> reference = Codec(method, false);
    Outcome r = Feed(*reference, s, declared, s.size());
    EXPECT_TRUE(r.fed);
    EXPECT_TRUE(r.out == o.out);
    EXPECT_EQ(o.out.size(), declared);
    return true;
  }
};

TEST(LzmaStreamsTest, DamagedStreamsGetLiblzmasVerdict) {
  const Bytes data = Sample(20000, 7);
  const Bytes stream = Encode(data, data.size());
  Verdicts compare{14, za::ZACrc32(0, data.data(), data.size())};
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
  EXPECT_GE(compare.clean, 2);  // intact and with bytes after it
}


// An .xz stream of `data` as xz writes it: LZMA2 at preset 6 with the
// dictionary given, `check`, and a filter before LZMA2 where one is given;
// blocks of `block` bytes where that is set.
struct XzOptions {
  lzma_check check = LZMA_CHECK_CRC64;
  std::uint32_t dictionary = 8u << 20;
  lzma_vli before = LZMA_VLI_UNKNOWN;
  std::uint64_t block = 0;
};
Bytes EncodeXz(const Bytes& data, const XzOptions& o = {}) {
  lzma_options_lzma lzma2;
  lzma_lzma_preset(&lzma2, 6);
  lzma2.dict_size = o.dictionary;
  lzma_filter filters[3] = {{LZMA_FILTER_LZMA2, &lzma2}, {LZMA_VLI_UNKNOWN, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  if (o.before != LZMA_VLI_UNKNOWN) {
    filters[1] = filters[0];
    filters[0] = {o.before, nullptr};
  }
  lzma_stream s = LZMA_STREAM_INIT;
  lzma_mt mt{};
  mt.threads = 1;
  mt.block_size = o.block;
  mt.filters = filters;
  mt.check = o.check;
  EXPECT_EQ(o.block ? lzma_stream_encoder_mt(&s, &mt) : lzma_stream_encoder(&s, filters, o.check), LZMA_OK);
  Bytes out(data.size() + data.size() / 2 + 4096);
  s.next_in = data.data();
  s.avail_in = data.size();
  s.next_out = out.data();
  s.avail_out = out.size();
  EXPECT_EQ(lzma_code(&s, LZMA_FINISH), LZMA_STREAM_END);
  out.resize(out.size() - s.avail_out);
  lzma_end(&s);
  return out;
}

// Text, then noise (which LZMA2 stores as it is), then text again.
Bytes Mixed(std::size_t size) {
  Bytes out = Sample(size / 3, 1);
  std::mt19937 rng(5);
  for (std::size_t i = 0; i < size / 3; ++i) out.push_back(static_cast<std::uint8_t>(rng()));
  Bytes more = Sample(size - out.size(), 2);
  out.insert(out.end(), more.begin(), more.end());
  return out;
}

// The streams of xz's and 7-Zip's settings come to a clean end through our
// own reader, whatever pieces the input comes in: a dictionary far smaller
// than the entry, stored chunks amid LZMA ones, blocks one after another.
TEST(LzmaStreamsTest, OurDecoderComesToTheEndOfXzStreamsInAnyPieces) {
  struct Case {
    const char* what;
    Bytes data;
    XzOptions options;
  };
  Case cases[] = {
      {"empty", {}, {}},
      {"one byte, CRC-32", Sample(1, 1), {LZMA_CHECK_CRC32}},
      {"no check", Sample(5000, 2), {LZMA_CHECK_NONE}},
      {"300000", Sample(300000, 3), {}},
      {"3 MiB", Sample(3u << 20, 4), {}},
      {"stored chunks", Mixed(400000), {LZMA_CHECK_CRC32}},
      {"4 KiB dictionary", Sample(300000, 5), {LZMA_CHECK_CRC64, 4096}},
      {"blocks of 100000", Mixed(350000), {LZMA_CHECK_CRC64, 1u << 20, LZMA_VLI_UNKNOWN, 100000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes stream = EncodeXz(c.data, c.options);
    for (std::size_t piece : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{1000},
                              std::size_t{1} << 20, stream.size()}) {
      if (piece == 1 && c.data.size() > 5000) continue;
      SCOPED_TRACE("pieces of " + std::to_string(piece));
      std::unique_ptr<za::TZACodec> codec = za::ZAXzCodec();
      Outcome o = Feed(*codec, stream, c.data.size(), std::max<std::size_t>(piece, 1));
      EXPECT_TRUE(o.fed);
      EXPECT_TRUE(o.conclusive);
      EXPECT_TRUE(o.out == c.data);
    }
    std::unique_ptr<za::TZACodec> codec = za::ZAXzCodec();
    Outcome in = Feed(*codec, stream, c.data.size(), std::max<std::size_t>(stream.size(), 1), true);
    EXPECT_TRUE(in.conclusive);
    EXPECT_TRUE(in.out == c.data);
  }
}

// Damage anywhere, and what our reader leaves to liblzma (padding after
// the stream, a second stream, a check or a filter it does not take): the
// verdict, bytes and words are liblzma's.
TEST(LzmaStreamsTest, DamagedAndUnusualXzStreamsGetLiblzmasVerdict) {
  const Bytes data = Mixed(30000);
  const Bytes stream = EncodeXz(data, {LZMA_CHECK_CRC64, 1u << 16, LZMA_VLI_UNKNOWN, 12000});
  Verdicts compare{95, za::ZACrc32(0, data.data(), data.size())};
  std::vector<std::size_t> flips;  // all over, and every byte of the last block's check, the index and footer
  for (std::size_t at = 0; at + 40 < stream.size(); at += 97) flips.push_back(at);
  for (std::size_t at = stream.size() - 40; at < stream.size(); ++at) flips.push_back(at);
  for (std::size_t at : flips) {
    Bytes s = stream;
    s[at] ^= static_cast<std::uint8_t>(1u << (at % 8));
    compare(s, data.size(), "bit flipped at " + std::to_string(at));
  }
  for (std::size_t cut : {std::size_t{5}, std::size_t{12}, std::size_t{20}, stream.size() / 2, stream.size() - 13,
                          stream.size() - 1})
    compare(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut)), data.size(),
            "cut to " + std::to_string(cut));
  compare(stream, data.size() - 1, "declared one short");
  compare(stream, data.size() + 1, "declared one long");
  Bytes padded = stream;
  padded.insert(padded.end(), 4, 0);
  compare(padded, data.size(), "stream padding");
  Bytes second = stream;
  Bytes again = EncodeXz(data);
  second.insert(second.end(), again.begin(), again.end());
  compare(second, data.size(), "a second stream");
  compare(EncodeXz(data, {LZMA_CHECK_SHA256}), data.size(), "SHA-256");
  compare(EncodeXz(data, {LZMA_CHECK_CRC64, 1u << 20, LZMA_FILTER_X86}), data.size(), "x86 filter");
  EXPECT_TRUE(compare(stream, data.size(), "intact"));
}

std::string MethodsFile(const std::string& name) {
  const char* root = std::getenv("ROVEND_SOURCE_DIR");
  std::ifstream in(std::string(root ? root : ROVEND_SOURCE_DIR) + "/tests/data/methods/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The first entry of archives by 7-Zip and Python: decoded by our own
// decoder to its end, not left to liblzma.
TEST(LzmaStreamsTest, OtherToolsStreamsAreOursToDecode) {
  for (const char* name : {"7z-lzma.zip", "python-lzma.zip", "7z-xz.zip"}) {
    SCOPED_TRACE(name);
    const std::string zip = MethodsFile(name);
    ASSERT_GT(zip.size(), 30u);
    const auto* b = reinterpret_cast<const std::uint8_t*>(zip.data());
    auto le = [&](std::size_t at, int n) {
      std::uint32_t v = 0;
      for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + i];
      return v;
    };
    const std::uint16_t method = static_cast<std::uint16_t>(le(8, 2));
    const std::size_t start = 30 + le(26, 2) + le(28, 2), packed = le(18, 4), size = le(22, 4);
    ASSERT_LE(start + packed, zip.size());
    Bytes stream(b + start, b + start + packed);
    std::unique_ptr<za::TZACodec> codec = Codec(method, true);
    Outcome o = Feed(*codec, stream, size, packed);
    EXPECT_TRUE(o.fed && o.conclusive);
    EXPECT_EQ(o.out.size(), size);
    EXPECT_EQ(za::ZACrc32(0, o.out.data(), o.out.size()), le(14, 4));
  }
}

}  // namespace
