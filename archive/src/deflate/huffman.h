#pragma once
// Huffman codes as deflate takes them: lengths limited to a maximum, built
// from symbol counts, and the canonical codes of those lengths, reversed
// for a least-significant-first bit writer.
#include <cstddef>
#include <cstdint>

namespace za {

// Lengths for `count` symbols of counts `freq` (no more than 288), none
// above `limit`. Deflate's decoders refuse an incomplete code of more
// than one symbol, so where fewer than two symbols occur, the lowest
// unused ones are given a length too, and the code is complete.
void ZAHuffmanLengths(const std::uint32_t* freq, std::size_t count, unsigned limit, std::uint8_t* lengths);
// The canonical codes of `lengths`, bit-reversed.
void ZAHuffmanCodes(const std::uint8_t* lengths, std::size_t count, std::uint16_t* codes);

}  // namespace za
