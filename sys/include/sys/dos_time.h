#pragma once
// MS-DOS date and time, as zip entries and FAT keep a file's local time:
// the date in the high half (years from 1980, month, day), the time in the
// low half (hours, minutes, seconds halved).
#include <cstdint>
#include <ctime>

namespace sys {

// The local time `tm` packed; 0 for a year the format cannot hold (before
// 1980 or after 2107).
inline std::uint32_t DosDateTimeOf(const std::tm& tm) {
  const int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return 0;
  const auto date = static_cast<std::uint32_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  const auto time = static_cast<std::uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  return (date << 16) | time;
}

// Now, packed; 0 when the clock is outside what the format holds.
inline std::uint32_t DosDateTimeNow() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  return local ? DosDateTimeOf(*local) : 0;
}

}  // namespace sys
