#pragma once
// Reading primitives shared by the block readers. Every read checks what the
// stream holds; an exact read that comes up short raises and moves nothing.
#include <cstddef>
#include <cstdint>
#include <span>

#include "gif/stream.h"

namespace gif::detail {

// Reads exactly buffer.size() bytes or raises "Premature end of data" with the
// stream where it was.
void ReadExact(TStream& stream, std::span<uint8_t> buffer);

// One byte; false at the end of the stream.
bool ReadByte(TStream& stream, uint8_t& value);

// One byte without consuming it; -1 at the end of the stream.
int PeekByte(TStream& stream);

void StepBack(TStream& stream);

// Moves forward by count bytes, but never past the end of the stream.
void Skip(TStream& stream, int64_t count);

int64_t Remaining(const TStream& stream);

inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace gif::detail

namespace gif::detail {
// Bytes past the end of a pixel buffer that the decoder may write, so that it
// can copy strings in whole chunks.
inline constexpr size_t PixelSlack = 16;
}  // namespace gif::detail
