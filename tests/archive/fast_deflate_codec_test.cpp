// The faster inflater, as the decoder uses it: whatever it does, the
// verdict, the output and the reports are zlib's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../archive/src/decoder.h"
#include "archive/errors.h"
#include "memory_volumes.h"
#include "zip_builder.h"

namespace {

// Records everything that reaches it; takes back what it is told to.
class Recorder final : public za::TZADecodeSink {
 public:
  explicit Recorder(bool truncates = true) : truncates_(truncates) {}
  bool Write(const std::uint8_t* data, std::size_t size) override {
    events.push_back("write " + std::to_string(size));
    out.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool Progress(std::uint64_t produced) override {
    events.push_back("report " + std::to_string(produced));
    return false;
  }
  bool Truncate(std::uint64_t produced) override {
    if (!truncates_) return false;
    events.push_back("truncate " + std::to_string(produced));
    out.resize(static_cast<std::size_t>(produced));
    return true;
  }
  std::string out;
  std::vector<std::string> events;

 private:
  bool truncates_;
};

za::TZAEntryCoding Coding(const std::string& plain) {
  za::TZAEntryCoding c;
  c.Method = 8;
  c.Declared = plain.size();
  c.Crc32 = za::testing::Crc(plain);
  return c;
}

struct Outcome {
  za::TZADecodeVerdict verdict;
  Recorder sink;
};

void Streamed(const std::string& stored, const za::TZAEntryCoding& coding, bool fast, Outcome& o) {
  za::TZABufferStream stream(stored.data(), stored.size());
  za::TZADecoder decoder;
  decoder.SetFastInflate(fast);
  o.verdict = decoder.Decode(stream, stored.size(), coding, nullptr, o.sink);
}

void Buffered(const std::string& stored, const za::TZAEntryCoding& coding, bool fast, Outcome& o) {
  std::vector<std::uint8_t> whole(za::kZlibHeader, za::kZlibHeader + 2);
  whole.insert(whole.end(), stored.begin(), stored.end());
  std::vector<std::uint8_t> output(za::kZACodecPiece);
  za::TZADecoder decoder;
  decoder.SetFastInflate(fast);
  o.verdict = decoder.DecodeBuffer(whole.data(), whole.size(), coding, o.sink, output.data(), output.size());
}

void ExpectZlibs(const Outcome& fast, const Outcome& zlib, const std::string& what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(fast.verdict.NativeError, zlib.verdict.NativeError);
  EXPECT_EQ(fast.verdict.Produced, zlib.verdict.Produced);
  EXPECT_EQ(fast.verdict.Crc32, zlib.verdict.Crc32);
  EXPECT_EQ(fast.verdict.Stopped, zlib.verdict.Stopped);
  EXPECT_EQ(fast.sink.events, zlib.sink.events);
  EXPECT_EQ(fast.sink.out, zlib.sink.out);
}

class FastDeflateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!za::TZAFastDeflateCodec::Available()) GTEST_SKIP() << "this build has no faster inflater";
  }
};

TEST_F(FastDeflateTest, EveryOutcomeOutputAndReportIsZlibs) {
  // Several pieces of output from several chunks of input, and one small entry.
  std::string big = za::testing::Noise(1500000, 4) + std::string(2500000, 'q');
  std::string packed = za::testing::RawDeflate(big, 1);
  std::string small = "certificate zone host setup\n";
  struct Case {
    std::string what, data;
    za::TZAEntryCoding coding;
  };
  za::TZAEntryCoding good = Coding(big), badCrc = good, limited = good, longer = good, unchecked = badCrc;
  badCrc.Crc32 ^= 0x80;
  limited.Declared = 1700000;  // the data limit: more comes than declared
  longer.Declared += 5;
  unchecked.Checked = false;
  std::string damaged = packed;
  damaged[damaged.size() * 2 / 3] ^= 0x5A;  // somewhere in a later chunk
  std::vector<Case> cases = {
      {"sound", packed, good},
      {"a wrong CRC-32", packed, badCrc},
      {"more data than declared", packed, limited},
      {"less data than declared", packed, longer},
      {"unchecked", packed, unchecked},
      {"cut short", packed.substr(0, packed.size() - 1000), good},
      {"damaged", damaged, good},
      {"data after the stream", packed + std::string(3000, '\xFF'), good},
      {"small", za::testing::RawDeflate(small), Coding(small)},
      {"a reserved block type", std::string("\x07\x00", 2), Coding(small)},
      // Bad code lengths in a block header that the data cuts short, of an
      // empty entry: zlib refuses the lengths as they come.
      {"a bad header cut short", std::string("\xed\xc1\x30\x01\x76\xe0\x00\x00\xbb\x1e\x0d", 11), Coding("")},
      // A fixed-code block that uses a reserved length symbol (286).
      {"a reserved length symbol", std::string("\x4b\x1c\x03\x00", 4), Coding(small)},
  };
  for (const Case& c : cases) {
    Outcome zlib, fast;
    Streamed(c.data, c.coding, false, zlib);
    Streamed(c.data, c.coding, true, fast);
    ExpectZlibs(fast, zlib, c.what + ", streamed");
    Outcome zlibWhole, fastWhole;
    if (c.data.size() > za::kZACodecPiece) continue;
    Buffered(c.data, c.coding, false, zlibWhole);
    Buffered(c.data, c.coding, true, fastWhole);
    ExpectZlibs(fastWhole, zlibWhole, c.what + ", in memory");
  }
}

TEST(ReplaySinkTest, WhatZlibWouldNotHaveMadeIsTakenBack) {
  // A first decoding handed on "abc" and "def" after a report each.
  auto trail = [] {
    za::TZACodecTrail t;
    t.Reports = 2;
    t.Writes = {{3, za::testing::Crc("abc")}, {6, za::testing::Crc("abcdef")}};
    return t;
  }();
  auto bytes = [](const char* s) { return reinterpret_cast<const std::uint8_t*>(s); };
  Recorder sink;
  sink.out = "abcdef";
  {
    // zlib makes the same first piece, then another: from there its output stands.
    za::TZAReplaySink replay(sink, trail);
    EXPECT_FALSE(replay.Progress(0));
    EXPECT_TRUE(replay.Write(bytes("abc"), 3));
    EXPECT_FALSE(replay.Progress(3));
    EXPECT_TRUE(replay.Write(bytes("xy"), 2));
    EXPECT_FALSE(replay.Progress(5));
    EXPECT_TRUE(replay.Finish());
  }
  EXPECT_EQ(sink.out, "abcxy");
  EXPECT_EQ(sink.events, (std::vector<std::string>{"truncate 3", "write 2", "report 5"}));

  // zlib stops after the first piece: the second is taken back.
  Recorder shorter;
  shorter.out = "abcdef";
  {
    za::TZAReplaySink replay(shorter, trail);
    EXPECT_TRUE(replay.Write(bytes("abc"), 3));
    EXPECT_TRUE(replay.Finish());
  }
  EXPECT_EQ(shorter.out, "abc");

  // A sink that cannot take anything back fails the entry.
  Recorder fixed(false);
  za::TZAReplaySink replay(fixed, trail);
  EXPECT_FALSE(replay.Write(bytes("xyz"), 3));
  za::TZAReplaySink again(fixed, trail);
  EXPECT_TRUE(again.Write(bytes("abc"), 3));
  EXPECT_FALSE(again.Finish());
}

TEST_F(FastDeflateTest, OffItIsZlibAlone) {
  za::TZADecoder decoder;
  EXPECT_FALSE(decoder.FastInflate());
  decoder.SetFastInflate(true);
  EXPECT_TRUE(decoder.FastInflate());
}

}  // namespace
