#pragma once
// How dear the page cache's memory is, as seen by the writes of files filled
// with fresh pages (WideFile::SetFreshPages). Given a longer write, Linux
// caches it in blocks of several pages taken whole from free memory; on a
// virtual machine whose host takes back the memory a guest leaves free,
// those are the blocks it took, and the first touch of each page goes to
// the host: filling the cache then costs tens of times the copy. Single
// pages come from the scattered free pages a running system holds, which
// the host leaves alone, but cost a system call each where memory is at
// hand. So writes go whole until a stretch of them is seen to fill the
// cache slowly, and a page at a time from then on.
#include <atomic>
#include <cstdint>

namespace sys::posix {

class CacheFill {
 public:
  // The one shared by the process's writes.
  static CacheFill& Process();
  bool Paged() const { return paged_.load(std::memory_order_relaxed); }
  // A write of `bytes` that took the writing thread `ns` of processor time
  // (time spent waiting for others does not count against the memory).
  void Note(std::int64_t bytes, std::int64_t ns);
  // Writes shorter than this are not timed: their time is mostly the call.
  static constexpr std::int64_t kTimedFrom = 64 << 10;

 private:
  // A stretch is judged once it holds this much: enough writes that one
  // interrupted by other work does not decide alone.
  static constexpr std::int64_t kStretch = 4 << 20;
  // Memory at hand fills at several bytes a nanosecond, memory the host
  // must give back at a fraction of one; the line is far from both.
  static constexpr std::int64_t kSlowNsPerMiB = 2 << 20;  // 2 ns a byte, 500 MB/s
  std::atomic<bool> paged_{false};
  std::atomic<std::int64_t> bytes_{0};
  std::atomic<std::int64_t> ns_{0};
};

}  // namespace sys::posix
