#include "archive/stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>

#include "temp_dir.h"

namespace {

using StreamTest = za::testing::TempDirTest;

std::string Bytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

std::string ReadAt(za::TZAStream& s, std::int64_t at, std::int64_t n) {
  std::string out(static_cast<std::size_t>(n), '\0');
  s.SetPosition(at);
  out.resize(static_cast<std::size_t>(s.Read(out.data(), n)));
  return out;
}

// Small reads come from a window read ahead; whatever the order and size of
// the reads, they give the file's bytes, and fewer at its end.
TEST_F(StreamTest, ReadsGiveTheFileWhereverTheyFall) {
  const std::string file = Bytes(300000, 1);
  Write("a.bin", file);
  za::TZAFileStream s(WidePath("a.bin"), za::fmOpenRead | za::fmShareDenyWrite);
  std::mt19937 random(2);
  for (int k = 0; k < 2000; ++k) {
    std::int64_t at = static_cast<std::int64_t>(random() % (file.size() + 10));
    std::int64_t n = k % 50 == 0 ? 100000 : static_cast<std::int64_t>(random() % 200);
    std::string want = at < static_cast<std::int64_t>(file.size()) ? file.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(n)) : "";
    ASSERT_EQ(ReadAt(s, at, n), want) << at << " " << n;
  }
  // Entries as an archive lays them out: a header read, then data read
  // past the window (which makes the next window reads short), then small
  // reads running over a short window's edge, to the end of the file.
  auto slice = [&](std::int64_t at, std::size_t n) {
    return at < static_cast<std::int64_t>(file.size()) ? file.substr(static_cast<std::size_t>(at), n) : "";
  };
  for (std::int64_t at = 0; at < static_cast<std::int64_t>(file.size()); at += 70000) {
    ASSERT_EQ(ReadAt(s, at, 30), slice(at, 30));
    ASSERT_EQ(ReadAt(s, at + 30, 20000), slice(at + 30, 20000));
    std::string run;
    for (int k = 0; k < 200; ++k) {
      char piece[61];
      std::int64_t got = s.Read(piece, sizeof piece);
      run.append(piece, static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
    }
    ASSERT_EQ(run, slice(at + 20030, 200 * 61)) << at;
  }
  // Sequential reads across the window's edges.
  s.SetPosition(0);
  std::string all;
  char piece[97];
  for (std::int64_t got; (got = s.Read(piece, sizeof piece)) > 0;) all.append(piece, static_cast<std::size_t>(got));
  EXPECT_EQ(all, file);
}

// What is written, cut off or done to the file itself is seen by the next
// small read, though the bytes it replaced were read ahead.
TEST_F(StreamTest, ChangesAreSeenByTheNextRead) {
  std::string file = Bytes(100000, 3);
  Write("b.bin", file);
  za::TZAFileStream s(WidePath("b.bin"), za::fmOpenReadWrite | za::fmShareExclusive);
  ASSERT_EQ(ReadAt(s, 1000, 10), file.substr(1000, 10));
  s.SetPosition(1004);
  s.WriteBuffer("XY", 2);
  file.replace(1004, 2, "XY");
  EXPECT_EQ(ReadAt(s, 1000, 10), file.substr(1000, 10));
  s.SetSize(1003);
  EXPECT_EQ(ReadAt(s, 1000, 10), file.substr(1000, 3));
  // Written behind the stream's back, through its file.
  ASSERT_EQ(s.File().Seek(0, sys::SeekOrigin::Begin), 0);
  ASSERT_EQ(s.File().Write("QQ", 2), 2);
  EXPECT_EQ(ReadAt(s, 0, 4), "QQ" + file.substr(2, 2));
}

// Views and reads mixed in any order give the file's bytes; a view past
// the end shows nothing and moves nothing, and a write is seen by the next
// view as by the next read.
TEST_F(StreamTest, ViewsGiveTheFileAsReadsDo) {
  std::string file = Bytes(3 << 20, 4);
  Write("c.bin", file);
  za::TZAFileStream s(WidePath("c.bin"), za::fmOpenReadWrite | za::fmShareExclusive);
  EXPECT_EQ(s.View(10), nullptr);  // not asked for
  s.SetViewed(true);
  std::mt19937 random(5);
  std::int64_t at = 0;
  s.SetPosition(0);
  while (at < static_cast<std::int64_t>(file.size())) {
    std::int64_t n = random() % 3 == 0 ? 30 : static_cast<std::int64_t>(random() % (1 << 20)) + 1;
    n = std::min<std::int64_t>(n, static_cast<std::int64_t>(file.size()) - at);
    std::string got(static_cast<std::size_t>(n), '\0');
    if (const std::uint8_t* v = n > 30 ? s.View(n) : nullptr)
      got.assign(reinterpret_cast<const char*>(v), static_cast<std::size_t>(n));
    else
      ASSERT_EQ(s.Read(got.data(), n), n);
    ASSERT_EQ(got, file.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(n))) << at << " " << n;
    at += n;
    ASSERT_EQ(s.Position(), at);
  }
  EXPECT_EQ(s.View(1), nullptr);
  EXPECT_EQ(s.Position(), at);
  s.SetPosition(10);
  ASSERT_NE(s.View(100), nullptr);
  s.SetPosition(20);
  s.WriteBuffer("XY", 2);
  s.SetPosition(0);
  const std::uint8_t* v = s.View(100);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(v) + 20, 2), "XY");
}

// The file cut short by someone else while viewed: the view is lost, and
// reading again finds the file's new end.
TEST_F(StreamTest, AViewOfAFileCutShortIsLost) {
  std::string file = Bytes(200000, 6);
  Write("d.bin", file);
  za::TZAFileStream s(WidePath("d.bin"), za::fmOpenRead | za::fmShareDenyWrite);
  s.SetViewed(true);
  const std::uint8_t* v = s.View(200000);
  ASSERT_NE(v, nullptr);
  std::filesystem::resize_file(Path("d.bin"), 1000);
  EXPECT_EQ(static_cast<const volatile std::uint8_t*>(v)[150000], 0);
  EXPECT_TRUE(s.ViewLost());
  EXPECT_EQ(ReadAt(s, 500, 1000), file.substr(500, 500));
}

}  // namespace
