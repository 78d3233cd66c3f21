#include <windows.h>

#include <bit>
#include <cstdint>
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

}  // namespace sys
