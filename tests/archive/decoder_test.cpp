#include "../../archive/src/decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/errors.h"
#include "memory_volumes.h"
#include "zip_builder.h"

namespace {

// Records what comes out and the reports; stops at a chosen report or write.
class Recorder final : public za::TZADecodeSink {
 public:
  bool Write(const std::uint8_t* data, std::size_t size) override {
    pieces.push_back(size);
    out.append(reinterpret_cast<const char*>(data), size);
    return pieces.size() != stopAtWrite;
  }
  bool Progress(std::uint64_t produced) override {
    reports.push_back(produced);
    return reports.size() == stopAtReport;
  }
  std::string out;
  std::vector<std::size_t> pieces;
  std::vector<std::uint64_t> reports;
  std::size_t stopAtWrite = 0, stopAtReport = 0;
};

za::TZAEntryCoding Coding(std::uint16_t method, const std::string& plain) {
  za::TZAEntryCoding c;
  c.Method = method;
  c.Declared = plain.size();
  c.Crc32 = za::testing::Crc(plain);
  return c;
}

// Decodes `stored` (the data as the archive holds it) through a stream.
za::TZADecodeVerdict FromStream(const std::string& stored, const za::TZAEntryCoding& coding, Recorder& sink,
                                bool wholeStoredWrites = false) {
  za::TZABufferStream stream(stored.data(), stored.size());
  za::TZADecoder decoder;
  decoder.SetWholeStoredWrites(wholeStoredWrites);
  return decoder.Decode(stream, stored.size(), coding, nullptr, sink);
}

TEST(DecoderTest, StoredDataIsHandedOnInPiecesEachReportedFirst) {
  std::string plain = za::testing::Noise(200000, 3);
  Recorder sink;
  za::TZADecodeVerdict v = FromStream(plain, Coding(0, plain), sink);
  EXPECT_TRUE(v.Passed());
  EXPECT_EQ(sink.out, plain);
  EXPECT_EQ(sink.pieces, (std::vector<std::size_t>{0xFFFF, 0xFFFF, 0xFFFF, 200000 - 3 * 0xFFFF}));
  EXPECT_EQ(sink.reports, (std::vector<std::uint64_t>{0xFFFF, 2 * 0xFFFF, 3 * 0xFFFF, 200000}));
  // Data longer than declared: nothing past the declared size comes out.
  za::TZAEntryCoding shorter = Coding(0, plain);
  shorter.Declared = 100000;
  Recorder cut;
  EXPECT_EQ(FromStream(plain, shorter, cut).NativeError, za::neCorruptedEntry);
  EXPECT_LE(cut.out.size(), 100000u);
}

TEST(DecoderTest, StoredDataWrittenWholeIsReportedPieceByPieceAndStopsWhereAReportSays) {
  // Two chunks: a whole one and what is left.
  std::string plain = za::testing::Noise((1u << 20) + 100000, 5);
  Recorder sink;
  EXPECT_TRUE(FromStream(plain, Coding(0, plain), sink, true).Passed());
  EXPECT_EQ(sink.out, plain);
  EXPECT_EQ(sink.pieces, (std::vector<std::size_t>{1u << 20, 100000}));
  EXPECT_EQ(sink.reports.size(), 17u + 2u);  // 17 pieces in the first chunk, 2 in the second
  EXPECT_EQ(sink.reports.back(), plain.size());
  // A report that stops: only the pieces reported before it are written.
  Recorder stopped;
  stopped.stopAtReport = 3;
  za::TZADecodeVerdict v = FromStream(plain, Coding(0, plain), stopped, true);
  EXPECT_TRUE(v.Stopped);
  EXPECT_EQ(stopped.out, plain.substr(0, 2 * 0xFFFF));
  // Data longer than declared: nothing past the declared size comes out.
  za::TZAEntryCoding shorter = Coding(0, plain);
  shorter.Declared = 100000;
  Recorder cut;
  EXPECT_EQ(FromStream(plain, shorter, cut, true).NativeError, za::neCorruptedEntry);
  EXPECT_EQ(cut.out, plain.substr(0, 0xFFFF));
}

TEST(DecoderTest, DeflateVerdictsAreTheSameFromAStreamAndFromMemory) {
  std::string plain = za::testing::Noise(50000, 1) + std::string(300000, 'a');
  std::string packed = za::testing::RawDeflate(plain);
  struct Case {
    std::string data;
    za::TZAEntryCoding coding;
    bool passes;
  };
  za::TZAEntryCoding good = Coding(8, plain), badCrc = good, longer = good, unchecked = badCrc;
  badCrc.Crc32 ^= 1;
  longer.Declared += 1;
  unchecked.Checked = false;
  std::vector<Case> cases = {{packed, good, true},
                             {packed, badCrc, false},
                             {packed, longer, false},
                             {packed, unchecked, true},
                             {packed.substr(0, packed.size() / 2), good, false},
                             {std::string("\x1B\x03", 2), Coding(8, ""), false}};
  for (const Case& c : cases) {
    Recorder streamed;
    za::TZADecodeVerdict a = FromStream(c.data, c.coding, streamed);
    EXPECT_EQ(a.Passed(), c.passes);
    std::vector<std::uint8_t> whole(za::kZlibHeader, za::kZlibHeader + 2);
    whole.insert(whole.end(), c.data.begin(), c.data.end());
    std::vector<std::uint8_t> output(za::kZACodecPiece);
    Recorder buffered;
    za::TZADecoder decoder;
    za::TZADecodeVerdict b = decoder.DecodeBuffer(whole.data(), whole.size(), c.coding, buffered, output.data(),
                                                  output.size());
    EXPECT_EQ(b.Passed(), a.Passed());
    EXPECT_EQ(b.Produced, a.Produced);
    EXPECT_EQ(b.Crc32, a.Crc32);
    EXPECT_EQ(buffered.out, streamed.out);
  }
}

TEST(DecoderTest, AnEntryWhoseLastInputFillsAPieceMidMatchStillEnds) {
  // The input is used up with a full piece out and the last match owing
  // bytes: the inflater must be called again, not the entry ended short.
  std::string text;
  while (text.size() < (1u << 20) + 16) text += "archive entry deflate window ";
  std::string plain = text.substr(0, (1u << 20) + 9);
  std::string packed = za::testing::RawDeflate(plain);
  Recorder sink;
  za::TZADecodeVerdict v = FromStream(packed, Coding(8, plain), sink);
  EXPECT_TRUE(v.Passed());
  EXPECT_EQ(sink.out, plain);
}

TEST(DecoderTest, AReportOrTheSinkStopsTheEntry) {
  std::string plain = std::string(3000000, 'z');
  std::string packed = za::testing::RawDeflate(plain);
  Recorder atReport;
  atReport.stopAtReport = 1;  // before anything came out
  za::TZADecodeVerdict v = FromStream(packed, Coding(8, plain), atReport);
  EXPECT_TRUE(v.Stopped);
  EXPECT_FALSE(v.Passed());
  EXPECT_TRUE(atReport.out.empty());
  Recorder atWrite;
  atWrite.stopAtWrite = 2;
  v = FromStream(packed, Coding(8, plain), atWrite);
  EXPECT_TRUE(v.Stopped);
  EXPECT_EQ(atWrite.pieces.size(), 2u);  // nothing written after the one that gave up
  EXPECT_EQ(v.Produced, atWrite.pieces[0]);  // only whole writes count
}

TEST(DecoderTest, AMethodWithoutACodecDoesNotDecode) {
  za::TZADecoder decoder;
  EXPECT_NE(decoder.CodecFor(0), nullptr);
  EXPECT_NE(decoder.CodecFor(8), nullptr);
  EXPECT_EQ(decoder.CodecFor(12), nullptr);
  Recorder sink;
  EXPECT_EQ(FromStream("data", Coding(12, "data"), sink).NativeError, za::neCorruptedEntry);
  EXPECT_TRUE(sink.out.empty());
}

}  // namespace
