#pragma once
// The cheapest deflate a build has, for data that barely compresses: a
// search for matches that are not there costs zlib and libdeflate more
// than a file's worth of reading, while a single-probe matcher takes what
// does repeat at a few per cent of their time.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace za {

// Deflates `size` bytes whole into `out` (raw deflate, zlib's window);
// false where the build has no such compressor or it fails.
bool ZAFastestDeflate(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out);

}  // namespace za
