#include "gif_writer.h"

#include <algorithm>
#include <cstring>

namespace gif::testing {

void TCodeWriter::Put(unsigned code, unsigned width) {
  acc_ |= code << count_;
  count_ += width;
  while (count_ >= 8) {
    bytes_.push_back(static_cast<uint8_t>(acc_));
    acc_ >>= 8;
    count_ -= 8;
  }
}

Bytes TCodeWriter::Finish() {
  if (count_ > 0) bytes_.push_back(static_cast<uint8_t>(acc_));
  acc_ = 0;
  count_ = 0;
  return std::move(bytes_);
}

Bytes SubBlocks(std::span<const uint8_t> data, size_t blockSize) {
  Bytes out;
  for (size_t i = 0; i < data.size(); i += blockSize) {
    const size_t n = std::min(blockSize, data.size() - i);
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(i),
               data.begin() + static_cast<std::ptrdiff_t>(i + n));
  }
  out.push_back(0);
  return out;
}

Bytes LzwEncode(std::span<const uint8_t> pixels, unsigned codeSize, TLzwOptions options) {
  const unsigned clear = 1u << codeSize, eoi = clear + 1;
  TCodeWriter writer;
  unsigned width = codeSize + 1, next = clear + 2;
  // The decoder adds each entry one code later than here, so its width grows
  // one code later: follow its count of entries and its limit.
  unsigned limit = clear << 1, adds = 0;
  // Child of (code, pixel), stamped with the table generation so that a clear
  // needs no reset.
  std::vector<uint32_t> table(4096 * 256, 0);
  uint32_t generation = 1;
  writer.Put(clear, width);
  if (pixels.empty()) {
    writer.Put(eoi, width);
    return writer.Finish();
  }
  unsigned current = pixels[0];
  for (size_t i = 1; i < pixels.size(); ++i) {
    const unsigned pixel = pixels[i];
    uint32_t& slot = table[current * 256 + pixel];
    if (slot >> 12 == generation) {
      current = slot & 0xFFF;
      continue;
    }
    writer.Put(current, width);
    if (next < 4096) {
      slot = generation << 12 | next++;
      if (++adds >= 2 && next - 1 >= limit && limit < 4096) {
        limit <<= 1;
        ++width;
      }
    } else if (options.clearWhenFull) {
      writer.Put(clear, width);
      ++generation;
      width = codeSize + 1;
      next = clear + 2;
      limit = clear << 1;
      adds = 0;
    }
    current = pixel;
  }
  writer.Put(current, width);
  writer.Put(eoi, width);
  return writer.Finish();
}

Bytes InterlaceRows(std::span<const uint8_t> pixels, size_t width, size_t height) {
  Bytes out;
  out.reserve(pixels.size());
  static constexpr size_t kPasses[][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
  for (const auto& pass : kPasses)
    for (size_t row = pass[0]; row < height; row += pass[1])
      out.insert(out.end(), pixels.begin() + static_cast<std::ptrdiff_t>(row * width),
                 pixels.begin() + static_cast<std::ptrdiff_t>((row + 1) * width));
  return out;
}

TGifBuilder& TGifBuilder::Raw(std::initializer_list<int> bytes) {
  for (int b : bytes) bytes_.push_back(static_cast<uint8_t>(b));
  return *this;
}

TGifBuilder& TGifBuilder::Raw(std::span<const uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

TGifBuilder& TGifBuilder::U16(unsigned value) { return Raw({static_cast<int>(value & 0xFF), static_cast<int>(value >> 8 & 0xFF)}); }

void TGifBuilder::ColorMap(int colors) {
  for (int i = 0; i < colors; ++i) {
    const int level = colors > 1 ? i * 255 / (colors - 1) : 0;
    Raw({level, level, level});
  }
}

namespace {
int SizeBits(int colors) {
  int n = 0;
  while ((2 << n) < colors) ++n;
  return n;
}
}  // namespace

TGifBuilder& TGifBuilder::Header(unsigned width, unsigned height, int colors, uint8_t background,
                                 const char* signature) {
  bytes_.insert(bytes_.end(), signature, signature + std::strlen(signature));
  U16(width).U16(height);
  Raw({colors ? 0xF0 | SizeBits(colors) : 0x70, background, 0});
  ColorMap(colors);
  return *this;
}

TGifBuilder& TGifBuilder::GraphicControl(uint8_t packed, uint16_t delay, uint8_t transparentIndex) {
  Raw({0x21, 0xF9, 4, packed});
  return U16(delay).Raw({transparentIndex, 0});
}

TGifBuilder& TGifBuilder::Loop(uint16_t loops) {
  Raw({0x21, 0xFF, 11});
  Raw(std::span(reinterpret_cast<const uint8_t*>("NETSCAPE2.0"), 11));
  return Raw({3, 1}).U16(loops).Raw({0});
}

TGifBuilder& TGifBuilder::Comment(const std::string& text) {
  Raw({0x21, 0xFE});
  Raw(SubBlocks(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())));
  return *this;
}

TGifBuilder& TGifBuilder::Descriptor(unsigned left, unsigned top, unsigned width, unsigned height,
                                     uint8_t packed) {
  Raw({0x2C});
  return U16(left).U16(top).U16(width).U16(height).Raw({packed});
}

TGifBuilder& TGifBuilder::Image(const TImage& image, std::span<const uint8_t> pixels) {
  uint8_t packed = image.interlaced ? 0x40 : 0;
  if (image.localColors) packed |= static_cast<uint8_t>(0x80 | SizeBits(image.localColors));
  Descriptor(image.left, image.top, image.width, image.height, packed);
  ColorMap(image.localColors);
  Raw({static_cast<int>(image.codeSize)});
  const Bytes ordered = image.interlaced ? InterlaceRows(pixels, image.width, image.height)
                                         : Bytes(pixels.begin(), pixels.end());
  return Raw(SubBlocks(LzwEncode(ordered, image.codeSize, image.lzw), image.blockSize));
}

TGifBuilder& TGifBuilder::Codes(unsigned codeSize, std::initializer_list<std::pair<unsigned, unsigned>> codes,
                                size_t blockSize) {
  TCodeWriter writer;
  for (const auto& [code, width] : codes) writer.Put(code, width);
  Raw({static_cast<int>(codeSize)});
  return Raw(SubBlocks(writer.Finish(), blockSize));
}

}  // namespace gif::testing
