#pragma once
// The blocks of a bzip2 stream, cut apart so that several can be decoded
// at once. A block begins with a 48-bit magic at any bit offset and ends
// where the next block's magic or the end-of-stream magic begins; nothing
// else says where it ends, so every place where a magic appears is only a
// candidate end, and the data of a block may hold the pattern by chance.
//
// One block is decoded alone by libbz2 as a stream of its own: the stream
// header, the block's bits moved to a byte boundary, the end-of-stream
// magic and the block's CRC (the CRC of a one-block stream is its block
// CRC). That stream decodes only when the block ends exactly where the
// candidate end is, so a pass stands for the real stream's block.
#include <bzlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "../../codec.h"

namespace za {

inline constexpr std::uint64_t kBZip2BlockMagic = 0x314159265359;
inline constexpr std::uint64_t kBZip2EndMagic = 0x177245385090;

// The BZip2 codec that cuts every entry into blocks (`inBlocks`), or none,
// whatever its size and the processors free; the codec of the method cuts
// only large entries, with a second processor free.
std::unique_ptr<TZACodec> ZABZip2CodecAs(bool inBlocks);

// Bits of a buffer, the first bit the highest of its first byte.
class TZABZip2Bits {
 public:
  TZABZip2Bits(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint64_t Count() const { return std::uint64_t{size_} * 8; }
  const std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  // `n` (up to 57) bits at bit `at`; the caller checks they are there.
  std::uint64_t Get(std::uint64_t at, unsigned n) const;
  // Adds to `into` the bit offsets in [from, Count() - 48] where either
  // magic begins, in order.
  void FindMagics(std::uint64_t from, std::vector<std::uint64_t>& into) const;
  // The one-block stream of the bits [begin, end) at `level` ('1'..'9').
  void OneBlockStream(std::uint64_t begin, std::uint64_t end, std::uint8_t level, std::vector<std::uint8_t>& into) const;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

// The decoding of a one-block stream through libbz2.
enum class TZABZip2Piece {
  Done,     // the block ended where the piece does, and its output came out
  Short,    // the block goes on past the piece: the candidate end was false
  Failed,   // libbz2 refused the block: `Error()` says how
  Stopped,  // `emit` stopped it
};

class TZABZip2PieceDecoder {
 public:
  // `emit(data, size)`: output, in the pieces libbz2 gives into `buffer`;
  // false stops the decoding. Nothing is emitted for a block that goes on
  // past the piece: libbz2 reads all of a block's codes before any of its
  // output, so how far it read by then tells.
  template <typename Emit>
  TZABZip2Piece Decode(const std::vector<std::uint8_t>& stream, std::uint64_t pieceBits, std::uint8_t* buffer,
                       std::size_t size, Emit&& emit);
  int Error() const { return error_; }

 private:
  int error_ = BZ_OK;
};

template <typename Emit>
TZABZip2Piece TZABZip2PieceDecoder::Decode(const std::vector<std::uint8_t>& stream, std::uint64_t pieceBits,
                                           std::uint8_t* buffer, std::size_t size, Emit&& emit) {
  bz_stream bz{};
  if (BZ2_bzDecompressInit(&bz, 0, 0) != BZ_OK) {
    error_ = BZ_MEM_ERROR;
    return TZABZip2Piece::Failed;
  }
  struct Ender {
    bz_stream& bz;
    ~Ender() { BZ2_bzDecompressEnd(&bz); }
  } ender{bz};
  // libbz2 takes a byte only when it needs one of its bits: past this one
  // it took bits of the end that was put after the piece.
  const std::uint64_t within = 4 + (pieceBits + 7) / 8;
  bz.next_in = const_cast<char*>(reinterpret_cast<const char*>(stream.data()));
  bz.avail_in = static_cast<unsigned>(stream.size());
  bool first = true;
  for (;;) {
    bz.next_out = reinterpret_cast<char*>(buffer);
    bz.avail_out = static_cast<unsigned>(first ? 1 : size);
    int rc = BZ2_bzDecompress(&bz);
    std::size_t have = (first ? 1 : size) - bz.avail_out;
    // A block whose whole output fits goes on to the end in the same call:
    // its stream ended, and so where the piece does.
    if (first && rc != BZ_STREAM_END && stream.size() - bz.avail_in > within) return TZABZip2Piece::Short;
    first = false;
    // As the serial decoder, the output of a call that fails is not given.
    if (rc != BZ_OK && rc != BZ_STREAM_END) {
      error_ = rc;
      return TZABZip2Piece::Failed;
    }
    if (have && !emit(buffer, have)) return TZABZip2Piece::Stopped;
    if (rc == BZ_STREAM_END) return TZABZip2Piece::Done;
    if (have == 0 && bz.avail_in == 0) {
      // All of a one-block stream is there: this cannot wait for more.
      error_ = BZ_UNEXPECTED_EOF;
      return TZABZip2Piece::Failed;
    }
  }
}

}  // namespace za
