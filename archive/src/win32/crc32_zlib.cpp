// The Windows product has zlib as its one compression library.
#include <zlib.h>

#include <algorithm>

#include "crc32.h"

namespace za {

std::uint32_t ZACrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    uInt n = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
    crc = static_cast<std::uint32_t>(crc32(crc, data, n));
    data += n;
    size -= n;
  }
  return crc;
}

}  // namespace za
