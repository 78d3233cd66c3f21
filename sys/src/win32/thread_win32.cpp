#include <windows.h>

#include <bit>
#include <cstdint>
#include <mutex>
#include <thread>

#include "sys/thread.h"

namespace sys {

unsigned ProcessorsAvailable() {
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
    return static_cast<unsigned>(std::popcount(static_cast<std::uintptr_t>(process)));
  unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? n : 1;
}

namespace {

std::uint64_t Ticks(const FILETIME& t) { return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

}  // namespace

// Windows keeps no count of threads ready to run; the share of idle time
// since the last call stands in for it (the first call has none, and counts
// every processor free).
unsigned ProcessorsFree(unsigned ownAtWork) {
  static std::mutex lock;
  static std::uint64_t lastIdle = 0, lastTotal = 0;
  unsigned available = ProcessorsAvailable();
  FILETIME idle, kernel, user;
  if (!GetSystemTimes(&idle, &kernel, &user)) return available;
  std::uint64_t idleNow = Ticks(idle), totalNow = Ticks(kernel) + Ticks(user);  // kernel time includes idle
  std::lock_guard<std::mutex> hold(lock);
  std::uint64_t idleSpan = idleNow - lastIdle, totalSpan = totalNow - lastTotal;
  bool first = lastTotal == 0;
  lastIdle = idleNow;
  lastTotal = totalNow;
  if (first || totalSpan == 0 || idleSpan > totalSpan) return available;
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  double idleProcessors = static_cast<double>(idleSpan) / static_cast<double>(totalSpan) * info.dwNumberOfProcessors;
  double free = idleProcessors + 1.0 + ownAtWork;
  if (free >= available) return available;
  return free < 1.5 ? 1u : static_cast<unsigned>(free + 0.5);
}

}  // namespace sys
