// Builds without ISA-L: the faster compressor's own lowest level serves.
#include "fastest_deflate.h"

namespace za {

bool ZAFastestDeflate(const std::uint8_t*, std::size_t, std::vector<std::uint8_t>&) { return false; }

}  // namespace za
