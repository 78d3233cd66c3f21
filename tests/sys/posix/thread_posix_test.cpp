#include <gtest/gtest.h>
#include <sched.h>

#include "sys/thread.h"

namespace sys {
namespace {

// `taskset -c 0 zarc …` must see one processor however many the machine
// has: the count follows the affinity, not the hardware.
TEST(ProcessorsAvailable, FollowsTheAffinity) {
  cpu_set_t old;
  ASSERT_EQ(sched_getaffinity(0, sizeof old, &old), 0);
  EXPECT_EQ(ProcessorsAvailable(), static_cast<unsigned>(CPU_COUNT(&old)));
  int first = 0;
  while (!CPU_ISSET(first, &old)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  unsigned seen = ProcessorsAvailable();
  sched_setaffinity(0, sizeof old, &old);
  EXPECT_EQ(seen, 1u);
}

}  // namespace
}  // namespace sys
