#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "sys/thread.h"

namespace sys {
namespace {

// What `f` gives while this thread may run on one processor only.
template <typename F>
unsigned OnOneProcessor(F f) {
  cpu_set_t old;
  EXPECT_EQ(sched_getaffinity(0, sizeof old, &old), 0);
  int first = 0;
  while (!CPU_ISSET(first, &old)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  EXPECT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  unsigned seen = f();
  sched_setaffinity(0, sizeof old, &old);
  return seen;
}

// `taskset -c 0 zarc …` must see one processor however many the machine
// has: the count follows the affinity, not the hardware.
TEST(ProcessorsAvailable, FollowsTheAffinity) {
  cpu_set_t old;
  ASSERT_EQ(sched_getaffinity(0, sizeof old, &old), 0);
  EXPECT_EQ(ProcessorsAvailable(), static_cast<unsigned>(CPU_COUNT(&old)));
  EXPECT_EQ(OnOneProcessor([] { return ProcessorsAvailable(); }), 1u);
}

// The free count never goes beyond what the affinity allows nor below the
// caller's own processor, and threads of our own that are said to be at
// work are not taken for someone else's load.
TEST(ProcessorsFree, StaysWithinTheAffinityAndLeavesOurOwnThreadsOut) {
  unsigned available = ProcessorsAvailable();
  unsigned free = ProcessorsFree();
  EXPECT_GE(free, 1u);
  EXPECT_LE(free, available);
  std::atomic<bool> stop{false};
  std::vector<std::thread> spinners;
  for (unsigned i = 0; i < available; ++i)
    spinners.emplace_back([&] {
      while (!stop) {
      }
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  unsigned declared = ProcessorsFree(available);
  unsigned undeclared = ProcessorsFree();
  stop = true;
  for (std::thread& t : spinners) t.join();
  EXPECT_GE(declared, undeclared);
  if (available > 1) {
    EXPECT_EQ(undeclared, 1u);  // our spinners fill every processor
  }
  EXPECT_EQ(OnOneProcessor([] { return ProcessorsFree(); }), 1u);
}

}  // namespace
}  // namespace sys
