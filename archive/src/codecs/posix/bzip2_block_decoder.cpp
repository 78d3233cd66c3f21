#include "bzip2_block_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "bzip2_blocks.h"

namespace za {

namespace {

constexpr unsigned kLongestCode = 20;  // as libbz2 reads them; its encoder writes 17 at most
constexpr unsigned kGroupSize = 50;    // symbols coded by one table before the next selector
constexpr std::uint32_t kMostSelectors = 18002;
constexpr unsigned kFastBits = 10;
constexpr std::uint32_t kStop = 0x80000000u;  // on a position where one of the walks began
constexpr std::uint32_t kIndex = 0xFFFFF;     // the next position, above the byte

// Bits from a position on, highest first, read past the buffer as zeros:
// a damaged block may ask for more than there is, and is refused at its
// end, where the position is compared with where the block must end.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size, std::uint64_t at) : data_(data), size_(size), at_(at) {}
  std::uint32_t Peek32() const {
    const std::size_t byte = static_cast<std::size_t>(at_ / 8);
    std::uint64_t word = 0;
    if (byte + 8 <= size_) {
      std::memcpy(&word, data_ + byte, 8);
      word = __builtin_bswap64(word);
    } else {
      for (std::size_t i = 0; i < 8; ++i) word = word << 8 | (byte + i < size_ ? data_[byte + i] : 0);
    }
    return static_cast<std::uint32_t>((word << (at_ % 8)) >> 32);
  }
  std::uint32_t Get(unsigned n) {  // 1 to 24 bits
    std::uint32_t v = Peek32() >> (32 - n);
    at_ += n;
    return v;
  }
  void Skip(unsigned n) { at_ += n; }
  std::uint64_t At() const { return at_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::uint64_t at_;
};

// A canonical code, as bzip2's encoder assigns them: shorter codes first,
// and within a length in the order of the symbols.
struct Code {
  std::uint16_t fast[1u << kFastBits];  // symbol << 5 | length for codes of kFastBits or less; 0 for longer
  std::uint32_t first[kLongestCode + 1];
  std::uint16_t count[kLongestCode + 1];
  std::uint16_t offset[kLongestCode + 1];
  std::uint16_t sorted[258];
  unsigned longest;

  // False for a code that is not complete: libbz2 reads such codes in its
  // own way, and is left to judge them.
  bool Build(const std::uint8_t* lengths, unsigned symbols) {
    std::memset(count, 0, sizeof count);
    for (unsigned s = 0; s < symbols; ++s) ++count[lengths[s]];
    std::uint32_t space = 0;
    longest = 0;
    for (unsigned l = 1; l <= kLongestCode; ++l) {
      space += std::uint32_t{count[l]} << (kLongestCode - l);
      if (count[l]) longest = l;
    }
    if (space != 1u << kLongestCode) return false;
    std::uint32_t code = 0;
    std::uint16_t at = 0;
    std::uint32_t next[kLongestCode + 1];
    for (unsigned l = 1; l <= kLongestCode; ++l) {
      first[l] = next[l] = code;
      offset[l] = at;
      at = static_cast<std::uint16_t>(at + count[l]);
      code = (code + count[l]) << 1;
    }
    std::uint16_t place[kLongestCode + 1];
    std::memcpy(place, offset, sizeof place);
    std::memset(fast, 0, sizeof fast);
    for (unsigned s = 0; s < symbols; ++s) {
      const unsigned l = lengths[s];
      sorted[place[l]++] = static_cast<std::uint16_t>(s);
      const std::uint32_t c = next[l]++;
      if (l > kFastBits) continue;
      const std::uint32_t from = c << (kFastBits - l), to = (c + 1) << (kFastBits - l);
      for (std::uint32_t i = from; i < to; ++i) fast[i] = static_cast<std::uint16_t>(s << 5 | l);
    }
    return true;
  }

  unsigned Decode(Reader& in) const {
    const std::uint32_t v = in.Peek32();
    if (std::uint16_t e = fast[v >> (32 - kFastBits)]) {
      in.Skip(e & 31);
      return e >> 5;
    }
    for (unsigned l = kFastBits + 1; l <= longest; ++l) {
      const std::uint32_t c = (v >> (32 - l)) - first[l];
      if (c < count[l]) {
        in.Skip(l);
        return sorted[offset[l] + c];
      }
    }
    return 0;  // a complete code always ends by its longest length
  }
};

const std::array<std::array<std::uint32_t, 256>, 8>& CrcTables() {
  static const auto tables = [] {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
      std::uint32_t c = b << 24;
      for (int k = 0; k < 8; ++k) c = c & 0x80000000u ? c << 1 ^ 0x04C11DB7u : c << 1;
      t[0][b] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
      for (std::uint32_t b = 0; b < 256; ++b) t[k][b] = t[k - 1][b] << 8 ^ t[0][t[k - 1][b] >> 24];
    return t;
  }();
  return tables;
}

// Takes the byte at `j` of the move-to-front list to its front. Nearly
// every symbol moves one of the first few bytes: shifting them inside two
// words costs a fraction of a call to memmove per symbol.
std::uint8_t MoveToFront(std::uint8_t* mtf, unsigned j) {
  const std::uint8_t v = mtf[j];
  if constexpr (std::endian::native == std::endian::little) {
    if (j < 16) {
      std::uint64_t low, high;
      std::memcpy(&low, mtf, 8);
      std::memcpy(&high, mtf + 8, 8);
      // The bytes up to j go up one place; those past it stay.
      auto upTo = [](unsigned k) { return k >= 7 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * k + 8)) - 1; };
      const std::uint64_t shifted = low << 8 | v;
      if (j < 8) {
        const std::uint64_t m = upTo(j);
        low = (shifted & m) | (low & ~m);
      } else {
        const std::uint64_t m = upTo(j - 8), carried = high << 8 | low >> 56;
        high = (carried & m) | (high & ~m);
        low = shifted;
        std::memcpy(mtf + 8, &high, 8);
      }
      std::memcpy(mtf, &low, 8);
      return v;
    }
  }
  std::memmove(mtf + 1, mtf, j);
  mtf[0] = v;
  return v;
}

std::uint32_t Be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// Where the first four equal bytes in a row begin in `w`, from `from` on
// (`n` where none do). Text has few such runs: eight bytes are looked at
// at once, each against the one after it.
std::uint32_t RunOfFour(const std::uint8_t* w, std::uint32_t from, std::uint32_t n) {
  std::uint32_t p = from;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    for (; p + 8 <= n; p += 5) {
      std::uint64_t x;
      std::memcpy(&x, w + p, 8);
      const std::uint64_t d = x ^ (x >> 8);  // byte k zero: bytes k and k + 1 are equal
      const std::uint64_t zero = ~(((d & kLow7) + kLow7) | d | kLow7);
      // Three equal pairs in a row begin at one of the first five bytes.
      const std::uint64_t four = zero & (zero >> 8) & (zero >> 16) & 0x8080808080ull;
      if (four) return p + static_cast<std::uint32_t>(std::countr_zero(four) >> 3);
    }
  }
  for (; p + 3 < n; ++p)
    if (w[p] == w[p + 1] && w[p] == w[p + 2] && w[p] == w[p + 3]) return p;
  return n;
}

// Rounds of `live` walks in step from `at`, a byte each into a row of
// `out`, until a round meets a position marked as a stop (not taken: it
// is left for the caller) or `most` rounds are done. Returns the rounds
// taken. The width is fixed here so that the walks' places stay in
// registers and their loads are issued together.
template <unsigned live>
std::uint32_t Rounds(const std::uint32_t* tt, std::uint32_t* at, std::uint8_t* out, std::uint32_t most) {
  std::uint32_t a[live];
  for (unsigned q = 0; q < live; ++q) a[q] = at[q];
  std::uint32_t r = 0;
  for (; r < most; ++r, out += live) {
    std::uint32_t e[live], any = 0;
    for (unsigned q = 0; q < live; ++q) e[q] = tt[a[q]];
    for (unsigned q = 0; q < live; ++q) any |= e[q];
    if (any & kStop) break;
    for (unsigned q = 0; q < live; ++q) {
      out[q] = static_cast<std::uint8_t>(e[q]);
      a[q] = (e[q] >> 8) & kIndex;
    }
  }
  for (unsigned q = 0; q < live; ++q) at[q] = a[q];
  return r;
}

}  // namespace

template <typename T>
T* TZABZip2BlockDecoder::Buffer<T>::Reserve(std::size_t need, std::size_t keep, std::size_t most) {
  if (need > size) {
    std::size_t grown = std::max(need, std::min(std::max<std::size_t>(size * 2, 1u << 16), most));
    std::unique_ptr<T[]> larger(new T[grown]);
    if (keep) std::memcpy(larger.get(), data.get(), keep * sizeof(T));
    data = std::move(larger);
    size = grown;
  }
  return data.get();
}

std::uint32_t TZABZip2BlockDecoder::Crc(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
  const auto& t = CrcTables();
  for (; size >= 8; data += 8, size -= 8) {
    const std::uint32_t a = crc ^ Be32(data), b = Be32(data + 4);
    crc = t[7][a >> 24] ^ t[6][a >> 16 & 0xFF] ^ t[5][a >> 8 & 0xFF] ^ t[4][a & 0xFF] ^ t[3][b >> 24] ^
          t[2][b >> 16 & 0xFF] ^ t[1][b >> 8 & 0xFF] ^ t[0][b & 0xFF];
  }
  for (; size; ++data, --size) crc = crc << 8 ^ t[0][(crc >> 24) ^ *data];
  return crc;
}

bool TZABZip2BlockDecoder::Decode(const TZABZip2Bits& bits, std::uint64_t begin, std::uint64_t end,
                                  std::uint8_t level, std::uint64_t room) {
  made_ = 0;
  if (level < '1' || level > '9' || end < begin + 48 + 32 + 1 + 24 || end > bits.Count()) return false;
  const std::uint32_t maxBlock = 100000u * static_cast<std::uint32_t>(level - '0');
  Reader in(bits.Data(), bits.Size(), begin + 48);
  const std::uint32_t crcHigh = in.Get(16);
  const std::uint32_t crc = crcHigh << 16 | in.Get(16);
  if (in.Get(1)) return false;  // randomised: a form no encoder has written for decades
  const std::uint32_t origPtr = in.Get(24);
  std::uint64_t at = in.At();
  if (!Codes(bits, at, end, maxBlock) || at != end || origPtr >= count_) return false;
  if (!Walk(origPtr) || !Unrun(room)) return false;
  return Crc(0xFFFFFFFFu, out_.data.get(), made_) == ~crc;
}

bool TZABZip2BlockDecoder::Codes(const TZABZip2Bits& bits, std::uint64_t& at, std::uint64_t end,
                                 std::uint32_t maxBlock) {
  Reader in(bits.Data(), bits.Size(), at);
  std::uint8_t seqToUnseq[256];
  unsigned inUse = 0;
  const std::uint32_t inUse16 = in.Get(16);
  for (unsigned i = 0; i < 16; ++i) {
    if (!(inUse16 & 0x8000u >> i)) continue;
    const std::uint32_t used = in.Get(16);
    for (unsigned j = 0; j < 16; ++j)
      if (used & 0x8000u >> j) seqToUnseq[inUse++] = static_cast<std::uint8_t>(i * 16 + j);
  }
  if (inUse == 0) return false;
  const unsigned symbols = inUse + 2;  // RUNA, RUNB, the moves 1 to inUse - 1, the end of the block
  const unsigned groups = in.Get(3);
  const std::uint32_t selectors = in.Get(15);
  if (groups < 2 || groups > 6 || selectors < 1 || selectors > kMostSelectors) return false;
  std::uint8_t selector[kMostSelectors];
  std::uint8_t order[6] = {0, 1, 2, 3, 4, 5};
  for (std::uint32_t s = 0; s < selectors; ++s) {
    unsigned j = 0;
    while (in.Get(1))
      if (++j >= groups) return false;
    const std::uint8_t g = order[j];
    std::memmove(order + 1, order, j);
    order[0] = g;
    selector[s] = g;
  }
  if (in.At() > end) return false;
  Code codes[6];
  for (unsigned t = 0; t < groups; ++t) {
    std::uint8_t lengths[258];
    unsigned length = in.Get(5);
    for (unsigned s = 0; s < symbols; ++s) {
      for (;;) {
        if (length < 1 || length > kLongestCode || in.At() > end) return false;
        if (!in.Get(1)) break;
        length = in.Get(1) ? length - 1 : length + 1;
      }
      lengths[s] = static_cast<std::uint8_t>(length);
    }
    if (!codes[t].Build(lengths, symbols)) return false;
  }

  std::uint8_t mtf[256];
  for (unsigned i = 0; i < 256; ++i) mtf[i] = static_cast<std::uint8_t>(i);
  std::memset(bytes_, 0, sizeof bytes_);
  std::uint32_t* tt = tt_.data.get();
  std::uint32_t n = 0, run = 0;
  unsigned runBit = 0, left = 0;
  std::uint32_t group = 0;
  const Code* code = nullptr;
  const unsigned endOfBlock = inUse + 1;
  for (;;) {
    if (left == 0) {
      if (group >= selectors || in.At() > end) return false;
      code = &codes[selector[group++]];
      left = kGroupSize;
    }
    --left;
    const unsigned sym = code->Decode(in);
    if (sym <= 1) {
      // A run of the byte in front: RUNA and RUNB are the digits 1 and 2
      // of its length, lowest first.
      if (runBit >= 21) return false;
      run += (sym + 1) << runBit++;
      continue;
    }
    if (runBit) {
      if (run > maxBlock - n) return false;
      if (n + run > tt_.size) tt = tt_.Reserve(n + run, n, maxBlock);
      const std::uint8_t b = seqToUnseq[mtf[0]];
      bytes_[b] += run;
      for (std::uint32_t i = 0; i < run; ++i) tt[n + i] = b;
      n += run;
      run = 0;
      runBit = 0;
    }
    if (sym == endOfBlock) break;
    if (sym > endOfBlock || n >= maxBlock) return false;
    if (n >= tt_.size) tt = tt_.Reserve(n + 1, n, maxBlock);
    const std::uint8_t v = MoveToFront(mtf, sym - 1);
    const std::uint8_t b = seqToUnseq[v];
    ++bytes_[b];
    tt[n++] = b;
  }
  count_ = n;
  at = in.At();
  return true;
}

bool TZABZip2BlockDecoder::Walk(std::uint32_t origPtr) {
  std::uint32_t* tt = tt_.data.get();
  const std::uint32_t n = count_;
  std::uint32_t from[256], sum = 0;
  for (unsigned b = 0; b < 256; ++b) {
    from[b] = sum;
    sum += bytes_[b];
  }
  for (std::uint32_t i = 0; i < n; ++i) tt[from[tt[i] & 0xFF]++] |= i << 8;

  // The walk from the block's first byte, and others from places spread
  // over the table, each until it reaches a place where another began.
  // Put together in the order they meet, they are the one walk; a table
  // that is not one cycle (a damaged block) shows as stretches that do not
  // join up, or as a walk that goes on past the block's length.
  //
  // Up to kWalks walks go at once, in rounds of a step each into one row,
  // so that the loads of a round overlap and the walks' places stay in
  // registers; a walk that ends hands its column to a stretch not yet
  // begun. There are several times as many stretches as columns: how long
  // each is shows only at its end, and what is left once the stretches run
  // out goes with fewer columns, so the shorter they are, the less of the
  // block is walked alone. Rows keep their width and columns their walks
  // until a walk ends (a segment). Every step writes a byte and the walks
  // stop once the steps pass the block's length: the rows hold a block
  // and one round more.
  struct Stretch {
    std::uint32_t start, stop, length;
  };
  struct Segment {
    std::size_t at;  // of the rows
    std::uint32_t rows;
    unsigned width;
    std::uint8_t column[kStretches];  // of each stretch, kStretches where it has none
  };
  Stretch walks[kStretches];
  unsigned count = 0;
  const std::uint32_t first = (tt[origPtr] >> 8) & kIndex;
  walks[count++] = {first, 0, 0};
  if (n >= 64 * 1024) {
    for (unsigned k = 1; k < kStretches; ++k) {
      const std::uint32_t s = static_cast<std::uint32_t>(std::uint64_t{n} * k / kStretches);
      if (s != first) walks[count++] = {s, 0, 0};
    }
  }
  for (unsigned k = 0; k < count; ++k) tt[walks[k].start] |= kStop;
  std::uint8_t* rows = rows_.Reserve(std::size_t{n} + kWalks, 0, std::size_t{n} + kWalks);
  // A segment begins with the walks and at every round that ends one.
  Segment segments[kStretches + 1];
  unsigned segmentCount = 0;
  std::uint32_t at[kWalks];
  unsigned id[kWalks], live = 0, begun = 0;
  std::size_t filled = 0;
  std::uint64_t steps = 0;
  // A stretch's first step is onto its own start, a stop it does not heed.
  auto begin = [&](unsigned q) -> std::uint32_t {
    id[q] = begun;
    const std::uint32_t e = tt[walks[begun++].start];
    at[q] = (e >> 8) & kIndex;
    return e;
  };
  // The row of `e` opens a segment of the walks now going.
  auto open = [&](const std::uint32_t* e) {
    Segment& s = segments[segmentCount++];
    s.at = filled;
    s.rows = 1;
    s.width = live;
    std::fill(std::begin(s.column), std::end(s.column), static_cast<std::uint8_t>(kStretches));
    for (unsigned q = 0; q < live; ++q) {
      s.column[id[q]] = static_cast<std::uint8_t>(q);
      rows[filled++] = static_cast<std::uint8_t>(e[q]);
    }
    steps += live;
  };
  {
    std::uint32_t e[kWalks];
    while (live < kWalks && begun < count) e[live] = begin(live), ++live;
    open(e);
  }
  while (live) {
    if (steps > n) return false;
    // Rounds that cannot pass the block's length before they are checked.
    const std::uint32_t most = static_cast<std::uint32_t>((n - steps) / live + 1);
    std::uint32_t done;
    switch (live) {
      case 1: done = Rounds<1>(tt, at, rows + filled, most); break;
      case 2: done = Rounds<2>(tt, at, rows + filled, most); break;
      case 3: done = Rounds<3>(tt, at, rows + filled, most); break;
      case 4: done = Rounds<4>(tt, at, rows + filled, most); break;
      case 5: done = Rounds<5>(tt, at, rows + filled, most); break;
      case 6: done = Rounds<6>(tt, at, rows + filled, most); break;
      case 7: done = Rounds<7>(tt, at, rows + filled, most); break;
      default: done = Rounds<kWalks>(tt, at, rows + filled, most); break;
    }
    filled += std::size_t{done} * live;
    steps += std::uint64_t{done} * live;
    segments[segmentCount - 1].rows += done;
    if (done == most) return false;  // past the block's length, no stop met
    // The round that met a stop: a walk that met one ends there and its
    // column goes to the next stretch, or away once there is none; the
    // others take their step into the first row of the next segment.
    std::uint32_t e[kWalks];
    for (unsigned q = 0; q < live; ++q) e[q] = tt[at[q]];
    unsigned kept = 0;
    for (unsigned q = 0; q < live; ++q) {
      if (e[q] & kStop) {
        walks[id[q]].stop = at[q];
        if (begun == count) continue;
        e[kept] = begin(kept);
        ++kept;
        continue;
      }
      id[kept] = id[q];
      at[kept] = (e[q] >> 8) & kIndex;
      e[kept++] = e[q];
    }
    live = kept;
    if (live) open(e);
  }
  for (unsigned k = 0; k < count; ++k)
    for (unsigned g = 0; g < segmentCount; ++g)
      if (segments[g].column[k] != kStretches) walks[k].length += segments[g].rows;

  bool used[kStretches] = {};
  std::uint32_t made = 0;
  std::uint8_t* walked = walked_.Reserve(n, 0, n);
  for (unsigned k = 0;;) {
    const Stretch& w = walks[k];
    if (used[k] || w.length > n - made) return false;
    used[k] = true;
    for (unsigned g = 0; g < segmentCount; ++g) {
      const Segment& s = segments[g];
      if (s.column[k] == kStretches) continue;
      const std::uint8_t* p = rows + s.at + s.column[k];
      for (std::uint32_t r = 0; r < s.rows; ++r, p += s.width) walked[made++] = *p;
    }
    if (w.stop == first) break;
    unsigned following = 0;
    while (following < count && walks[following].start != w.stop) ++following;
    if (following == count) return false;
    k = following;
  }
  return made == n;
}

bool TZABZip2BlockDecoder::Unrun(std::uint64_t room) {
  // Four equal bytes in a row are followed by a count of as many more;
  // the bytes between such runs go out as they are, in one copy.
  const std::uint8_t* w = walked_.data.get();
  const std::uint32_t n = count_;
  const std::size_t limit = room < kLargestOutput ? static_cast<std::size_t>(room) : kLargestOutput;
  out_.Reserve(std::min<std::size_t>(n, limit), 0, limit);
  std::size_t made = 0;
  // `size` bytes from `from`, or as many of `c` where it is null.
  auto put = [&](const std::uint8_t* from, std::size_t size, std::uint8_t c) {
    if (size > limit - made) return false;
    if (made + size > out_.size) out_.Reserve(made + size, made, limit);
    if (from) std::memcpy(out_.data.get() + made, from, size);
    else std::memset(out_.data.get() + made, c, size);
    made += size;
    return true;
  };
  for (std::uint32_t start = 0;;) {
    const std::uint32_t run = RunOfFour(w, start, n);
    if (run == n) {
      if (!put(w + start, n - start, 0)) return false;
      break;
    }
    if (!put(w + start, run + 4 - start, 0)) return false;
    if (run + 4 == n) break;
    if (!put(nullptr, w[run + 4], w[run])) return false;
    start = run + 5;
  }
  made_ = made;
  return true;
}

}  // namespace za
