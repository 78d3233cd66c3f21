#include "gif/lzw.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include "reader.h"

namespace gif {

namespace {

constexpr int kTableSize = 4096;
constexpr int kMaxChain = kTableSize;  // a longer prefix chain must loop

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) {
    uint64_t r = 0;
    for (int i = 0; i < 8; ++i) r |= ((v >> (8 * i)) & 0xFF) << (56 - 8 * i);
    v = r;
  }
  return v;
}

// Copies a string that was output earlier. Its source always ends at or
// before dst, so whole 16-byte chunks are safe: what they carry past len lands
// where the next string (or the final fill, or the buffer's slack) goes.
inline void CopyString(uint8_t* dst, const uint8_t* src, size_t len) {
  for (size_t i = 0; i < len; i += 16) {
    uint8_t chunk[16];
    std::memcpy(chunk, src + i, 16);
    std::memcpy(dst + i, chunk, 16);
  }
}

// The bit reader's position, kept in the decoding loop's registers and handed
// to the out-of-line refill by value.
struct TBits {
  uint64_t acc = 0;  // unread bits, least significant first
  unsigned count = 0;
  const uint8_t* p = nullptr;  // unread bytes of the current sub-block
  const uint8_t* end = nullptr;
};

class TLzwDecoder {
 public:
  TLzwDecoder(TGIFFrame& frame, TStream& stream, unsigned codeSize)
      : frame_(frame),
        stream_(stream),
        size_(codeSize),
        clear_(1u << codeSize),
        eoi_(clear_ + 1),
        warnOfDamage_(frame.Image().WarnOfDamagedData) {}

  // Decodes up to n pixels into out (which has slack past n); answers how many
  // were written. Leaves the stream after the frame's data when the data was
  // complete.
  size_t Run(uint8_t* out, size_t n);

 private:
  enum class TStop { Full, EndCode, DataEnded, Clear };

  // State shared between the fast loop and the exact fallback.
  struct TState {
    unsigned width, next, limit;
    size_t pos;
    unsigned prev;     // previous code
    size_t prevPos;    // where the previous string was written
    unsigned prevLen;  // and its length
  };

  bool Refill(TBits& bits, unsigned width);
  bool NextSubBlock(TBits& bits);
  void SkipRest();
  static void Widen(TState& s) {
    if (s.next >= s.limit && s.limit < kTableSize) {
      s.limit <<= 1;
      ++s.width;
    }
  }
  TStop Fallback(TState& s, TBits& bits, int code, bool afterClear, uint8_t* out, size_t n);
  // Damage that decoding passes over without a word unless asked to warn.
  void Damaged(const char* message) {
    if (warnOfDamage_) frame_.ReportWarning(WarningSeverity, message);
  }
  void OutOfRange() {
    if (!outOfRangeReported_) Damaged(messages::CodeOutOfRange);
    outOfRangeReported_ = true;
  }

  TGIFFrame& frame_;
  TStream& stream_;
  const unsigned size_, clear_, eoi_;
  const bool warnOfDamage_;
  bool terminator_ = false;
  bool streamEnded_ = false;
  bool outOfRangeReported_ = false;

  // Every table entry is the previous string plus one pixel, so it already
  // stands in the output: where, and how long. The exact fallback for damaged
  // data adds its own entries as prefix and suffix.
  uint32_t offset_[kTableSize];
  uint16_t length_[kTableSize];
  uint16_t prefix_[kTableSize];
  uint16_t suffix_[kTableSize];
  // One string of the output plus a chain through every fallback entry.
  uint16_t stack_[2 * kTableSize + 2];
  uint8_t block_[255 + 8];  // the current sub-block, padded for 8-byte loads
};

bool TLzwDecoder::NextSubBlock(TBits& bits) {
  uint8_t size;
  if (!detail::ReadByte(stream_, size)) {
    streamEnded_ = true;
    return false;
  }
  if (size == 0) {
    terminator_ = true;
    return false;
  }
  if (size > detail::Remaining(stream_)) {
    frame_.ReportWarning(WarningSeverity, messages::PrematureEnd);
    size = static_cast<uint8_t>(detail::Remaining(stream_));
  }
  const size_t got = stream_.Read(block_, size);
  bits.p = block_;
  bits.end = block_ + got;
  return true;
}

// Gathers bits until a code of the width is complete. A code may span any
// number of sub-blocks (a writer may use sub-blocks of one byte).
bool TLzwDecoder::Refill(TBits& bits, unsigned width) {
  for (;;) {
    while (bits.count <= 56 && bits.p < bits.end) {
      bits.acc |= uint64_t{*bits.p++} << bits.count;
      bits.count += 8;
    }
    if (bits.count >= width) return true;
    if (terminator_ || streamEnded_ || !NextSubBlock(bits)) {
      if (terminator_ && bits.count == 0) frame_.ReportWarning(WarningSeverity, messages::BitBufferUnderrun);
      return false;
    }
  }
}

void TLzwDecoder::SkipRest() {
  if (terminator_ || streamEnded_) return;
  uint8_t size;
  while (detail::ReadByte(stream_, size) && size != 0) detail::Skip(stream_, size);
  terminator_ = true;
}

// The bit reader's state lives in plain locals here, never address-taken, so
// that the compiler keeps them in registers across the byte stores to out;
// the rare calls go through a copy.
#define ROVEND_READ_CODE(code, width)                        \
  do {                                                       \
    if (count < (width)) {                                   \
      if (end - p >= 8) {                                    \
        acc |= Load64(p) << count;                           \
        p += (63 - count) >> 3;                              \
        count |= 56;                                         \
      } else {                                               \
        TBits b{acc, count, p, end};                         \
        const bool ok = Refill(b, (width));                  \
        acc = b.acc, count = b.count, p = b.p, end = b.end;  \
        if (!ok) {                                           \
          (code) = -1;                                       \
          break;                                             \
        }                                                    \
      }                                                      \
    }                                                        \
    (code) = static_cast<int>(acc & ((uint64_t{1} << (width)) - 1)); \
    acc >>= (width);                                         \
    count -= (width);                                        \
  } while (false)

size_t TLzwDecoder::Run(uint8_t* out, size_t n) {
  if (n == 0) {
    // A frame of width 0 in a logical screen of width 0: nothing to decode.
    SkipRest();
    return 0;
  }
  uint64_t acc = 0;
  unsigned count = 0;
  const uint8_t* p = nullptr;
  const uint8_t* end = nullptr;
  const int clear = static_cast<int>(clear_), eoi = static_cast<int>(eoi_);
  const unsigned size = size_;
  unsigned width = size + 1, next = clear_ + 2, limit = clear_ << 1;
  size_t pos = 0, prevPos = 0;
  unsigned prev = 0, prevLen = 0;
  uint32_t* const offsets = offset_;
  uint16_t* const lengths = length_;

  // The rare way out to the exact fallback: hand the state over and back.
  const auto fallback = [&](int code, bool afterClear) {
    TState st{width, next, limit, pos, prev, prevPos, prevLen};
    TBits b{acc, count, p, end};
    const TStop result = Fallback(st, b, code, afterClear, out, n);
    width = st.width, next = st.next, limit = st.limit, pos = st.pos;
    acc = b.acc, count = b.count, p = b.p, end = b.end;
    return result;
  };

  TStop stop = TStop::DataEnded;
  int code = clear;  // the implicit clear before the first code
  bool implicit = true;
  for (;;) {
    if (code == clear) {
      width = size + 1;
      next = clear_ + 2;
      limit = clear_ << 1;
      int reads = 0;
      do {
        ROVEND_READ_CODE(code, width);
        ++reads;
      } while (code == clear);
      if (implicit && reads == 1 && code >= 0) Damaged(messages::NoClearCode);
      implicit = false;
      if (code < 0) break;
      if (code == eoi) {
        stop = TStop::EndCode;
        break;
      }
      if (code > eoi) {
        OutOfRange();
        stop = fallback(code, true);
        if (stop != TStop::Clear) break;
        code = clear;
        continue;
      }
      out[pos] = static_cast<uint8_t>(code);
      prev = static_cast<unsigned>(code);
      prevPos = pos++;
      prevLen = 1;
    } else {
      const size_t room = n - pos;
      unsigned len;
      if (code < clear) {
        out[pos] = static_cast<uint8_t>(code);
        len = 1;
      } else if (code < static_cast<int>(next)) {
        if (code == eoi) {
          stop = TStop::EndCode;
          break;
        }
        len = lengths[code];
        CopyString(out + pos, out + offsets[code], std::min<size_t>(len, room));
      } else if (code == static_cast<int>(next)) {
        // The string being defined: the previous one and its own first pixel.
        len = prevLen + 1;
        CopyString(out + pos, out + prevPos, std::min<size_t>(prevLen, room));
        if (prevLen < room) out[pos + prevLen] = out[prevPos];
      } else {
        stop = fallback(code, false);
        if (stop != TStop::Clear) break;
        code = clear;
        continue;
      }
      if (len >= room) {
        pos = n;
        stop = TStop::Full;
        break;
      }
      if (next < kTableSize) {
        offsets[next] = static_cast<uint32_t>(prevPos);
        lengths[next] = static_cast<uint16_t>(prevLen + 1);
        if (++next >= limit && limit < kTableSize) {
          limit <<= 1;
          ++width;
        }
      }
      prev = static_cast<unsigned>(code);
      prevPos = pos;
      prevLen = len;
      pos += len;
    }
    if (pos >= n) {
      stop = TStop::Full;
      break;
    }
    ROVEND_READ_CODE(code, width);
    if (code < 0) break;
  }
  // Whatever follows the last pixel (normally just the end code) belongs to
  // this frame: step over it so that the next block is read where it starts.
  if (stop == TStop::Full || stop == TStop::EndCode) SkipRest();
  return pos;
}
#undef ROVEND_READ_CODE

// Damaged data: codes above the next free entry, or a first code after a clear
// that is no pixel. From here to the next clear the table is walked entry by
// entry, as a prefix chain, with a guard against chains that loop.
TLzwDecoder::TStop TLzwDecoder::Fallback(TState& s, TBits& bits, int code, bool afterClear, uint8_t* out,
                                         size_t n) {
  // Entries below `walked` were made by the fast loop and are read from the
  // output; the others are walked. Entries not defined yet read as pixel 0
  // with prefix 0.
  const unsigned walked = s.next;
  for (unsigned i = clear_; i < clear_ + 2; ++i) prefix_[i] = suffix_[i] = 0;
  for (unsigned i = walked; i < kTableSize; ++i) prefix_[i] = suffix_[i] = 0;

  unsigned old, first;
  if (afterClear) {
    out[s.pos++] = static_cast<uint8_t>(code);
    old = first = static_cast<unsigned>(code);
  } else {
    old = s.prev;
    first = out[s.prevPos];
  }
  for (bool pending = !afterClear;; pending = false) {
    if (!pending) {
      if (s.pos >= n) return TStop::Full;
      if (bits.count < s.width && !Refill(bits, s.width)) return TStop::DataEnded;
      code = static_cast<int>(bits.acc & ((uint64_t{1} << s.width) - 1));
      bits.acc >>= s.width;
      bits.count -= s.width;
      if (code == static_cast<int>(clear_)) return TStop::Clear;
      if (code == static_cast<int>(eoi_)) return TStop::EndCode;
    }
    const unsigned incoming = static_cast<unsigned>(code);
    unsigned c = incoming;
    if (c > s.next) OutOfRange();
    int sp = 0;
    if (c >= s.next) {
      stack_[sp++] = static_cast<uint16_t>(first);
      c = old;
    }
    // The clear and end codes have no string; they read as undefined entries.
    for (int steps = 0; c >= walked || c == clear_ || c == eoi_; ++steps) {
      if (prefix_[c] == c || steps >= kMaxChain) throw EGIFError(messages::CircularTable);
      stack_[sp++] = suffix_[c];
      c = prefix_[c];
    }
    if (c < clear_) {
      first = c;
    } else {
      const uint8_t* string = out + offset_[c];
      for (unsigned i = length_[c]; i-- > 1;) stack_[sp++] = string[i];
      first = string[0];
    }
    stack_[sp++] = static_cast<uint16_t>(first);
    if (s.next < kTableSize) {
      prefix_[s.next] = static_cast<uint16_t>(old);
      suffix_[s.next] = static_cast<uint16_t>(first);
      ++s.next;
      Widen(s);
    }
    old = incoming;
    while (sp > 0 && s.pos < n) out[s.pos++] = static_cast<uint8_t>(stack_[--sp]);
  }
}

// The row each decoded row goes to: every 8th from 0, every 8th from 4, every
// 4th from 2, every 2nd from 1.
void Deinterlace(const uint8_t* rows, uint8_t* pixels, size_t width, size_t height) {
  static constexpr struct {
    size_t start, step;
  } kPasses[] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
  const uint8_t* src = rows;
  for (const auto& pass : kPasses)
    for (size_t row = pass.start; row < height; row += pass.step, src += width)
      std::memcpy(pixels + row * width, src, width);
}

}  // namespace

namespace {

// The most pixels one code yields: a string of the table, or in damaged
// data a walked chain and the string it ends in.
constexpr uint64_t kMostPixelsPerCode = 2 * kTableSize + 2;

// Bytes of image data in the sub-blocks at the stream's position, which
// is put back.
uint64_t DataBytes(TStream& stream) {
  const int64_t start = stream.Position();
  uint64_t total = 0;
  uint8_t size;
  while (detail::ReadByte(stream, size) && size != 0) {
    const int64_t n = std::min<int64_t>(size, detail::Remaining(stream));
    total += static_cast<uint64_t>(n);
    detail::Skip(stream, n);
  }
  stream.SetPosition(start);
  return total;
}

}  // namespace

void DecodeRaster(TGIFFrame& frame, TStream& stream) {
  const size_t width = static_cast<size_t>(frame.Width());
  const size_t height = static_cast<size_t>(frame.Height());
  const size_t n = width * height;
  const uint8_t fill = frame.Transparent ? frame.TransparentColorIndex() : 0;

  uint8_t codeSize;
  const bool warnOfDamage = frame.Image().WarnOfDamagedData;
  if (!detail::ReadByte(stream, codeSize)) {
    frame.AllocatePixels(0);
    frame.KeepDecoded(0, fill);
    if (n && warnOfDamage) frame.ReportWarning(WarningSeverity, messages::MissingPixels);
    return;
  }
  // Memory follows what the data can yield, not what the frame declares: a
  // code adds at most kMostPixelsPerCode pixels and takes at least a bit.
  // One pixel more than the data can yield tells a frame that cannot be
  // filled from one that its data just fills.
  const uint64_t yield = DataBytes(stream) * 8 * kMostPixelsPerCode;
  const bool partial = yield < n;
  uint8_t* pixels = frame.AllocatePixels(partial ? yield + 1 : n);
  if (warnOfDamage && (codeSize == 0 || codeSize > 8))
    frame.ReportWarning(WarningSeverity, messages::BadCodeSize);
  codeSize = std::min<uint8_t>(codeSize, 8);

  const bool interlaced = !partial && frame.Interlaced() && height > 1 && n > 0;
  std::unique_ptr<uint8_t[]> rows;
  uint8_t* out = pixels;
  if (interlaced) {
    rows = std::make_unique_for_overwrite<uint8_t[]>(n + detail::PixelSlack);
    out = rows.get();
  }
  auto decoder = std::make_unique<TLzwDecoder>(frame, stream, codeSize);
  const size_t written = decoder->Run(out, partial ? static_cast<size_t>(yield + 1) : n);
  if (written < n && warnOfDamage) frame.ReportWarning(WarningSeverity, messages::MissingPixels);
  if (partial) {
    frame.KeepDecoded(written, fill);
    return;
  }
  if (written < n) std::memset(out + written, fill, n - written);
  if (interlaced) Deinterlace(out, pixels, width, height);
}

}  // namespace gif
