#pragma once
// Deflate data made of stored blocks alone, as compressors write what they
// cannot shrink (zip's deflate of noise, Python's, 7-Zip's): its content
// lies in the data itself, between five-byte block headers. Where the
// archive shows its bytes in place, such an entry is summed and written
// from there, with no inflater and no copy.
//
// Every block of such data begins on a byte: the first at the start, each
// later one right after the content of the one before. Its first byte holds
// the final flag (bit 0) and the block type (bits 1 and 2, zero for
// stored); the rest of that byte is padding, which inflaters skip. Then
// come the length and its complement, 16 bits each, least significant
// byte first, and the content.
#include <cstddef>
#include <cstdint>

namespace za {

// The bytes of content that raw deflate `data` holds when every block up
// to a final one is stored, with lengths that check, and the final one ends
// within `size` (what follows it is not read, as an inflater reads none of
// it); -1 for anything else, which only an inflater can decide.
std::int64_t ZAStoredBlocksContent(const std::uint8_t* data, std::size_t size);

// Whether raw deflate data begins with a stored block: the one sign a
// reader has, before walking the blocks, that the data may be stored alone.
inline bool ZABeginsStored(std::uint8_t first) { return (first & 6) == 0; }

// Hands the content of each block of `data`, which ZAStoredBlocksContent
// accepted, to `piece(bytes, count)` in order; blocks with no content are
// passed over. Stops where `piece` returns false.
template <typename Piece>
void ZAForEachStoredBlock(const std::uint8_t* data, Piece&& piece) {
  for (const std::uint8_t* at = data;;) {
    const bool last = at[0] & 1;
    const std::size_t length = at[1] | std::size_t{at[2]} << 8;
    if (length && !piece(at + 5, length)) return;
    if (last) return;
    at += 5 + length;
  }
}

}  // namespace za
