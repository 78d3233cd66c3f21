#include "lazy_matcher.h"

#include <algorithm>
#include <cstring>

#include "deflate_tables.h"

namespace za {

namespace {

constexpr unsigned kMinMatch = 4;  // through the chains
// A match of three bytes is looked for at the last position with the same
// three alone, and taken only as near as zlib takes one: farther, its
// distance costs about what the three literals would.
constexpr unsigned kShortMatch = 3;
constexpr std::uint32_t kShortReach = 4096;
constexpr unsigned kShortHashBits = 14;
constexpr unsigned kMaxMatch = 258;
constexpr std::size_t kWindowMask = TZALazyMatcher::kWindow - 1;
// Positions are kept one window up, so that an empty slot (zero) is
// always out of reach and needs no test of its own.
constexpr std::uint32_t kOffset = TZALazyMatcher::kWindow;

std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

std::uint32_t Hash4(const std::uint8_t* p) {
  return (Load32(p) * 0x9E3779B1u) >> (32 - TZALazyMatcher::kHashBits);
}

std::uint32_t Hash3(const std::uint8_t* p) {
  return ((Load32(p) & 0xFFFFFF) * 0x9E3779B1u) >> (32 - kShortHashBits);
}

std::uint32_t Hash8(const std::uint8_t* p) {
  return static_cast<std::uint32_t>((Load64(p) * 0x9E3779B97F4A7C15ull) >> (64 - TZALazyMatcher::kHashBits));
}

// The length of the common start of `a` and `b`, at most `most`, eight
// bytes at a time.
unsigned CommonLength(const std::uint8_t* a, const std::uint8_t* b, unsigned most) {
  unsigned n = 0;
  while (n + 8 <= most) {
    const std::uint64_t x = Load64(a + n) ^ Load64(b + n);
    if (x) return n + static_cast<unsigned>(__builtin_ctzll(x)) / 8;
    n += 8;
  }
  while (n < most && a[n] == b[n]) ++n;
  return n;
}

}  // namespace

TZALazyMatcher::TZALazyMatcher() {
  head3_.reset(new std::uint32_t[std::size_t{1} << kShortHashBits]);
  for (int k = 0; k < 2; ++k) {
    head_[k].reset(new std::uint32_t[std::size_t{1} << kHashBits]);
    prev_[k].reset(new std::uint32_t[kWindow]);
  }
}

void TZALazyMatcher::Parse(const std::uint8_t* data, std::size_t size, const TZAMatchEffort& effort,
                           TZADeflateBlocks& blocks) {
  for (auto& head : head_) std::fill_n(head.get(), std::size_t{1} << kHashBits, 0);
  std::fill_n(head3_.get(), std::size_t{1} << kShortHashBits, 0);
  std::uint32_t* const head3 = head3_.get();
  std::uint32_t* const head4 = head_[0].get();
  std::uint32_t* const prev4 = prev_[0].get();
  std::uint32_t* const head8 = head_[1].get();
  std::uint32_t* const prev8 = prev_[1].get();
  // Positions from which a match can start (four bytes left to hash), and
  // those with eight.
  const std::size_t hashable = size >= kMinMatch ? size - kMinMatch + 1 : 0;
  const std::size_t hashable8 = size >= 8 ? size - 7 : 0;
  unsigned lastDistance = 0;  // of the last match taken
  // Puts `at` at the heads of its chains; the earlier heads are the
  // first candidates.
  struct Heads {
    std::uint32_t three, four, eight;
  };
  auto insert = [&](std::size_t at) -> Heads {
    const std::uint32_t here = static_cast<std::uint32_t>(at) + kOffset;
    std::uint32_t& slot3 = head3[Hash3(data + at)];
    std::uint32_t& slot4 = head4[Hash4(data + at)];
    Heads before{slot3, slot4, 0};
    slot3 = here;
    prev4[at & kWindowMask] = slot4;
    slot4 = here;
    if (at < hashable8) {
      std::uint32_t& slot8 = head8[Hash8(data + at)];
      before.eight = slot8;
      prev8[at & kWindowMask] = slot8;
      slot8 = here;
    }
    return before;
  };
  // The longest match at `at` longer than `best`, 0 where none is.
  auto longest = [&](std::size_t at, Heads candidates, unsigned best, unsigned& distance) -> unsigned {
    const unsigned most = static_cast<unsigned>(std::min<std::size_t>(kMaxMatch, size - at));
    if (best >= most) return 0;
    const unsigned nice = std::min(effort.nice, most);
    const bool good = best >= effort.good;
    const std::uint8_t* const scan = data + at;
    const std::uint32_t here = static_cast<std::uint32_t>(at) + kOffset;
    unsigned found = 0;
    const bool shortWorth = best < kShortMatch;
    if (best < kMinMatch - 1) best = kMinMatch - 1;
    // True where the search may end.
    auto consider = [&](std::uint32_t candidate) {
      const std::uint8_t* const match = data + (candidate - kOffset);
      // A longer match must agree at its last bytes and at its first four.
      if (Load32(match + best - 3) == Load32(scan + best - 3) && Load32(match) == Load32(scan)) {
        const unsigned length = CommonLength(match, scan, most);
        if (length > best) {
          best = found = length;
          distance = here - candidate;
          return length >= nice;
        }
      }
      return false;
    };
    auto walk = [&](std::uint32_t candidate, const std::uint32_t* prev, unsigned chain) {
      for (; candidate + kWindow > here && chain-- > 0; candidate = prev[(candidate - kOffset) & kWindowMask])
        if (consider(candidate)) return true;
      return false;
    };
    if (at < hashable8 && walk(candidates.eight, prev8, good ? effort.chain >> 2 : effort.chain)) return found;
    // Nothing of eight bytes or more: the shorter kin may have four.
    if (best < 8 && walk(candidates.four, prev4, good ? effort.shortChain >> 2 : effort.shortChain)) return found;
    // Data of records repeats at the distance it last did: rows of a
    // table, lines of a log. A chain may not reach back to it past the
    // many nearer pieces alike, so it is tried last, and taken only where
    // it is longer than what they gave.
    if (lastDistance && lastDistance <= at) consider(here - lastDistance);
    if (!found && shortWorth && candidates.three + kShortReach >= here &&
        (Load32(data + (candidates.three - kOffset)) & 0xFFFFFF) == (Load32(scan) & 0xFFFFFF)) {
      // Taken only where it costs less than its bytes as literals did in
      // the last block: in text they are cheap, in code and binaries not.
      const unsigned d = here - candidates.three;
      const std::uint8_t* lit = blocks.LiteralCost();
      if (lit[257] + blocks.DistanceCost()[deflate::kTables.DistCode(d)] < lit[scan[0]] + lit[scan[1]] + lit[scan[2]]) {
        distance = d;
        found = kShortMatch;
      }
    }
    return found;
  };

  std::size_t at = 0;
  unsigned prevLength = 0, prevDistance = 0;
  bool pending = false;  // the byte before `at` is not yet a symbol
  while (at < size) {
    unsigned length = 0, distance = 0;
    if (at < hashable) {
      const Heads candidates = insert(at);
      if (prevLength < effort.lazy) length = longest(at, candidates, prevLength, distance);
    }
    if (prevLength >= kShortMatch && length <= prevLength) {
      // The match found one byte back stands: its positions go into the
      // chains, the one at `at` already did.
      blocks.Match(prevLength, prevDistance);
      lastDistance = prevDistance;
      const std::size_t end = at - 1 + prevLength;
      for (std::size_t p = at + 1; p < std::min(end, hashable); ++p) insert(p);
      at = end;
      pending = false;
      prevLength = 0;
      continue;
    }
    if (pending) blocks.Literal(data[at - 1]);
    pending = true;
    prevLength = length;
    prevDistance = distance;
    ++at;
  }
  if (pending) blocks.Literal(data[size - 1]);
  blocks.Finish();
}

void ZADeflateWhole(const std::uint8_t* data, std::size_t size, const TZAMatchEffort& effort,
                    std::vector<std::uint8_t>& out) {
  // Made once per thread: the tables and the block's symbols together are
  // larger than many of the files they serve.
  thread_local std::unique_ptr<TZALazyMatcher> matcher;
  thread_local std::unique_ptr<TZADeflateBlocks> blocks;
  if (!matcher) {
    matcher = std::make_unique<TZALazyMatcher>();
    blocks = std::make_unique<TZADeflateBlocks>();
  }
  out.resize(TZADeflateBlocks::Bound(size) + TZABitWriter::kSlack);
  TZABitWriter bits(out.data());
  blocks->Start(data, &bits);
  matcher->Parse(data, size, effort, *blocks);
  bits.Align();
  out.resize(bits.Size());
}

}  // namespace za
