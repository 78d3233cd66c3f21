#include "deflate64_codec.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace za {

namespace {

// Lengths of codes 257 to 285; 285 is where Deflate64 parts from deflate.
constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
constexpr std::uint32_t kDistanceBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                             49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                             2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr std::uint8_t kDistanceExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                             7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr std::uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

unsigned Reversed(unsigned code, unsigned length) {
  unsigned r = 0;
  for (unsigned i = 0; i < length; ++i, code >>= 1) r = (r << 1) | (code & 1);
  return r;
}

// The fixed codes of block type 1, the same for every block.
struct FixedCodes {
  TZAHuffman literal, distance;
  FixedCodes() {
    std::uint8_t lengths[288];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    literal.Build(lengths, 288);
    std::fill(lengths, lengths + 32, 5);
    distance.Build(lengths, 32);
  }
};

const FixedCodes& Fixed() {
  static const FixedCodes codes;
  return codes;
}

}  // namespace

bool TZAHuffman::Build(const std::uint8_t* lengths, unsigned n) {
  std::fill(std::begin(count), std::end(count), 0);
  for (unsigned i = 0; i < n; ++i) ++count[lengths[i]];
  count[0] = 0;
  int left = 1;
  for (unsigned len = 1; len <= kMaxBits; ++len) {
    left = (left << 1) - count[len];
    if (left < 0) return false;
  }
  std::uint16_t offsets[kMaxBits + 2] = {};
  for (unsigned len = 1; len <= kMaxBits; ++len) offsets[len + 1] = static_cast<std::uint16_t>(offsets[len] + count[len]);
  for (unsigned s = 0; s < n; ++s)
    if (lengths[s]) symbol[offsets[lengths[s]]++] = static_cast<std::uint16_t>(s);
  // Codes are handed out in order of length, then of symbol; deflate sends
  // them from their top bit, so the table is indexed by the reversed code.
  std::fill(std::begin(fast), std::end(fast), 0);
  unsigned code = 0, at = 0;
  for (unsigned len = 1; len <= kFastBits; ++len, code <<= 1) {
    for (unsigned k = 0; k < count[len]; ++k, ++code, ++at) {
      auto entry = static_cast<std::uint16_t>(symbol[at] << 4 | len);
      for (unsigned r = Reversed(code, len); r < (1u << kFastBits); r += 1u << len) fast[r] = entry;
    }
  }
  return true;
}

int TZAHuffman::Decode(std::uint64_t bits, unsigned have, unsigned& used) const {
  if (std::uint16_t entry = fast[bits & ((1u << kFastBits) - 1)]) {
    used = entry & 15;
    return used <= have ? entry >> 4 : kNeedMore;
  }
  // A longer code, a bit at a time, as the counts give the first code of
  // each length.
  int code = 0, first = 0, index = 0;
  for (unsigned len = 1; len <= kMaxBits; ++len) {
    if (len > have) return kNeedMore;
    code |= static_cast<int>((bits >> (len - 1)) & 1);
    int n = count[len];
    if (code - n < first) {
      used = len;
      return symbol[index + (code - first)];
    }
    index += n;
    first = (first + n) << 1;
    code <<= 1;
  }
  return kInvalid;
}

bool TZADeflate64Codec::Begin(std::uint64_t, std::uint8_t*, std::size_t) {
  // The buffer is the codec's own whatever the caller offers: matches
  // reach 64 KiB back into what came out before.
  if (!buffer_) buffer_.reset(new std::uint8_t[kWindow + kSpan + kSlack]);
  pos_ = handed_ = kWindow;
  total_ = 0;
  bits_ = 0;
  bitCount_ = 0;
  state_ = State::Header;
  last_ = false;
  fault_ = {};
  return true;
}

bool TZADeflate64Codec::Damaged(const char* what) {
  fault_.Text = std::string("Deflate64 data is damaged (") + what + ")";
  return false;
}

void TZADeflate64Codec::Refill() {
  // Bits above bitCount_ are those of the bytes at in_, or zero: a byte
  // added on top of them adds what is there already.
  if (bitCount_ > 56) return;
  if (inEnd_ - in_ >= 8) {
    std::uint64_t word;
    std::memcpy(&word, in_, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    bits_ |= word << bitCount_;
    unsigned bytes = (63 - bitCount_) >> 3;
    in_ += bytes;
    bitCount_ += bytes * 8;
    return;
  }
  while (bitCount_ <= 56 && in_ < inEnd_) {
    bits_ |= static_cast<std::uint64_t>(*in_++) << bitCount_;
    bitCount_ += 8;
  }
}

bool TZADeflate64Codec::StartDynamic() {
  if (lengths_[256] == 0) return Damaged("no end-of-block code");
  if (!literal_.Build(lengths_, literals_) || !distance_.Build(lengths_ + literals_, distances_))
    return Damaged("invalid code lengths");
  lit_ = &literal_;
  dist_ = &distance_;
  state_ = State::Codes;
  return true;
}

TZADeflate64Codec::Run TZADeflate64Codec::Decode() {
  auto consume = [this](unsigned n) {
    bits_ >>= n;
    bitCount_ -= n;
  };
  std::uint8_t* const buffer = buffer_.get();
  for (;;) {
    switch (state_) {
      case State::Done: return Run::Done;
      case State::Header: {
        Refill();
        if (bitCount_ < 3) return Run::Starved;
        last_ = bits_ & 1;
        unsigned type = (bits_ >> 1) & 3;
        consume(3);
        if (type == 0) {
          consume(bitCount_ & 7);
          state_ = State::StoredLength;
        } else if (type == 1) {
          lit_ = &Fixed().literal;
          dist_ = &Fixed().distance;
          state_ = State::Codes;
        } else if (type == 2) {
          state_ = State::Counts;
        } else {
          Damaged("invalid block type");
          return Run::Failed;
        }
        break;
      }
      case State::StoredLength: {
        Refill();
        if (bitCount_ < 32) return Run::Starved;
        std::uint32_t length = bits_ & 0xFFFF, complement = (bits_ >> 16) & 0xFFFF;
        consume(32);
        if (length != (~complement & 0xFFFF)) {
          Damaged("stored block length does not match its complement");
          return Run::Failed;
        }
        stored_ = length;
        state_ = State::Stored;
        break;
      }
      case State::Stored: {
        while (stored_) {
          std::size_t room = kWindow + kSpan - pos_;
          if (room == 0) return Run::Full;
          if (bitCount_ >= 8) {
            buffer[pos_++] = static_cast<std::uint8_t>(bits_);
            consume(8);
            --stored_;
            ++total_;
            continue;
          }
          bits_ = 0;  // nothing of in_ is held any more
          std::size_t n = std::min<std::size_t>({stored_, room, static_cast<std::size_t>(inEnd_ - in_)});
          if (n == 0) return Run::Starved;
          std::memcpy(buffer + pos_, in_, n);
          in_ += n;
          pos_ += n;
          total_ += n;
          stored_ -= static_cast<std::uint32_t>(n);
        }
        state_ = last_ ? State::Done : State::Header;
        break;
      }
      case State::Counts: {
        Refill();
        if (bitCount_ < 14) return Run::Starved;
        literals_ = (bits_ & 31) + 257;
        distances_ = ((bits_ >> 5) & 31) + 1;
        codeLengthCodes_ = ((bits_ >> 10) & 15) + 4;
        consume(14);
        if (literals_ > 286) {
          Damaged("too many length codes");
          return Run::Failed;
        }
        std::fill(std::begin(lengths_), std::end(lengths_), 0);
        index_ = 0;
        state_ = State::CodeLengthCodes;
        break;
      }
      case State::CodeLengthCodes: {
        for (; index_ < codeLengthCodes_; ++index_) {
          Refill();
          if (bitCount_ < 3) return Run::Starved;
          lengths_[kCodeLengthOrder[index_]] = bits_ & 7;
          consume(3);
        }
        if (!codeLength_.Build(lengths_, 19)) {
          Damaged("invalid code length codes");
          return Run::Failed;
        }
        std::fill(lengths_, lengths_ + 19, 0);
        index_ = 0;
        state_ = State::CodeLengths;
        break;
      }
      case State::CodeLengths: {
        const unsigned all = literals_ + distances_;
        while (index_ < all) {
          Refill();
          unsigned used;
          int symbol = codeLength_.Decode(bits_, bitCount_, used);
          if (symbol == TZAHuffman::kNeedMore) return Run::Starved;
          if (symbol < 0) {
            Damaged("invalid code lengths");
            return Run::Failed;
          }
          if (symbol < 16) {
            lengths_[index_++] = static_cast<std::uint8_t>(symbol);
            consume(used);
            continue;
          }
          static constexpr unsigned kExtra[3] = {2, 3, 7}, kBase[3] = {3, 3, 11};
          unsigned extra = kExtra[symbol - 16];
          if (used + extra > bitCount_) return Run::Starved;
          unsigned repeat = kBase[symbol - 16] + static_cast<unsigned>((bits_ >> used) & ((1u << extra) - 1));
          consume(used + extra);
          if ((symbol == 16 && index_ == 0) || index_ + repeat > all) {
            Damaged("invalid code lengths");
            return Run::Failed;
          }
          std::uint8_t value = symbol == 16 ? lengths_[index_ - 1] : 0;
          std::fill(lengths_ + index_, lengths_ + index_ + repeat, value);
          index_ += repeat;
        }
        if (!StartDynamic()) return Run::Failed;
        break;
      }
      case State::Codes:
      case State::Distance: {
        Run run = DecodeCodes();
        if (run != Run::Done) return run;
        break;
      }
    }
  }
}

TZADeflate64Codec::Run TZADeflate64Codec::DecodeCodes() {
  std::uint8_t* const buffer = buffer_.get();
  constexpr std::size_t kLimit = kWindow + kSpan - kMaxMatch;
  for (;;) {
    unsigned used;
    if (state_ == State::Codes) {
      if (pos_ > kLimit) return Run::Full;
      Refill();
      int symbol = lit_->Decode(bits_, bitCount_, used);
      if (symbol < 256) {
        if (symbol == TZAHuffman::kNeedMore) return Run::Starved;
        if (symbol < 0) return Damaged("invalid literal or length code"), Run::Failed;
        buffer[pos_++] = static_cast<std::uint8_t>(symbol);
        ++total_;
        bits_ >>= used;
        bitCount_ -= used;
        continue;
      }
      if (symbol == 256) {
        bits_ >>= used;
        bitCount_ -= used;
        state_ = last_ ? State::Done : State::Header;
        return Run::Done;
      }
      unsigned index = static_cast<unsigned>(symbol) - 257;
      if (index >= 29) return Damaged("invalid literal or length code"), Run::Failed;
      unsigned extra = kLengthExtra[index];
      if (used + extra > bitCount_) return Run::Starved;
      length_ = kLengthBase[index] + static_cast<unsigned>((bits_ >> used) & ((1u << extra) - 1));
      bits_ >>= used + extra;
      bitCount_ -= used + extra;
      state_ = State::Distance;
    }
    Refill();
    int symbol = dist_->Decode(bits_, bitCount_, used);
    if (symbol == TZAHuffman::kNeedMore) return Run::Starved;
    if (symbol < 0) return Damaged("invalid distance code"), Run::Failed;
    unsigned extra = kDistanceExtra[symbol];
    if (used + extra > bitCount_) return Run::Starved;
    std::uint32_t distance = kDistanceBase[symbol] + static_cast<std::uint32_t>((bits_ >> used) & ((1u << extra) - 1));
    bits_ >>= used + extra;
    bitCount_ -= used + extra;
    if (distance > total_) return Damaged("distance too far back"), Run::Failed;
    std::uint8_t* to = buffer + pos_;
    const std::uint8_t* from = to - distance;
    if (distance >= 8) {
      // Eight at a time, running at most seven bytes past the end, into
      // the slack or what the next symbols write anyway.
      std::uint8_t* end = to + length_;
      do {
        std::memcpy(to, from, 8);
        to += 8;
        from += 8;
      } while (to < end);
    } else if (distance == 1) {
      std::memset(to, *from, length_);
    } else {
      for (unsigned i = 0; i < length_; ++i) to[i] = from[i];
    }
    pos_ += length_;
    total_ += length_;
    state_ = State::Codes;
  }
}

bool TZADeflate64Codec::Feed(std::uint8_t* data, std::size_t size, TZACodecOutput& out) {
  in_ = data;
  inEnd_ = data + size;
  for (;;) {
    // What follows the end of the stream is not looked at, as zlib does not.
    if (state_ == State::Done) return true;
    if (out.Report()) return true;
    Run run = Decode();
    if (run == Run::Failed) return false;
    std::size_t piece = pos_ - handed_;
    if (piece > out.Room()) return false;
    if (piece) {
      if (!out.Write(buffer_.get() + handed_, piece)) return true;
      out.Count(buffer_.get() + handed_, piece);
    }
    handed_ = pos_;
    if (run != Run::Full) return true;
    // The last 64 KiB stay for matches that reach back into them.
    std::memmove(buffer_.get(), buffer_.get() + pos_ - kWindow, kWindow);
    pos_ = handed_ = kWindow;
  }
}

}  // namespace za
