#include "stored_blocks.h"

namespace za {

std::int64_t ZAStoredBlocksContent(const std::uint8_t* data, std::size_t size) {
  std::int64_t content = 0;
  for (std::size_t at = 0;;) {
    if (size - at < 5 || !ZABeginsStored(data[at])) return -1;
    const std::size_t length = data[at + 1] | std::size_t{data[at + 2]} << 8;
    const std::size_t complement = data[at + 3] | std::size_t{data[at + 4]} << 8;
    if ((length ^ 0xFFFF) != complement || size - at - 5 < length) return -1;
    content += static_cast<std::int64_t>(length);
    if (data[at] & 1) return content;
    at += 5 + length;
  }
}

}  // namespace za
