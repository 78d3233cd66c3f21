#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../archive/src/codecs/deflate64_codec.h"
#include "../../archive/src/decode_ahead.h"
#include "archive/archiver.h"
#include "archive/errors.h"

namespace {

std::string DataFile(const std::string& name) {
  const char* root = std::getenv("ROVEND_SOURCE_DIR");
  std::ifstream in(std::string(root ? root : ROVEND_SOURCE_DIR) + "/tests/data/methods/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The text every archive of tests/data/methods holds (make.py there).
std::string Text() {
  std::string text;
  for (int i = 0; i < 120; ++i) text += "line " + std::to_string(i) + " of a text that repeats itself with small changes\n";
  return text;
}

struct Opened {
  explicit Opened(std::string data, bool methods = true) : bytes(std::move(data)), stream(bytes.data(), bytes.size()) {
    if (methods) zip.SetExtraMethods(&za::ZAExtraMethods());
    zip.OpenArchive(stream);
  }
  // Entry `name` decoded; `error` gets the native error, or 0.
  std::string Decoded(const std::u16string& name, int& error) {
    za::TZAMemoryStream out;
    error = 0;
    try {
      for (int i = 0; i < zip.Count(); ++i)
        if (zip.Item(i).EntryName == name) zip.ExtractItemToStream(i, out);
    } catch (const za::EZAException& e) {
      error = e.NativeError;
    }
    return std::string(out.Data().begin(), out.Data().end());
  }
  // Where the data of entry 0 begins.
  std::size_t DataStart() const {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    return 30 + (b[26] | b[27] << 8) + (b[28] | b[29] << 8);
  }
  std::string bytes;
  za::TZABufferStream stream;
  za::TZipArchiver zip;
};

const char* const kArchives[] = {"7z-deflate64.zip", "7z-bzip2.zip",   "7z-lzma.zip",  "7z-xz.zip",  "zip-bzip2.zip",
                                 "python-bzip2.zip", "python-lzma.zip", "zstd-93.zip", "zstd-20.zip"};

TEST(MethodsTest, ArchivesOfOtherToolsDecodeToTheSameBytes) {
  std::string far;
  for (const char* name : kArchives) {
    SCOPED_TRACE(name);
    Opened o(DataFile(name));
    ASSERT_EQ(o.zip.Count(), 2);
    int error = -1;
    EXPECT_EQ(o.Decoded(u"text.txt", error), Text());
    EXPECT_EQ(error, 0);
    std::string decoded = o.Decoded(u"far.bin", error);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(decoded.size(), 1500u * 3 + 40000 + 70000);
    if (far.empty()) far = decoded;
    EXPECT_EQ(decoded, far);
  }
}

TEST(MethodsTest, WithoutTheMethodsTheComponentRefusesThem) {
  for (const char* name : kArchives) {
    SCOPED_TRACE(name);
    Opened o(DataFile(name), false);
    int error = -1;
    EXPECT_EQ(o.Decoded(u"text.txt", error), "");
    EXPECT_EQ(error, std::string(name) == "7z-deflate64.zip" ? za::neDeflate64 : za::neCorruptedEntry);
  }
}

TEST(MethodsTest, DamagedStreamsFailTheirEntryAndSayWhy) {
  struct Case {
    const char* archive;
    std::size_t at;        // the byte of entry 0's data changed
    unsigned char value;   // to this
    const char* says;      // the start of what the codec says
  };
  const Case cases[] = {
      {"7z-deflate64.zip", 0, 0x07, "Deflate64 data is damaged (invalid block type)"},
      {"7z-bzip2.zip", 0, 'X', "BZip2 data is damaged (BZ_DATA_ERROR_MAGIC"},
      {"7z-bzip2.zip", 5, 0xFF, "BZip2 data is damaged (BZ_DATA_ERROR)"},
      {"7z-lzma.zip", 2, 6, "LZMA data is damaged (a property size of 6"},
      {"7z-lzma.zip", 4, 0xFF, "LZMA data is damaged (its properties"},
      {"7z-xz.zip", 0, 0, "XZ data is damaged (LZMA_FORMAT_ERROR"},
      {"zstd-93.zip", 0, 0, "Zstd data is damaged ("},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.archive) + " at " + std::to_string(c.at));
    std::string bytes = DataFile(c.archive);
    Opened probe(bytes);
    bytes[probe.DataStart() + c.at] = static_cast<char>(c.value);
    Opened o(bytes);
    int error = -1;
    o.Decoded(o.zip.Item(0).EntryName, error);
    EXPECT_EQ(error, za::neCorruptedEntry);
    EXPECT_EQ(o.zip.LastDecodeFault().Text.rfind(c.says, 0), 0u) << o.zip.LastDecodeFault().Text;
    EXPECT_FALSE(o.zip.LastDecodeFault().Limit);
  }
}

// Every byte of each stream changed in turn: a failure or the right bytes,
// never a crash, a hang or output past the declared size.
TEST(MethodsTest, AnyChangedByteFailsCleanly) {
  for (const char* name : kArchives) {
    SCOPED_TRACE(name);
    const std::string original = DataFile(name);
    Opened probe(original);
    const std::uint64_t packed = probe.zip.Item(0).Header.CompressedSize;
    int error = -1;
    const std::string expected = probe.Decoded(probe.zip.Item(0).EntryName, error);
    for (std::size_t at = 0; at < packed; at += 29) {
      std::string bytes = original;
      bytes[probe.DataStart() + at] ^= 0x5A;
      Opened o(bytes);
      std::string out = o.Decoded(o.zip.Item(0).EntryName, error);
      if (error == 0) {
        EXPECT_EQ(out, expected) << at;
      } else {
        EXPECT_EQ(error, za::neCorruptedEntry) << at;
      }
    }
  }
}

// The failures of testing, on one thread or with entries checked ahead.
std::vector<std::string> TestFailures(const std::string& bytes, bool ahead) {
  Opened o(bytes);
  o.zip.SetTestAhead(ahead);
  std::vector<std::string> failed;
  o.zip.OnProcessFileFailure = [&](za::TZABaseArchiver*, const std::u16string& name, za::TZAProcessOperation,
                                   std::int32_t native, std::int32_t, const std::u16string&, za::TZAAction& action) {
    failed.push_back(std::string(name.begin(), name.end()) + " " + std::to_string(native) + " " +
                     o.zip.LastDecodeFault().Text);
    action = za::fxaIgnore;
  };
  o.zip.TestFiles(u"*", 0x3F, u"");
  return failed;
}

TEST(MethodsTest, CheckedAheadTheOutcomesAreTheSame) {
  for (const char* name : kArchives) {
    SCOPED_TRACE(name);
    std::string bytes = DataFile(name);
    EXPECT_EQ(TestFailures(bytes, true), std::vector<std::string>{});
    Opened probe(bytes);
    bytes[probe.DataStart() + 40] ^= 0x33;
    std::vector<std::string> failed = TestFailures(bytes, false);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(TestFailures(bytes, true), failed);
  }
}

// Extracting ahead keeps what each codec hands on from buffers of its own,
// whole; a damaged stream is left to the batch.
TEST(MethodsTest, KeptAheadTheOutputIsWhatCameOut) {
  const std::atomic<bool> stop{false};
  for (const char* name : kArchives) {
    SCOPED_TRACE(name);
    std::string bytes = DataFile(name);
    Opened o(bytes);
    const za::TDirItem& item = o.zip.Item(0);
    auto job = [&](const std::string& archive) {
      za::TZADecodeAhead::Job j;
      const char* data = archive.data() + o.DataStart();
      j.Data.assign(data, data + item.Header.CompressedSize);
      j.Method = item.ActualMethod;
      j.Methods = &za::ZAExtraMethods();
      j.Keep = true;
      j.Size = item.UnpackedSize();
      j.Crc32 = item.Header.Crc32;
      return j;
    };
    int error = -1;
    const std::string expected = o.Decoded(item.EntryName, error);
    ASSERT_EQ(error, 0);
    za::TZADecodeAhead::Bytes scratch;
    za::TZADecodeAhead::Job kept = job(bytes);
    ASSERT_TRUE(za::TZADecodeAhead::Check(kept, scratch, stop));
    EXPECT_TRUE(std::string(kept.Output.begin(), kept.Output.end()) == expected);
    bytes[o.DataStart() + 40] ^= 0x33;
    za::TZADecodeAhead::Job damaged = job(bytes);
    EXPECT_FALSE(za::TZADecodeAhead::Check(damaged, scratch, stop));
  }
}

TEST(MethodsTest, LzmaDictionaryOverTheLimitIsRefusedSayingSo) {
  std::string bytes = DataFile("7z-lzma.zip");
  Opened probe(bytes);
  // A dictionary of 3 GiB in the properties, and a declared size past the
  // limit too, so that the dictionary cannot be cut down to it.
  std::size_t at = probe.DataStart() + 5;
  const unsigned char dictionary[4] = {0x00, 0x00, 0x00, 0xC0};
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(dictionary[i]);
  std::size_t central = bytes.find("PK\x01\x02") + 24;
  for (int i = 0; i < 4; ++i) bytes[central + i] = static_cast<char>(i == 3 ? 0xF0 : 0);
  Opened o(bytes);
  int error = -1;
  o.Decoded(o.zip.Item(0).EntryName, error);
  EXPECT_EQ(error, za::neCorruptedEntry);
  EXPECT_TRUE(o.zip.LastDecodeFault().Limit);
  EXPECT_EQ(o.zip.LastDecodeFault().Text, "LZMA data needs a dictionary of 3072 MiB, over the limit of 512 MiB");
}

class Collect final : public za::TZADecodeSink {
 public:
  bool Write(const std::uint8_t* data, std::size_t size) override {
    out.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool Progress(std::uint64_t) override { return false; }
  std::string out;
};

// Fixed codes: 'a', then length code 285 (16 extra bits: 65538) at distance
// 1, then length 3 at distances 49153 and 65536 (codes 31), the end.
const std::vector<std::uint8_t> kLongest = {0x4b, 0x1c, 0xfd, 0xff, 0x07, 0xc0, 0x0f,
                                            0x00, 0x00, 0xff, 0xff, 0x0f, 0x00};

// Feeds `data` to a fresh codec in pieces of `piece` bytes; false when it fails.
bool Inflate64(std::vector<std::uint8_t> data, std::size_t piece, std::uint64_t declared, std::string& out,
               std::string* fault = nullptr) {
  za::TZADeflate64Codec codec;
  Collect sink;
  za::TZACodecOutput output(sink, declared);
  bool ok = codec.Begin(declared, nullptr, 0);
  for (std::size_t at = 0; ok && at < data.size(); at += piece)
    ok = codec.Feed(data.data() + at, std::min(piece, data.size() - at), output);
  out = sink.out;
  if (fault && codec.Fault()) *fault = codec.Fault()->Text;
  return ok;
}

TEST(Deflate64Test, LongestLengthAndFarthestDistancesInAnyPieces) {
  const std::string expected(65545, 'a');
  for (std::size_t piece : {std::size_t{1}, std::size_t{3}, kLongest.size()}) {
    std::string out;
    EXPECT_TRUE(Inflate64(kLongest, piece, expected.size(), out)) << piece;
    EXPECT_EQ(out, expected) << piece;
  }
}

TEST(Deflate64Test, OutputStopsAtTheDeclaredSizeAndBadDistancesFail) {
  std::string out, fault;
  EXPECT_FALSE(Inflate64(kLongest, kLongest.size(), 1000, out));
  EXPECT_LE(out.size(), 1000u);
  // A match before any output.
  EXPECT_FALSE(Inflate64({0x03, 0x02, 0x00}, 1, 10, out, &fault));
  EXPECT_EQ(fault, "Deflate64 data is damaged (distance too far back)");
  // A stored block whose length and complement disagree.
  EXPECT_FALSE(Inflate64({0x01, 0x05, 0x00, 0xFA, 0xFE, 'a'}, 2, 10, out, &fault));
  EXPECT_EQ(fault, "Deflate64 data is damaged (stored block length does not match its complement)");
}

}  // namespace
