#pragma once
// FILETIME (100 ns from 1601-01-01, UTC) and sys::FileTime.
#include <windows.h>

#include <cstdint>

#include "sys/wide_file.h"

namespace sys::win32 {

constexpr std::int64_t kEpochDifference = 11644473600;  // seconds from 1601 to 1970

inline FileTime UtcTime(const FILETIME& f) {
  std::uint64_t ticks = (static_cast<std::uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
  return FileTime{static_cast<std::int64_t>(ticks / 10000000u) - kEpochDifference,
                  static_cast<std::uint32_t>(ticks % 10000000u) * 100u};
}

inline FILETIME ToFileTime(const FileTime& t) {
  std::uint64_t ticks = static_cast<std::uint64_t>(t.Seconds + kEpochDifference) * 10000000u + t.Nanoseconds / 100u;
  FILETIME f;
  f.dwLowDateTime = static_cast<DWORD>(ticks);
  f.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return f;
}

}  // namespace sys::win32
