// Testing and extracting with entries decoded ahead on a helper thread
// give what they give on one thread: the same events, in the same order,
// with the same failures, questions and answers, and the same files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <atomic>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "archive/archiver.h"
#include "../../archive/src/decode_ahead.h"
#include "temp_dir.h"
#include "zip_builder.h"

using za::testing::Archive;
using za::testing::Entry;

namespace {

std::string Noise(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

std::string Text(std::size_t n, int seed) {
  std::string s;
  for (int i = 0; s.size() < n; ++i) s += "line " + std::to_string(i * seed) + " of some text\n";
  s.resize(n);
  return s;
}

// Every kind of entry a test meets, good and bad, mixed so that the helper
// meets failures between passes.
Archive Mixed() {
  Archive a;
  for (int i = 0; i < 40; ++i) a.entries.push_back(Entry::Deflated("good" + std::to_string(i), Text(3000 + i * 997, i)));
  a.entries.push_back(Entry{"stored", Noise(70000, 1)});
  a.entries.push_back(Entry{"empty", ""});
  a.entries.push_back(Entry::Deflated("empty.z", ""));
  a.entries.push_back(Entry{"dir/", ""});
  a.entries.back().attributes = 0x10;
  a.entries.push_back(Entry::Deflated("crc", Text(50000, 3)));
  a.entries.back().crcOverride = 0x12345678;
  Entry cut = Entry::Deflated("truncated", Noise(40000, 2));
  cut.data.resize(cut.data.size() / 2);
  a.entries.push_back(cut);
  a.entries.push_back(Entry::Deflated("longer", Text(20000, 5)));
  a.entries.back().sizeOverride = 19999;  // more comes out than declared
  a.entries.push_back(Entry::Deflated("shorter", Text(20000, 6)));
  a.entries.back().sizeOverride = 20001;
  a.entries.push_back(Entry{"stored-crc", "stored bytes"});
  a.entries.back().crcOverride = 1;
  Entry garbage{"garbage", Noise(5000, 3), 8};
  garbage.plain = "whatever";
  garbage.hasPlain = true;
  a.entries.push_back(garbage);
  a.entries.push_back(Entry{"bzip2", "xx", 12});
  a.entries.push_back(za::testing::ClassicEncrypted("secret1", Text(9000, 7), "right"));
  a.entries.push_back(za::testing::ClassicEncrypted("secret2", "more secret", "right"));
  // Larger than the helper takes: decoded on the batch's own thread.
  a.entries.push_back(Entry::Deflated("large", Noise(za::TZADecodeAhead::kHeld + 4096, 9)));
  // Small enough to be read ahead, too large for its output to be kept.
  a.entries.push_back(Entry::Deflated("wide", Text(za::TZADecodeAhead::kLargestKept + 1, 8)));
  a.entries.push_back(Entry::Deflated("widest-kept", Text(za::TZADecodeAhead::kLargestKept, 9)));
  for (int i = 0; i < 20; ++i) a.entries.push_back(Entry{"tail" + std::to_string(i), Text(100 + i, i)});
  return a;
}

// Every script run on one thread, then with the helper in several runs
// (its timing differs from one run to the next), gives the same log.
template <typename Script, typename Run>
void ExpectSameWithTheHelper(const std::vector<Script>& scripts, int rounds, std::size_t least, Run run) {
  for (std::size_t k = 0; k < scripts.size(); ++k) {
    Script s = scripts[k];
    std::vector<std::string> one = run(s);
    ASSERT_GT(one.size(), least) << k;
    s.ahead = true;
    for (int round = 0; round < rounds; ++round) EXPECT_EQ(run(s), one) << "script " << k << " round " << round;
  }
}

struct Script {
  bool ahead = false;
  bool corruptedAccepted = false;
  int cancelAtEnd = -1;    // the entry whose end report cancels
  int abortAtFailure = -1;  // the failure whose answer is fxaAbort
  bool declineSome = false;  // entries whose names begin "good1" are not confirmed
};

// The events of one TestFiles run, as text.
std::vector<std::string> TestEvents(const std::string& bytes, const Script& s) {
  za::TZABufferStream stream(bytes.data(), bytes.size());
  za::TZipArchiver zip;
  zip.OpenArchive(stream);
  zip.SetTestAhead(s.ahead);
  zip.SetExtractCorruptedFiles(s.corruptedAccepted);
  zip.SetPassword("wrong");
  std::vector<std::string> log;
  auto name8 = [](const std::u16string& n) { return std::string(n.begin(), n.end()); };
  int ends = 0, failures = 0, asked = 0;
  zip.OnConfirmProcessFile = [&](za::TZABaseArchiver*, const std::u16string& n, za::TZAProcessOperation, bool& confirm) {
    log.push_back("confirm " + name8(n));
    if (s.declineSome && n.rfind(u"good1", 0) == 0) confirm = false;
  };
  zip.OnFileProgress = [&](za::TZABaseArchiver*, const std::u16string& n, double p, za::TZAProcessOperation,
                           za::TZAProgressPhase phase, bool& cancel) {
    // How often a decode reports its progress depends on how it is cut;
    // its start and end do not.
    if (phase == za::ppProcess) return;
    log.push_back((phase == za::ppStart ? "start " : "end ") + name8(n) + " " + std::to_string(p));
    if (phase == za::ppEnd && ends++ == s.cancelAtEnd) cancel = true;
  };
  zip.OnOverallProgress = [&](za::TZABaseArchiver*, double, za::TZAProcessOperation, za::TZAProgressPhase phase,
                              bool& cancel) {
    if (phase != za::ppProcess) log.push_back("overall " + std::to_string(phase) + " " + std::to_string(cancel));
  };
  zip.OnProcessFileFailure = [&](za::TZABaseArchiver*, const std::u16string& n, za::TZAProcessOperation,
                                 std::int32_t native, std::int32_t, const std::u16string&, za::TZAAction& action) {
    log.push_back("failure " + name8(n) + " " + std::to_string(native));
    action = failures++ == s.abortAtFailure ? za::fxaAbort : za::fxaIgnore;
  };
  // The first question gets a wrong password and is asked again; the
  // second entry's is skipped.
  zip.OnPassword = [&](za::TZABaseArchiver*, const std::u16string& n, std::string& password, bool& skip) {
    log.push_back("password " + name8(n));
    ++asked;
    if (asked == 1) password = "still wrong";
    else if (asked == 2) password = "right";
    else skip = true;
  };
  zip.TestFiles(u"*", 0x3F, u"");
  return log;
}

}  // namespace

TEST(TestAheadTest, SameEventsAndOutcomesAsOnOneThread) {
  std::string bytes = Mixed().Build();
  std::vector<Script> scripts(6);
  scripts[5].declineSome = true;
  scripts[1].corruptedAccepted = true;
  scripts[2].cancelAtEnd = 3;
  scripts[3].cancelAtEnd = 45;
  scripts[4].abortAtFailure = 2;
  ExpectSameWithTheHelper(scripts, 4, 4, [&](const Script& s) { return TestEvents(bytes, s); });
  // The failures are the entries' own, whichever thread checked them.
  std::vector<std::string> log = TestEvents(bytes, Script{true});
  std::vector<std::string> failed;
  for (const std::string& line : log)
    if (line.rfind("failure ", 0) == 0) failed.push_back(line);
  EXPECT_EQ(failed, (std::vector<std::string>{"failure crc 8", "failure truncated 8", "failure longer 8",
                                              "failure shorter 8", "failure stored-crc 8", "failure garbage 8",
                                              "failure bzip2 8"}));
}

TEST(TestAheadTest, CheckRefusesWhatTheDecoderRefuses) {
  std::atomic<bool> stop{false};
  auto job = [](const std::string& data, bool deflated, std::uint64_t size, std::uint32_t crc) {
    za::TZADecodeAhead::Job j;
    if (deflated) j.Data = {0x78, 0x01};
    j.Data.insert(j.Data.end(), data.begin(), data.end());
    j.Deflated = deflated;
    j.Size = size;
    j.Crc32 = crc;
    return j;
  };
  za::TZADecodeAhead::Bytes scratch;
  auto check = [&](za::TZADecodeAhead::Job j) { return za::TZADecodeAhead::Check(j, scratch, stop); };
  std::string plain = Text(100000, 4);
  std::string packed = za::testing::RawDeflate(plain);
  std::uint32_t crc = za::testing::Crc(plain);
  EXPECT_TRUE(check(job(packed, true, plain.size(), crc)));
  EXPECT_FALSE(check(job(packed, true, plain.size(), crc ^ 1)));
  EXPECT_FALSE(check(job(packed, true, plain.size() - 1, crc)));
  EXPECT_FALSE(check(job(packed, true, plain.size() + 1, crc)));
  EXPECT_FALSE(check(job(packed.substr(0, packed.size() - 3), true, plain.size(), crc)));
  // An empty fixed-Huffman block passes; one with length symbol 286, which
  // zlib refuses, does not.
  EXPECT_TRUE(check(job(std::string("\x03\x00", 2), true, 0, 0)));
  EXPECT_FALSE(check(job(std::string("\x1B\x03", 2), true, 0, 0)));
  EXPECT_TRUE(check(job(plain, false, plain.size(), crc)));
  EXPECT_FALSE(check(job(plain, false, plain.size() - 1, crc)));
  stop = true;  // a batch that ends takes no verdict
  EXPECT_FALSE(check(job(packed, true, plain.size(), crc)));
}

TEST(TestAheadTest, KeptOutputIsWhatCameOut) {
  std::atomic<bool> stop{false};
  std::string plain = Text(za::TZADecodeAhead::kLargestKept, 4);
  std::string packed = za::testing::RawDeflate(plain);
  za::TZADecodeAhead::Job job;
  job.Data = {0x78, 0x01};
  job.Data.insert(job.Data.end(), packed.begin(), packed.end());
  job.Deflated = job.Keep = true;
  job.Size = plain.size();
  job.Crc32 = za::testing::Crc(plain);
  za::TZADecodeAhead::Job larger = job;
  za::TZADecodeAhead::Bytes scratch;
  ASSERT_TRUE(za::TZADecodeAhead::Check(job, scratch, stop));
  EXPECT_EQ(std::string(job.Output.begin(), job.Output.end()), plain);
  // Beyond one piece of the batch's decoder the output is not kept.
  larger.Size += 1;
  EXPECT_FALSE(za::TZADecodeAhead::Check(larger, scratch, stop));
}

namespace {

class ExtractAheadTest : public za::testing::TempDirTest {
 protected:
  struct Script {
    bool ahead = false;
    bool corruptedAccepted = false;
    int cancelAtEnd = -1;
    int cancelAtProcess = -1;  // the decode report that cancels
    bool declineSome = false;
    bool keepExisting = false;  // files already there are not replaced
  };

  // The events of one ExtractFiles run and the files it left, as text.
  std::vector<std::string> Extract(const std::string& bytes, const Script& s) {
    Write("a.zip", bytes);
    std::string out = "out" + std::to_string(runs_++);
    std::filesystem::create_directory(dir_ / out);
    if (s.keepExisting) {
      for (const char* name : {"good3", "good17", "widest-kept"}) Write(out + "/" + name, "mine");
    }
    za::TZipArchiver zip;
    zip.SetFileName(WidePath("a.zip"));
    zip.OpenArchive();
    zip.SetBaseDir(WidePath(out));
    zip.SetExtractAhead(s.ahead);
    zip.SetExtractCorruptedFiles(s.corruptedAccepted);
    zip.Options().OverwriteMode = s.keepExisting ? za::omNever : za::omAlways;
    zip.SetPassword("right");
    std::vector<std::string> log;
    auto name8 = [](const std::u16string& n) { return std::string(n.begin(), n.end()); };
    int ends = 0, reports = 0;
    zip.OnConfirmProcessFile = [&](za::TZABaseArchiver*, const std::u16string& n, za::TZAProcessOperation,
                                   bool& confirm) {
      log.push_back("confirm " + name8(n));
      if (s.declineSome && n.rfind(u"good1", 0) == 0) confirm = false;
    };
    zip.OnFileProgress = [&](za::TZABaseArchiver*, const std::u16string& n, double p, za::TZAProcessOperation,
                             za::TZAProgressPhase phase, bool& cancel) {
      log.push_back("progress " + std::to_string(phase) + " " + name8(n) + " " + std::to_string(p));
      if (phase == za::ppEnd && ends++ == s.cancelAtEnd) cancel = true;
      if (phase == za::ppProcess && reports++ == s.cancelAtProcess) cancel = true;
    };
    zip.OnProcessFileFailure = [&](za::TZABaseArchiver*, const std::u16string& n, za::TZAProcessOperation,
                                   std::int32_t native, std::int32_t, const std::u16string&, za::TZAAction& action) {
      log.push_back("failure " + name8(n) + " " + std::to_string(native));
      action = za::fxaIgnore;
    };
    zip.ExtractFiles(u"*", 0x3F, u"");
    zip.CloseArchive();
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir_ / out)) {
      if (!e.is_regular_file()) continue;
      std::string name = e.path().filename().string();
      std::string data = Read(out + "/" + name);
      files.push_back(name + " " + std::to_string(data.size()) + " " + std::to_string(za::testing::Crc(data)));
    }
    std::sort(files.begin(), files.end());
    log.insert(log.end(), files.begin(), files.end());
    return log;
  }

 private:
  int runs_ = 0;
};

}  // namespace

TEST_F(ExtractAheadTest, SameEventsAndFilesAsOnOneThread) {
  std::string bytes = Mixed().Build();
  std::vector<Script> scripts(6);
  scripts[1].corruptedAccepted = true;
  scripts[2].cancelAtEnd = 5;
  scripts[3].cancelAtProcess = 12;
  scripts[4].declineSome = true;
  scripts[5].keepExisting = true;
  ExpectSameWithTheHelper(scripts, 2, 10, [&](const Script& s) { return Extract(bytes, s); });
}
