#include <sched.h>

#include <thread>

#include "sys/thread.h"

namespace sys {

unsigned ProcessorsAvailable() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<unsigned>(n);
  }
  unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? n : 1;
}

}  // namespace sys
