#pragma once
// CRC-32 of decoded entry data (the zip format's, zlib's convention: start
// from 0, the inversions are inside). Testing an archive spends a good part
// of its time here, so each platform takes its fastest exact one.
#include <cstddef>
#include <cstdint>

namespace za {

std::uint32_t ZACrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size);

}  // namespace za
