#include "cache_fill_posix.h"

namespace sys::posix {

CacheFill& CacheFill::Process() {
  static CacheFill fill;
  return fill;
}

void CacheFill::Note(std::int64_t bytes, std::int64_t ns) {
  if (bytes < kTimedFrom || Paged()) return;
  std::int64_t total = bytes_.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  std::int64_t time = ns_.fetch_add(ns, std::memory_order_relaxed) + ns;
  if (total < kStretch) return;
  // A new stretch each time, so that a slow start of the cache once memory
  // runs short is seen as well; writes of other threads meanwhile fall in
  // either.
  bytes_.fetch_sub(total, std::memory_order_relaxed);
  ns_.fetch_sub(time, std::memory_order_relaxed);
  if (time > total / (1 << 20) * kSlowNsPerMiB) paged_.store(true, std::memory_order_relaxed);
}

}  // namespace sys::posix
