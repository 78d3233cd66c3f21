#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "cache_fill_posix.h"
#include "support/temp_dir.h"
#include "sys/wide_file.h"

namespace sys {
namespace {

// TZ set for the test's length, as it was afterwards.
struct Zone {
  std::optional<std::string> saved;
  explicit Zone(const char* zone) {
    if (const char* was = std::getenv("TZ")) saved = was;
    Set(zone);
  }
  ~Zone() {
    if (saved)
      setenv("TZ", saved->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  void Set(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
};

time_t ModifiedOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0);
  return st.st_mtime;
}

// The same MS-DOS time is the local time of the zone in force each time,
// also when the zone changes between files of one run.
TEST(WideFile, DosTimeIsTheLocalTimeOfTheZoneInForceEachTime) {
  support::TempDir dir;
  std::string path = (dir.path() / "t.txt").string();
  WideFile file;
  ASSERT_TRUE(file.CreateNew(std::u16string(path.begin(), path.end())));
  const std::uint32_t dos = (44u << 25) | (1u << 21) | (2u << 16) | (3u << 11) | (4u << 5) | 3u;  // 2024-01-02 03:04:06
  Zone zone("UTC0");
  ASSERT_TRUE(file.SetDosDateTime(dos));
  EXPECT_EQ(ModifiedOf(path), 1704164646);
  zone.Set("JST-9");
  ASSERT_TRUE(file.SetDosDateTime(dos));
  EXPECT_EQ(ModifiedOf(path), 1704164646 - 9 * 3600);
  zone.Set("UTC0");
  ASSERT_TRUE(file.SetDosDateTime(dos));
  EXPECT_EQ(ModifiedOf(path), 1704164646);
  EXPECT_FALSE(file.SetDosDateTime(dos & ~0x01E00000u)) << "month 0";
}

// Whole writes while the cache fills fast; a stretch that fills slowly
// turns writes to a page at a time, and short or few writes decide nothing.
TEST(CacheFill, PagesOnceAStretchFillsSlowly) {
  posix::CacheFill fast;
  for (int i = 0; i < 100; ++i) fast.Note(1 << 20, 300000);  // 3.5 GB/s
  EXPECT_FALSE(fast.Paged());
  posix::CacheFill shortWrites;
  for (int i = 0; i < 1000; ++i) shortWrites.Note(16 << 10, 1000000);
  EXPECT_FALSE(shortWrites.Paged()) << "short writes cost the call, not the memory";
  posix::CacheFill slow;
  slow.Note(1 << 20, 100000000);  // one write held up by other work
  EXPECT_FALSE(slow.Paged()) << "judged by a stretch, not by one write";
  for (int i = 0; i < 3; ++i) slow.Note(1 << 20, 300000);
  EXPECT_TRUE(slow.Paged()) << "the stretch as a whole filled at 40 MB/s";
  posix::CacheFill later;
  for (int i = 0; i < 8; ++i) later.Note(1 << 20, 300000);
  for (int i = 0; i < 4; ++i) later.Note(1 << 20, 8000000);
  EXPECT_TRUE(later.Paged()) << "a cache that turns slow is seen too";
}

// Writes a page at a time give the file every byte, whatever the position
// and the length against the page, and the choice goes with the file.
TEST(WideFile, FreshPagesWrittenAPageAtATimeKeepEveryByte) {
  support::TempDir dir;
  std::string path = (dir.path() / "paged.bin").string();
  // The process's writes to fresh pages from now on go a page at a time.
  posix::CacheFill::Process().Note(64 << 20, 1LL << 40);
  ASSERT_TRUE(posix::CacheFill::Process().Paged());
  const std::int64_t page = sysconf(_SC_PAGESIZE);
  std::vector<char> data(static_cast<std::size_t>(17 * page + 5));
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  WideFile made;
  ASSERT_TRUE(made.CreateNew(std::u16string(path.begin(), path.end())));
  made.SetFreshPages(true);
  WideFile file(std::move(made));
  EXPECT_TRUE(file.FreshPages());
  const auto size = static_cast<std::int64_t>(data.size());
  ASSERT_EQ(file.Write(data.data(), 3), 3);
  ASSERT_EQ(file.Write(data.data() + 3, size - 3), size - 3);
  ASSERT_EQ(file.Write(data.data(), 0), 0);
  ASSERT_EQ(file.Seek(page - 1, SeekOrigin::Begin), page - 1);
  ASSERT_EQ(file.Write(data.data(), 16 * page + 2), 16 * page + 2);
  file.Close();
  std::vector<char> expected = data;
  std::copy(data.begin(), data.begin() + 16 * page + 2, expected.begin() + page - 1);
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::vector<char>(std::istreambuf_iterator<char>(in), {}), expected);
}

}  // namespace
}  // namespace sys
