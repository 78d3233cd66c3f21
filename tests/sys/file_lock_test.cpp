#include "sys/file_lock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"

namespace sys {
namespace {

std::u16string LockName(const support::TempDir& dir) { return (dir.path() / ".a.zip.zarc-lock").u16string(); }

// Two locks of one process conflict as those of two processes do: the
// lock belongs to the open file, not to the process.
TEST(FileLock, ASecondHolderIsToldWhoHasIt) {
  support::TempDir dir;
  FileLock first, second;
  ASSERT_EQ(first.Acquire(LockName(dir), 0), FileLock::State::Held);
  EXPECT_EQ(second.Acquire(LockName(dir), 0), FileLock::State::Busy);
  EXPECT_EQ(second.Holder(), CurrentProcessId());
  EXPECT_FALSE(second.Held());
  first.Release();
  EXPECT_FALSE(std::filesystem::exists(dir.path() / ".a.zip.zarc-lock"));
  EXPECT_EQ(second.Acquire(LockName(dir), 0), FileLock::State::Held);
}

TEST(FileLock, AWaitEndsAtItsLimit) {
  support::TempDir dir;
  FileLock first, second;
  ASSERT_EQ(first.Acquire(LockName(dir), 0), FileLock::State::Held);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(second.Acquire(LockName(dir), 200), FileLock::State::Busy);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

// A lock file that a killed holder left is no lock at all.
TEST(FileLock, ALeftLockFileIsTakenOver) {
  support::TempDir dir;
  std::ofstream(dir.path() / ".a.zip.zarc-lock") << "1\n";
  FileLock lock;
  EXPECT_EQ(lock.Acquire(LockName(dir), 0), FileLock::State::Held);
  EXPECT_TRUE(lock.MayFollowAKilledHolder());
}

TEST(FileLock, AFolderThatIsNotThereFails) {
  support::TempDir dir;
  FileLock lock;
  EXPECT_EQ(lock.Acquire((dir.path() / "missing" / "x.lock").u16string(), 0), FileLock::State::Failed);
  EXPECT_TRUE(FolderRefusesFiles(lock.LastError()));
}

TEST(ProcessRuns, TellsThisOneFromAnEndedOne) {
  EXPECT_TRUE(ProcessRuns(CurrentProcessId()));
  EXPECT_FALSE(ProcessRuns(0));
}

}  // namespace
}  // namespace sys
