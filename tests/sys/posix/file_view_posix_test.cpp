#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_dir.h"
#include "sys/file_view.h"
#include "sys/wide_file.h"

namespace sys {
namespace {

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 131 + i / 4096);
  return s;
}

struct Viewed : ::testing::Test {
  support::TempDir dir;
  std::string path = (dir.path() / "v.bin").string();
  std::string bytes = Pattern(3 * 4096 + 100);
  WideFile file;
  void SetUp() override {
    std::ofstream(path, std::ios::binary) << bytes;
    ASSERT_TRUE(file.Open(std::u16string(path.begin(), path.end()), FileAccess::Read, FileShare::DenyWrite));
  }
};

// From any offset, not only a page's start; a second Map lets the first go.
TEST_F(Viewed, ShowsTheBytesFromAnyOffset) {
  FileView view;
  for (std::int64_t at : {0, 1, 4095, 4096, 5000}) {
    ASSERT_TRUE(view.Map(file, at, 4000)) << at;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.Data()), view.Size()), bytes.substr(at, 4000)) << at;
    EXPECT_EQ(view.Offset(), at);
    EXPECT_FALSE(view.Lost());
  }
  view.Unmap();
  EXPECT_FALSE(view.Mapped());
  EXPECT_FALSE(view.Map(WideFile(), 0, 10));
}

// Another process cuts the file short under the view: what is gone reads
// as zeros and the view says so, instead of the process ending.
TEST_F(Viewed, AFileCutShortUnderTheViewIsLostNotACrash) {
  FileView view;
  ASSERT_TRUE(view.Map(file, 100, bytes.size() - 100));
  ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
  const volatile std::uint8_t* data = view.Data();
  EXPECT_EQ(data[0], static_cast<std::uint8_t>(bytes[100]));
  EXPECT_FALSE(view.Lost());
  EXPECT_EQ(data[2 * 4096], 0);
  EXPECT_TRUE(view.Lost());
  // A new view of what is left is whole again.
  ASSERT_TRUE(view.Map(file, 0, 4096));
  EXPECT_FALSE(view.Lost());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.Data()), 4096), bytes.substr(0, 4096));
}

// A bus error that is no view's still ends the process.
TEST_F(Viewed, OtherBusErrorsAreLeftAlone) {
  FileView view;
  ASSERT_TRUE(view.Map(file, 0, 10));  // the guard is in place
  EXPECT_EXIT(
      {
        int fd = ::open(path.c_str(), O_RDONLY);
        auto* p = static_cast<volatile std::uint8_t*>(::mmap(nullptr, 4 * 4096, PROT_READ, MAP_SHARED, fd, 0));
        if (::ftruncate(::open(path.c_str(), O_RDWR), 0) != 0) std::_Exit(3);
        std::_Exit(p[3 * 4096] == 0 ? 4 : 5);
      },
      // A sanitizer's handler, there before ours, reports it and exits.
      [](int status) { return WIFSIGNALED(status) ? WTERMSIG(status) == SIGBUS : WEXITSTATUS(status) == 1; }, "");
}

}  // namespace
}  // namespace sys
