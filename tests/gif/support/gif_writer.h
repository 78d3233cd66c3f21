#pragma once
// Writes GIF streams byte by byte for tests and benchmarks: a code packer, an
// LZW encoder with the knobs the decoder's cases need, and a block builder.
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace gif::testing {

using Bytes = std::vector<uint8_t>;

// Packs codes least significant bit first.
class TCodeWriter {
 public:
  void Put(unsigned code, unsigned width);
  Bytes Finish();

 private:
  Bytes bytes_;
  uint32_t acc_ = 0;
  unsigned count_ = 0;
};

// Splits data into sub-blocks of at most blockSize bytes and adds the
// zero-size terminator.
Bytes SubBlocks(std::span<const uint8_t> data, size_t blockSize = 255);

struct TLzwOptions {
  bool clearWhenFull = true;  // false: keep coding with the full table
};

// The codes for the pixels, from the first clear to the end code, packed.
Bytes LzwEncode(std::span<const uint8_t> pixels, unsigned codeSize, TLzwOptions options = {});

// Rows reordered into interlaced stream order.
Bytes InterlaceRows(std::span<const uint8_t> pixels, size_t width, size_t height);

struct TImage {
  uint16_t left = 0, top = 0, width = 0, height = 0;
  bool interlaced = false;
  int localColors = 0;  // 0: no local map; else 2..256, a power of two
  unsigned codeSize = 8;
  size_t blockSize = 255;
  TLzwOptions lzw = {};
};

class TGifBuilder {
 public:
  TGifBuilder& Raw(std::initializer_list<int> bytes);
  TGifBuilder& Raw(std::span<const uint8_t> bytes);
  TGifBuilder& U16(unsigned value);
  // Signature, logical screen and a global map of `colors` grey levels
  // (0: none; else a power of two from 2 to 256).
  TGifBuilder& Header(unsigned width, unsigned height, int colors = 256, uint8_t background = 0,
                      const char* signature = "GIF89a");
  TGifBuilder& GraphicControl(uint8_t packed, uint16_t delay, uint8_t transparentIndex);
  TGifBuilder& Loop(uint16_t loops);
  TGifBuilder& Comment(const std::string& text);
  TGifBuilder& Descriptor(unsigned left, unsigned top, unsigned width, unsigned height, uint8_t packed);
  // Descriptor, local map, and the pixels coded as image data (pixels in
  // display order; interlaced images are reordered here).
  TGifBuilder& Image(const TImage& image, std::span<const uint8_t> pixels);
  // Code size byte and the given codes, packed with the given widths.
  TGifBuilder& Codes(unsigned codeSize, std::initializer_list<std::pair<unsigned, unsigned>> codes,
                     size_t blockSize = 255);
  TGifBuilder& Trailer() { return Raw({0x3B}); }
  const Bytes& Bytes_() const { return bytes_; }
  Bytes Take() { return std::move(bytes_); }

 private:
  void ColorMap(int colors);
  Bytes bytes_;
};

// Deterministic pseudo-random numbers (xorshift), the same on every platform.
class TRandom {
 public:
  explicit TRandom(uint32_t seed) : state_(seed ? seed : 1) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }

 private:
  uint32_t state_;
};

}  // namespace gif::testing
