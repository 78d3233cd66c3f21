#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

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

}  // namespace
}  // namespace sys
