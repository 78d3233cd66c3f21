#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
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

namespace {

// The threads of the whole machine that are running or ready to run, from
// the fourth field of /proc/loadavg ("running/total"), the reader included;
// 0 when it cannot be read.
unsigned RunnableNow() {
  int fd = ::open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[128];
  ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return 0;
  text[n] = 0;
  // Three averages, then the counts.
  char* p = text;
  for (int field = 0; field < 3; ++field) {
    while (*p && *p != ' ') ++p;
    while (*p == ' ') ++p;
  }
  char* end = nullptr;
  long running = std::strtol(p, &end, 10);
  return end != p && *end == '/' && running > 0 ? static_cast<unsigned>(running) : 0;
}

}  // namespace

unsigned ProcessorsFree(unsigned ownAtWork) {
  unsigned available = ProcessorsAvailable();
  unsigned runnable = RunnableNow();
  if (runnable == 0) return available;
  unsigned mine = 1 + ownAtWork;
  unsigned others = runnable > mine ? runnable - mine : 0;
  return others < available ? available - others : 1;
}

}  // namespace sys
