#pragma once
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace sys::posix {

// Repeats `step(offset, size)` (a read or write of at most `size` bytes at
// `offset` into the caller's buffer) until `count` bytes have moved, a step
// moves nothing, or it fails with more than an interruption. Returns the
// bytes moved, or -1 when a failure came before any byte; a failure leaves
// its errno in `error`.
template <class Step>
std::int64_t TransferAll(std::int64_t count, int& error, Step step) {
  std::int64_t done = 0;
  while (done < count) {
    ssize_t r = step(done, static_cast<std::size_t>(count - done));
    if (r < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return done > 0 ? done : -1;
    }
    if (r == 0) break;
    done += r;
  }
  return done;
}

}  // namespace sys::posix
