#include "lzma_decoder.h"

#include <algorithm>
#include <cstring>

namespace za {

namespace {

constexpr std::uint32_t kTop = 1u << 24;
constexpr unsigned kModelBits = 11;
constexpr std::uint32_t kModelTotal = 1u << kModelBits;
constexpr unsigned kMoveBits = 5;
constexpr unsigned kStates = 12;
constexpr unsigned kLiteralStates = 7;  // below it, the symbol before was a literal
constexpr unsigned kEndSlotModel = 14;  // slots from it on take direct bits
constexpr unsigned kFullDistances = 128;
constexpr unsigned kLiteralContexts = 4;  // lc + lp at most
constexpr std::uint32_t kMarker = 0xFFFFFFFF;

}  // namespace

bool ZALzmaModel(std::uint8_t properties, TZALzmaModel& model) {
  if (properties >= 9 * 5 * 5) return false;
  model.Lc = properties % 9;
  model.Lp = properties / 9 % 5;
  model.Pb = properties / 45;
  return model.Lc + model.Lp <= kLiteralContexts;
}

struct TZALzmaDecoder::Probabilities {
  struct Length {
    std::uint16_t Choice, Choice2;
    std::uint16_t Low[16][8], Mid[16][8], High[256];
  };
  std::uint16_t IsMatch[kStates][16];
  std::uint16_t IsRep[kStates], IsRepG0[kStates], IsRepG1[kStates], IsRepG2[kStates];
  std::uint16_t IsRep0Long[kStates][16];
  std::uint16_t Slot[4][64];
  std::uint16_t Special[1 + kFullDistances - kEndSlotModel];
  std::uint16_t Align[16];
  Length Match, Rep;
  std::uint16_t Literal[0x300 << kLiteralContexts];
};

TZALzmaDecoder::TZALzmaDecoder() : probs_(std::make_unique<Probabilities>()) {}
TZALzmaDecoder::~TZALzmaDecoder() = default;

bool TZALzmaDecoder::SetWindow(std::uint8_t* buffer, std::size_t size, std::size_t capacity,
                               std::uint32_t dictionary) {
  if (capacity == 0) return false;
  if (!buffer || size < capacity) {
    // Room past the window for a copy's overrun.
    size = capacity + 16;
    if (ownSize_ < size) {
      own_.reset();
      ownSize_ = 0;
      own_.reset(new (std::nothrow) std::uint8_t[size]);
      if (!own_) return false;
      ownSize_ = size;
    }
    buffer = own_.get();
    size = ownSize_;
  }
  window_ = buffer;
  physical_ = size;
  capacity_ = capacity;
  dictionary_ = dictionary;
  pos_ = 0;
  total_ = 0;
  wrapped_ = false;
  pending_ = 0;
  return true;
}

void TZALzmaDecoder::ResetState(const TZALzmaModel& model) {
  model_ = model;
  std::uint16_t* p = reinterpret_cast<std::uint16_t*>(probs_.get());
  // The literal trees come last: only those of the model's contexts are used.
  std::size_t used = offsetof(Probabilities, Literal) / 2 + (std::size_t{0x300} << (model.Lc + model.Lp));
  std::fill(p, p + used, static_cast<std::uint16_t>(kModelTotal / 2));
  state_ = 0;
  rep_[0] = rep_[1] = rep_[2] = rep_[3] = 0;
  pending_ = 0;
}

void TZALzmaDecoder::Put(const std::uint8_t* data, std::size_t size) {
  if (size) std::memcpy(window_ + pos_, data, size);
  pos_ += size;
  total_ += size;
}

bool TZALzmaDecoder::StartRange(const std::uint8_t* data) {
  if (data[0] != 0) return false;
  code_ = std::uint32_t{data[1]} << 24 | std::uint32_t{data[2]} << 16 | std::uint32_t{data[3]} << 8 | data[4];
  range_ = 0xFFFFFFFF;
  return code_ != range_;
}

bool TZALzmaDecoder::FinishRange(const std::uint8_t*& in) {
  if (range_ < kTop) {
    range_ <<= 8;
    code_ = (code_ << 8) | *in++;
  }
  return code_ == 0;
}

// The range decoder normalises before every bit rather than after: the same
// reads, but the last one is left to FinishRange.
#define ZA_NORMALIZE()                \
  if (range < kTop) {                 \
    range <<= 8;                      \
    code = (code << 8) | *in++;       \
  }

// One bit of probability *p, with a branch: for the model's bits, most of
// which go one way.
#define ZA_BIT(p, zero, one)                                        \
  do {                                                              \
    ZA_NORMALIZE();                                                 \
    std::uint32_t bound_ = (range >> kModelBits) * *(p);            \
    if (code < bound_) {                                            \
      range = bound_;                                               \
      *(p) = static_cast<std::uint16_t>(*(p) + ((kModelTotal - *(p)) >> kMoveBits)); \
      zero;                                                         \
    } else {                                                        \
      range -= bound_;                                              \
      code -= bound_;                                               \
      *(p) = static_cast<std::uint16_t>(*(p) - (*(p) >> kMoveBits)); \
      one;                                                          \
    }                                                               \
  } while (0)

// One bit of a tree into `sym`.
#define ZA_TREE_BIT(probs, sym)                               \
  do {                                                        \
    std::uint16_t* q_ = &(probs)[sym];                        \
    ZA_BIT(q_, sym = sym << 1, sym = (sym << 1) + 1);         \
  } while (0)

// Copies `len` bytes from rep0 back, as far as outLimit; what is left
// stays in `len`. Where the window past the match holds nothing yet, the
// copy goes on in whole 16 or 8 bytes past its end rather than byte by
// byte: a match is seldom longer than a few of those.
#define ZA_COPY()                                                                   \
  do {                                                                              \
    std::size_t n_ = std::min<std::size_t>(len, outLimit - pos);                    \
    const std::size_t distance_ = std::size_t{rep0} + 1;                            \
    std::uint8_t* dst_ = window + pos;                                              \
    len -= static_cast<std::uint32_t>(n_);                                          \
    total += n_;                                                                    \
    if (distance_ <= pos) {                                                         \
      const std::uint8_t* src_ = dst_ - distance_;                                  \
      std::uint8_t* const end_ = dst_ + n_;                                         \
      pos += n_;                                                                    \
      if (pos <= overEnd && distance_ >= 16) {                                      \
        do {                                                                        \
          std::memcpy(dst_, src_, 16);                                              \
          dst_ += 16;                                                               \
          src_ += 16;                                                               \
        } while (dst_ < end_);                                                      \
      } else if (pos <= overEnd && distance_ >= 8) {                                \
        do {                                                                        \
          std::memcpy(dst_, src_, 8);                                               \
          dst_ += 8;                                                                \
          src_ += 8;                                                                \
        } while (dst_ < end_);                                                      \
      } else {                                                                      \
        do *dst_++ = *src_++;                                                       \
        while (dst_ < end_);                                                        \
      }                                                                             \
    } else {                                                                        \
      std::size_t from_ = pos + capacity - distance_;                               \
      pos += n_;                                                                    \
      for (; n_; --n_) {                                                            \
        *dst_++ = window[from_];                                                    \
        if (++from_ == capacity) from_ = 0;                                         \
      }                                                                             \
    }                                                                               \
  } while (0)

TZALzmaDecoder::Stop TZALzmaDecoder::Decode(const std::uint8_t*& input, const std::uint8_t* inEnd,
                                            std::size_t outLimit) {
  Probabilities& P = *probs_;
  const std::uint8_t* in = input;
  std::uint32_t range = range_, code = code_, state = state_;
  std::uint32_t rep0 = rep_[0], rep1 = rep_[1], rep2 = rep_[2], rep3 = rep_[3];
  std::uint8_t* const window = window_;
  const std::size_t capacity = capacity_;
  std::size_t pos = pos_;
  std::uint64_t total = total_;
  const std::uint64_t reach = std::min<std::uint64_t>(dictionary_, capacity);
  // A copy that ends by here may write up to 15 bytes past its end: they
  // are past the data and within the buffer.
  const std::size_t overEnd = wrapped_ || physical_ < 16 ? 0 : physical_ - 16;
  const std::uint32_t pbMask = (1u << model_.Pb) - 1, lpMask = (1u << model_.Lp) - 1;
  const unsigned lc = model_.Lc;
  std::uint32_t len = pending_;
  Stop stop = Stop::Output;

  if (len) {
    if (pos < outLimit) ZA_COPY();
    if (len) goto out;
  }

  while (pos < outLimit) {
    if (static_cast<std::size_t>(inEnd - in) < kSymbolInput) {
      stop = Stop::Input;
      break;
    }
    // The byte at rep0 is read by a literal after a match and by every
    // repeat of rep0; it is far back as often as not.
    if (rep0 < pos) __builtin_prefetch(window + pos - rep0 - 1);
    const std::uint32_t posState = static_cast<std::uint32_t>(total) & pbMask;
    std::uint16_t* isMatch = &P.IsMatch[state][posState];
    bool literal = false;
    ZA_BIT(isMatch, literal = true, (void)0);
    if (literal) {
      std::uint32_t prev = 0;
      if (total) prev = window[pos ? pos - 1 : capacity - 1];
      std::uint16_t* probs =
          P.Literal + 0x300 * (((static_cast<std::uint32_t>(total) & lpMask) << lc) + (prev >> (8 - lc)));
      std::uint32_t sym = 1;
      if (state < kLiteralStates) {
        ZA_TREE_BIT(probs, sym);
        ZA_TREE_BIT(probs, sym);
        ZA_TREE_BIT(probs, sym);
        ZA_TREE_BIT(probs, sym);
        ZA_TREE_BIT(probs, sym);
        ZA_TREE_BIT(probs, sym);
        ZA_TREE_BIT(probs, sym);
        ZA_TREE_BIT(probs, sym);
      } else {
        // A literal after a match is coded against the byte at rep0, as
        // long as its bits agree.
        if (rep0 >= total || rep0 >= reach) {
          stop = Stop::Failed;
          break;
        }
        std::uint32_t match =
            window[pos > rep0 ? pos - rep0 - 1 : pos + capacity - rep0 - 1];
        std::uint32_t offs = 0x100;
        do {
          match <<= 1;
          std::uint32_t bit = match & offs;
          std::uint16_t* p_ = &probs[offs + bit + sym];
          ZA_NORMALIZE();
          std::uint32_t v_ = *p_;
          std::uint32_t bound_ = (range >> kModelBits) * v_;
          std::uint32_t mask_ = 0u - static_cast<std::uint32_t>(code >= bound_);
          range = bound_ + ((range - bound_ - bound_) & mask_);
          code -= bound_ & mask_;
          *p_ = static_cast<std::uint16_t>(v_ + ((((kModelTotal - v_) >> kMoveBits) & ~mask_) -
                                                 ((v_ >> kMoveBits) & mask_)));
          sym = (sym << 1) + (mask_ & 1);
          offs &= bit ^ ~mask_;
        } while (sym < 0x100);
      }
      window[pos++] = static_cast<std::uint8_t>(sym);
      ++total;
      state = state < 4 ? 0 : state < 10 ? state - 3 : state - 6;
      continue;
    }

    Probabilities::Length* lengths;
    bool rep = false;
    ZA_BIT(&P.IsRep[state], (void)0, rep = true);
    if (!rep) {
      rep3 = rep2;
      rep2 = rep1;
      rep1 = rep0;
      state = state < kLiteralStates ? 7 : 10;
      lengths = &P.Match;
    } else {
      bool g0 = false;
      ZA_BIT(&P.IsRepG0[state], (void)0, g0 = true);
      if (!g0) {
        bool longRep = false;
        ZA_BIT(&P.IsRep0Long[state][posState], (void)0, longRep = true);
        if (!longRep) {
          // One byte from rep0.
          if (rep0 >= total || rep0 >= reach) {
            stop = Stop::Failed;
            break;
          }
          window[pos] = window[pos > rep0 ? pos - rep0 - 1 : pos + capacity - rep0 - 1];
          ++pos;
          ++total;
          state = state < kLiteralStates ? 9 : 11;
          continue;
        }
      } else {
        std::uint32_t distance;
        bool g1 = false;
        ZA_BIT(&P.IsRepG1[state], (void)0, g1 = true);
        if (!g1) {
          distance = rep1;
        } else {
          bool g2 = false;
          ZA_BIT(&P.IsRepG2[state], (void)0, g2 = true);
          if (!g2) {
            distance = rep2;
          } else {
            distance = rep3;
            rep3 = rep2;
          }
          rep2 = rep1;
        }
        rep1 = rep0;
        rep0 = distance;
      }
      state = state < kLiteralStates ? 8 : 11;
      lengths = &P.Rep;
    }

    // The length, less the shortest.
    std::uint32_t sym = 1;
    bool beyondLow = false, beyondMid = false;
    ZA_BIT(&lengths->Choice, (void)0, beyondLow = true);
    if (!beyondLow) {
      ZA_TREE_BIT(lengths->Low[posState], sym);
      ZA_TREE_BIT(lengths->Low[posState], sym);
      ZA_TREE_BIT(lengths->Low[posState], sym);
      len = sym - 8;
    } else {
      ZA_BIT(&lengths->Choice2, (void)0, beyondMid = true);
      if (!beyondMid) {
        ZA_TREE_BIT(lengths->Mid[posState], sym);
        ZA_TREE_BIT(lengths->Mid[posState], sym);
        ZA_TREE_BIT(lengths->Mid[posState], sym);
        len = sym - 8 + 8;
      } else {
        for (int i = 0; i < 8; ++i) ZA_TREE_BIT(lengths->High, sym);
        len = sym - 256 + 16;
      }
    }

    if (!rep) {
      std::uint16_t* slots = P.Slot[len < 3 ? len : 3];
      std::uint32_t slot = 1;
      for (int i = 0; i < 6; ++i) ZA_TREE_BIT(slots, slot);
      slot -= 64;
      if (slot < 4) {
        rep0 = slot;
      } else {
        const unsigned direct = (slot >> 1) - 1;
        std::uint32_t distance = (2 | (slot & 1)) << direct;
        std::uint16_t* probs;
        unsigned bits;
        if (slot < kEndSlotModel) {
          probs = P.Special + distance - slot;
          bits = direct;
        } else {
          std::uint32_t high = 0;
          for (unsigned i = direct - 4; i; --i) {
            ZA_NORMALIZE();
            range >>= 1;
            code -= range;
            std::uint32_t t = 0u - (code >> 31);
            code += range & t;
            high = (high << 1) + (t + 1);
          }
          distance += high << 4;
          probs = P.Align;
          bits = 4;
        }
        // Reverse tree: the low bits, lowest first.
        std::uint32_t m = 1;
        for (unsigned i = 0; i < bits; ++i) {
          std::uint32_t before = m;
          ZA_TREE_BIT(probs, m);
          distance += (m - (before << 1)) << i;
        }
        rep0 = distance;
      }
      if (rep0 == kMarker) {
        // The encoders' marker is a match of the shortest length.
        stop = len == 0 ? Stop::Marker : Stop::Failed;
        len = 0;
        break;
      }
    }

    len += 2;
    if (rep0 >= total || rep0 >= reach) {
      stop = Stop::Failed;
      len = 0;
      break;
    }
    ZA_COPY();
  }

out:
  input = in;
  range_ = range;
  code_ = code;
  state_ = state;
  rep_[0] = rep0;
  rep_[1] = rep1;
  rep_[2] = rep2;
  rep_[3] = rep3;
  pos_ = pos;
  total_ = total;
  pending_ = len;
  return stop;
}

#undef ZA_COPY
#undef ZA_TREE_BIT
#undef ZA_BIT
#undef ZA_NORMALIZE

}  // namespace za
