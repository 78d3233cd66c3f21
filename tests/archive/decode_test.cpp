#include <gtest/gtest.h>

#include <random>

#include "archive/archiver.h"
#include "zip_builder.h"

using za::testing::Archive;
using za::testing::Entry;

namespace {

// An archive in memory, opened by a component with scripted answers.
struct Opened {
  explicit Opened(const Archive& a) : bytes(a.Build()), stream(bytes.data(), bytes.size()) {
    zip.OpenArchive(stream);
  }
  // Decodes entry i; the native error, or 0.
  int Decode(int i, za::TZAStream& out) {
    try {
      zip.ExtractItemToStream(i, out);
    } catch (const za::EZAException& e) {
      return e.NativeError;
    }
    return 0;
  }
  std::string Decoded(int i, int* error = nullptr) {
    za::TZAMemoryStream out;
    int e = Decode(i, out);
    if (error) *error = e;
    return std::string(out.Data().begin(), out.Data().end());
  }
  std::string bytes;
  za::TZABufferStream stream;
  za::TZipArchiver zip;
};

std::string Noise(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// A stream that refuses writes after `room` bytes.
class FullDisk : public za::TZAMemoryStream {
 public:
  explicit FullDisk(std::int64_t room) : room_(room) {}
  std::int64_t Write(const void* b, std::int64_t n) override {
    if (Position() + n > room_) return 0;
    return TZAMemoryStream::Write(b, n);
  }
  std::int64_t room_;
};

TEST(DecodeTest, EmptyStoredAndDeflatedEntries) {
  Archive a;
  a.entries.push_back(Entry{"empty", ""});
  a.entries.push_back(Entry::Deflated("empty.z", ""));
  a.entries.push_back(Entry{"stored", "stored bytes"});
  Opened o(a);
  int e = -1;
  EXPECT_EQ(o.Decoded(0, &e), "");
  EXPECT_EQ(e, 0);
  EXPECT_EQ(o.zip.Item(1).Header.CompressedSize, 2u);
  EXPECT_EQ(o.Decoded(1, &e), "");
  EXPECT_EQ(e, 0);
  EXPECT_EQ(o.Decoded(2), "stored bytes");
}

TEST(DecodeTest, EntriesLargerThanAChunk) {
  std::string text;
  for (int i = 0; text.size() < 3'500'000; ++i) text += "line " + std::to_string(i) + "\n";
  std::string noise = Noise(2'300'000, 7);  // deflates to more than two chunks of input
  Archive a;
  a.entries.push_back(Entry::Deflated("text", text));
  a.entries.push_back(Entry::Deflated("noise", noise));
  a.entries.push_back(Entry{"stored", noise});
  Opened o(a);
  ASSERT_GT(o.zip.Item(1).Header.CompressedSize, 2u * 1048576);
  EXPECT_EQ(o.Decoded(0), text);
  EXPECT_EQ(o.Decoded(1), noise);
  EXPECT_EQ(o.Decoded(2), noise);
}

TEST(DecodeTest, DataDescriptorsAndLocalLengthsThatDiffer) {
  Archive a;
  a.entries.push_back(Entry::Deflated("streamed", std::string(5000, 's')));
  a.entries[0].flags = 8;
  a.entries.push_back(Entry{"renamed", "content"});
  a.entries[1].localName = "a-much-longer-local-name";
  a.entries[1].localExtra = za::testing::Block(0x000A, std::string(20, 'x'));
  Opened o(a);
  EXPECT_EQ(o.Decoded(0), std::string(5000, 's'));
  EXPECT_EQ(o.Decoded(1), "content");
}

TEST(DecodeTest, CompressedSizeIsCutAtTheCentralDirectory) {
  Archive a;
  a.entries.push_back(Entry{"last", "payload"});
  a.entries[0].packedOverride = 1000000;
  Opened o(a);
  int e = -1;
  EXPECT_EQ(o.Decoded(0, &e), "payload");  // the directory's bytes are not taken as data
  EXPECT_EQ(e, 0);
  EXPECT_EQ(o.zip.DirManager()->DirectoryStart, static_cast<std::int64_t>(30 + 4 + 7));
}

TEST(DecodeTest, CrcMismatchFailsUnlessCorruptedFilesAreAccepted) {
  Archive a;
  a.entries.push_back(Entry::Deflated("bad", "some text"));
  a.entries[0].crcOverride = 0x12345678;
  Opened o(a);
  int e = 0;
  o.Decoded(0, &e);
  EXPECT_EQ(e, za::neCorruptedEntry);
  o.zip.SetExtractCorruptedFiles(true);
  EXPECT_EQ(o.Decoded(0, &e), "some text");
  EXPECT_EQ(e, 0);
}

TEST(DecodeTest, MethodsOtherThanStoredAndDeflate) {
  Archive a;
  a.entries.push_back(Entry{"d64", "xx", 9});
  a.entries.push_back(Entry{"bzip2", "xx", 12});
  Opened o(a);
  za::TZAMemoryStream out;
  o.zip.SetExtractCorruptedFiles(true);
  try {
    o.zip.ExtractItemToStream(0, out);
    FAIL();
  } catch (const za::EZAException& e) {
    EXPECT_EQ(e.NativeError, za::neDeflate64);
    EXPECT_EQ(e.Message(), u"Deflate64 compression method is not supported - Native error: 00055");
  }
  EXPECT_EQ(o.Decode(1, out), 0);  // accepted as corrupted: nothing written
  EXPECT_EQ(out.Size(), 0);
  o.zip.SetExtractCorruptedFiles(false);
  EXPECT_EQ(o.Decode(1, out), za::neCorruptedEntry);
  EXPECT_EQ(o.Decode(2, out), za::neDecodeIndex);
  EXPECT_EQ(o.Decode(-1, out), za::neDecodeIndex);
}

TEST(DecodeTest, EncryptedEntryWithoutACipherFails) {
  Archive a;
  a.entries.push_back(Entry{"secret", std::string(12, 'h') + "data", 0, 1});
  Opened o(a);
  o.zip.SetCipherFactory([](za::TZACryptoAlgorithm) -> std::unique_ptr<za::TZAEntryCipher> { return nullptr; });
  int e = 0;
  o.Decoded(0, &e);
  EXPECT_EQ(e, za::neCorruptedEntry);
}

// A stand-in cipher: a 12-byte header that must read "right-header", data
// XORed with 0x5A.
class XorCipher : public za::TZAEntryCipher {
 public:
  std::size_t HeaderSize() const override { return 12; }
  std::size_t TrailerSize() const override { return 0; }
  bool CheckPassword(za::TZAStream& archive, const za::LocalFileHeader&, const std::string& password) override {
    char header[12];
    archive.ReadBuffer(header, sizeof header);
    ++checks;
    return password == "right" && std::string(header, 12) == "right-header";
  }
  void Decrypt(std::uint8_t* data, std::size_t size) override {
    for (std::size_t i = 0; i < size; ++i) data[i] ^= 0x5A;
  }
  bool FinalCheck(za::TZAStream&, std::uint32_t) override { return true; }
  static inline int checks = 0;
};

std::unique_ptr<za::TZAEntryCipher> MakeXorCipher(za::TZACryptoAlgorithm) { return std::make_unique<XorCipher>(); }

TEST(DecodeTest, RejectedPasswordIsAskedForAgainOrTheEntrySkipped) {
  std::string plain = "secret content";
  std::string data = plain;
  for (char& c : data) c ^= 0x5A;
  Archive a;
  Entry e{"secret", "right-header" + data, 0, 1};
  e.plain = plain;
  e.hasPlain = true;
  a.entries.push_back(e);
  a.entries.push_back(Entry{"bzip2", "xx", 12});
  Opened o(a);
  o.zip.SetCipherFactory(MakeXorCipher);
  o.zip.SetPassword("wrong");
  std::vector<std::u16string> asked;
  o.zip.OnPassword = [&](za::TZABaseArchiver*, const std::u16string& name, std::string& password, bool& skip) {
    asked.push_back(name);
    EXPECT_FALSE(skip);
    password = "right";
  };
  XorCipher::checks = 0;
  int error = -1;
  EXPECT_EQ(o.Decoded(0, &error), plain);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(XorCipher::checks, 2);  // the header is read again for the new password
  EXPECT_EQ(asked, std::vector<std::u16string>{u"secret"});
  EXPECT_EQ(o.zip.Password(), "right");

  o.zip.SetPassword("wrong");
  o.zip.OnPassword = [&](za::TZABaseArchiver*, const std::u16string&, std::string&, bool& skip) { skip = true; };
  EXPECT_EQ(o.Decoded(0, &error), "");
  EXPECT_EQ(error, 0);  // skipping is no failure
  o.Decoded(1, &error);
  EXPECT_EQ(error, 8);  // and it does not carry over to the next entry
}

TEST(DecodeTest, PasswordFromTheHandlerIsTheComponentsOwn) {
  Archive a;
  a.entries.push_back(za::testing::ClassicEncrypted("secret", "content", "right"));
  Opened o(a);
  o.zip.SetEncryptionMethod(za::caAES_256);
  o.zip.OnPassword = [&](za::TZABaseArchiver*, const std::u16string&, std::string& password, bool& skip) {
    password = "typed";
    skip = true;
  };
  int error = -1;
  EXPECT_EQ(o.Decoded(0, &error), "");
  EXPECT_EQ(error, 0);
  EXPECT_EQ(o.zip.Password(), "typed");  // kept, though the entry was skipped
  EXPECT_EQ(o.zip.EncryptionMethod(), za::caAES_256);
  o.zip.OnPassword = [&](za::TZABaseArchiver* sender, const std::u16string&, std::string& password, bool&) {
    password = "right";
    EXPECT_EQ(sender->Password(), "right");  // the very property, not a copy
  };
  EXPECT_EQ(o.Decoded(0), "content");
}

TEST(DecodeTest, CalledOnItsOwnRaisesProgress) {
  Archive a;
  a.entries.push_back(Entry{"dir/one", "1"});
  a.entries.push_back(Entry{"two", std::string(200000, '2')});
  Opened o(a);
  std::vector<std::pair<std::u16string, double>> files;
  std::vector<double> overall;
  o.zip.OnFileProgress = [&](za::TZABaseArchiver*, const std::u16string& name, double progress,
                             za::TZAProcessOperation, za::TZAProgressPhase phase, bool&) {
    if (phase == za::ppProcess) files.emplace_back(name, progress);
  };
  o.zip.OnOverallProgress = [&](za::TZABaseArchiver*, double progress, za::TZAProcessOperation,
                                za::TZAProgressPhase phase, bool&) {
    if (phase == za::ppProcess) overall.push_back(progress);
  };
  // Before any batch, and after one.
  for (int round = 0; round < 2; ++round) {
    files.clear();
    overall.clear();
    EXPECT_EQ(o.Decoded(0), "1");
    ASSERT_FALSE(files.empty()) << round;
    EXPECT_EQ(files.back(), std::make_pair(std::u16string(u"dir\\one"), 100.0));
    ASSERT_FALSE(overall.empty());
    EXPECT_EQ(overall.back(), 100.0);
    o.zip.TestFiles(u"*.*", 10431, u"");
  }
  // A cancel from the handler stops the entry without an error.
  o.zip.OnFileProgress = [](za::TZABaseArchiver*, const std::u16string&, double progress, za::TZAProcessOperation,
                            za::TZAProgressPhase, bool& cancel) { cancel = progress > 0; };
  int error = -1;
  EXPECT_LT(o.Decoded(1, &error).size(), 200000u);
  EXPECT_EQ(error, 0);
}

TEST(DecodeTest, OutputBeyondTheDeclaredSizeStopsAtOnce) {
  std::string bomb(50'000'000, '\0');
  Archive a;
  a.entries.push_back(Entry::Deflated("bomb", bomb));
  a.entries[0].sizeOverride = 1000;
  Opened o(a);
  o.zip.SetExtractCorruptedFiles(true);
  int e = 0;
  std::string out = o.Decoded(0, &e);
  EXPECT_EQ(e, 0);
  EXPECT_LE(out.size(), 1000u);
}

TEST(DecodeTest, DeflateEndFollowedByMoreInputEnds) {
  // A complete deflate stream, its Adler-32 as zlib would check it after the
  // header the decoder adds, and more bytes: the end of the stream ends it.
  std::string plain = "abcabcabc";
  std::string data = za::testing::RawDeflate(plain);
  uLong adler = adler32(1, reinterpret_cast<const Bytef*>(plain.data()), static_cast<uInt>(plain.size()));
  for (int s = 24; s >= 0; s -= 8) data.push_back(static_cast<char>((adler >> s) & 0xFF));
  data += "trailing bytes";
  Archive a;
  Entry e{"tail", data, 8};
  e.plain = plain;
  e.hasPlain = true;
  a.entries.push_back(e);
  Opened o(a);
  int error = -1;
  EXPECT_EQ(o.Decoded(0, &error), plain);
  EXPECT_EQ(error, 0);
}

TEST(DecodeTest, OverlappingEntriesDoNotDecode) {
  // Two central headers naming one local header, and an entry whose data runs
  // over the next local header: the shapes of overlap bombs.
  Archive a;
  a.entries.push_back(Entry::Deflated("first", std::string(100000, 'a')));
  a.entries.push_back(Entry{"second", "second"});
  a.entries.push_back(Entry{"third", "third"});
  std::string bytes = a.Build();
  std::size_t central = bytes.size() - 22 - (46 * 3 + 5 + 6 + 5);
  std::size_t secondCentral = central + 46 + 5, thirdCentral = secondCentral + 46 + 6;
  // The third names the second's local header; the first claims ten more bytes.
  for (int i = 0; i < 4; ++i) bytes[thirdCentral + 42 + i] = bytes[secondCentral + 42 + i];
  std::uint32_t packed = za::testing::RawDeflate(std::string(100000, 'a')).size() + 10;
  for (int i = 0; i < 4; ++i) bytes[central + 20 + i] = static_cast<char>(packed >> (8 * i));
  za::TZABufferStream stream(bytes.data(), bytes.size());
  za::TZipArchiver zip;
  zip.OpenArchive(stream);
  ASSERT_FALSE(zip.DirManager()->Rebuilt);
  zip.SetExtractCorruptedFiles(true);  // nothing of them is written even so
  for (int i = 0; i < 3; ++i) {
    za::TZAMemoryStream out;
    zip.ExtractItemToStream(i, out);
    EXPECT_EQ(out.Size(), 0) << i;
  }
  zip.SetExtractCorruptedFiles(false);
  za::TZAMemoryStream out;
  EXPECT_THROW(zip.ExtractItemToStream(1, out), za::EZAException);
}

TEST(DecodeTest, AnEntryWhoseLocalHeaderIsNotThereFailsWhereThatIsChecked) {
  Archive a;
  a.entries.push_back(Entry{"a.txt", std::string(100, 'a')});
  a.entries.push_back(Entry{"empty.txt", ""});
  a.entries.back().offsetOverride = 40;  // within a.txt's data
  a.entries.push_back(Entry{"folder/", ""});
  a.entries.back().attributes = 0x10;
  a.entries.back().offsetOverride = 41;  // as a folder's is left behind an added stub
  a.entries.push_back(Entry{"c.txt", "ccc"});
  Opened o(a);
  int error = -1;
  EXPECT_EQ(o.Decoded(1, &error), "");
  EXPECT_EQ(error, 0) << "unchecked by default";
  o.zip.SetLocalHeadersChecked(true);
  o.Decoded(1, &error);
  EXPECT_EQ(error, za::neCorruptedEntry);
  EXPECT_EQ(o.zip.LastDecodeFailure().Kind, za::TZABaseArchiver::TZADecodeFailure::dfLocalHeader);
  EXPECT_EQ(o.zip.LastDecodeFailure().LocalOffset, 40u);
  EXPECT_EQ(o.Decoded(2, &error), "");
  EXPECT_EQ(error, 0);
  EXPECT_EQ(o.Decoded(3, &error), "ccc");
  EXPECT_EQ(error, 0);
}

TEST(DecodeTest, StubAddedInFrontStillDecodes) {
  Archive a;
  a.entries.push_back(Entry::Deflated("a.txt", std::string(300, 'a')));
  a.entries.push_back(Entry{"dir/", ""});
  a.entries.back().attributes = 0x10;  // its offset stays uncorrected
  a.entries.push_back(Entry{"dir/b.txt", "bbb"});
  a.prefix = std::string(20, 'S');
  a.prefixInOffsets = false;
  Opened o(a);
  ASSERT_EQ(o.zip.DirManager()->PrefixLength, 20);
  EXPECT_EQ(o.Decoded(0), std::string(300, 'a'));
  EXPECT_EQ(o.Decoded(2), "bbb");
}

TEST(DecodeTest, GarbageAndTruncatedDataFailCleanly) {
  Archive a;
  Entry garbage{"garbage", Noise(5000, 3), 8};
  garbage.plain = "whatever";
  garbage.hasPlain = true;
  a.entries.push_back(garbage);
  Opened o(a);
  int e = 0;
  o.Decoded(0, &e);
  EXPECT_EQ(e, za::neCorruptedEntry);
  // An entry's data cut in half (the directory is then rebuilt).
  Archive b;
  b.entries.push_back(Entry{"pad", Noise(200000, 5)});
  b.entries.push_back(Entry::Deflated("cut", Noise(100000, 4)));
  std::string bytes = b.Build();
  std::size_t second = 30 + 3 + 200000;
  bytes.resize(second + 30 + 3 + 50000);
  za::TZABufferStream cutStream(bytes.data(), bytes.size());
  za::TZipArchiver zip;
  zip.OpenArchive(cutStream);
  ASSERT_EQ(zip.Count(), 2);
  za::TZAMemoryStream out;
  try {
    zip.ExtractItemToStream(1, out);
    FAIL();
  } catch (const za::EZAException& ex) {
    EXPECT_EQ(ex.NativeError, 8);
  }
}

TEST(DecodeTest, FullDiskAsksThenCancels) {
  Archive a;
  a.entries.push_back(Entry{"big", std::string(200000, 'b')});
  Opened o(a);
  FullDisk disk(100000);
  EXPECT_EQ(o.Decode(0, disk), 0);  // no handler: the write gives up, which is no failure
  EXPECT_LE(disk.Size(), 100000);

  FullDisk later(100000);
  int asked = 0;
  o.zip.OnDiskFull = [&](za::TZABaseArchiver*, std::int32_t volume, const std::u16string&, bool& cancel) {
    EXPECT_EQ(volume, 0);
    EXPECT_FALSE(cancel);
    ++asked;
    later.room_ = 1 << 30;  // room made: the same piece is written again
  };
  EXPECT_EQ(o.Decode(0, later), 0);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(later.Size(), 200000);
}

}  // namespace
