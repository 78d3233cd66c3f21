#include "block_writer.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "deflate_tables.h"
#include "huffman.h"

namespace za {

namespace {

using deflate::kTables;

constexpr std::size_t kStoredMost = 65535;
constexpr std::uint8_t kUnseenCost = 12;
// Symbols into a block at which the costs are first taken from its counts.
constexpr std::size_t kFirstCosts = 128;
// The order in which the code-length code's lengths are sent.
constexpr std::array<std::uint8_t, 19> kLengthOrder = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct FixedCodes {
  std::array<std::uint8_t, 288> litLengths{};
  std::array<std::uint16_t, 288> litCodes{};
  std::array<std::uint8_t, 30> distLengths{};
  std::array<std::uint16_t, 30> distCodes{};
  FixedCodes() {
    for (unsigned s = 0; s < 288; ++s) litLengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    distLengths.fill(5);
    ZAHuffmanCodes(litLengths.data(), 288, litCodes.data());
    ZAHuffmanCodes(distLengths.data(), 30, distCodes.data());
  }
};

const FixedCodes& Fixed() {
  static const FixedCodes fixed;
  return fixed;
}

constexpr std::array<std::uint8_t, 19> kRunExtra = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

}  // namespace

// One tree's lengths as the code-length code's symbols: 16 repeats the
// last length 3 to 6 times, 17 and 18 give runs of zeros.
struct TZALengthRuns {
  std::size_t litCount = 0, distCount = 0;  // lengths sent of each tree
  std::array<std::uint8_t, 316> symbol;
  std::array<std::uint8_t, 316> extra;
  std::size_t count = 0;
  void Add(const std::uint8_t* lengths, std::size_t n) {
    for (std::size_t i = 0; i < n;) {
      const std::uint8_t v = lengths[i];
      std::size_t run = 1;
      while (i + run < n && lengths[i + run] == v) ++run;
      i += run;
      if (v == 0) {
        for (; run >= 11; run -= std::min<std::size_t>(run, 138)) Put(18, static_cast<std::uint8_t>(std::min<std::size_t>(run, 138) - 11));
        if (run >= 3) {
          Put(17, static_cast<std::uint8_t>(run - 3));
          run = 0;
        }
      } else {
        Put(v, 0);
        --run;
        for (; run >= 3; run -= std::min<std::size_t>(run, 6)) Put(16, static_cast<std::uint8_t>(std::min<std::size_t>(run, 6) - 3));
      }
      for (; run > 0; --run) Put(v, 0);
    }
  }
  void Put(std::uint8_t s, std::uint8_t e) {
    symbol[count] = s;
    extra[count++] = e;
  }
};


std::size_t TZADeflateBlocks::Bound(std::size_t size) {
  // Every block stored at the worst, a chunk's bytes at least but the
  // last: 5 bytes of header a stored piece, a piece per block at least.
  const std::size_t blocks = size / kStoredMost + size / kChunk + 2;
  return size + 5 * blocks + 8;
}

void TZADeflateBlocks::Start(const std::uint8_t* data, TZABitWriter* bits) {
  data_ = data;
  bits_ = bits;
  blockStart_ = chunkStart_ = at_ = storedStart_ = 0;
  count_ = chunkFirst_ = 0;
  nextCheck_ = kFirstCosts;
  blockBits_ = 0;
  litFreq_.fill(0);
  distFreq_.fill(0);
  chunkLit_.fill(0);
  chunkDist_.fill(0);
  const FixedCodes& fixed = Fixed();
  std::copy_n(fixed.litLengths.begin(), 286, litCost_.begin());
  for (unsigned c = 0; c < 30; ++c) distCost_[c] = static_cast<std::uint8_t>(fixed.distLengths[c] + kTables.distExtra[c]);
}

void TZADeflateBlocks::Match(unsigned length, unsigned distance) {
  symbols_[count_++] = (256 + length - 3) | (distance << 9);
  ++chunkLit_[257 + kTables.lengthCode[length - 3]];
  ++chunkDist_[kTables.DistCode(distance)];
  at_ += length;
  if (count_ == nextCheck_) Checkpoint();
}

void TZADeflateBlocks::Checkpoint() {
  if (count_ - chunkFirst_ < kChunk) {
    // Early in a block the counts change most: the costs are taken anew
    // at every doubling.
    UpdateCosts();
    nextCheck_ = std::min(count_ * 2, chunkFirst_ + kChunk);
    return;
  }
  if (SplitWorth()) Write(chunkFirst_, chunkStart_, false);
  MergeChunk();
  UpdateCosts();
  if (count_ + kChunk > kBlockSymbols) {
    Write(count_, at_, false);
    blockBits_ = 0;
  }
  nextCheck_ = count_ < kFirstCosts ? kFirstCosts : count_ < kChunk ? std::min(count_ * 2, kChunk) : count_ + kChunk;
}

void TZADeflateBlocks::Finish() {
  if (count_ > chunkFirst_ && SplitWorth()) Write(chunkFirst_, chunkStart_, false);
  MergeChunk();
  Write(count_, at_, true);
}

void TZADeflateBlocks::MergeChunk() {
  for (unsigned s = 0; s < 286; ++s) litFreq_[s] += chunkLit_[s];
  for (unsigned c = 0; c < 30; ++c) distFreq_[c] += chunkDist_[c];
  chunkLit_.fill(0);
  chunkDist_.fill(0);
  chunkFirst_ = count_;
  chunkStart_ = at_;
}

namespace {

// About the bits a code built from `freq` spends on them: their entropy.
template <std::size_t N>
double EntropyBits(const std::array<std::uint32_t, N>& freq, const std::array<std::uint32_t, N>* more = nullptr) {
  double total = 0, sum = 0;
  for (std::size_t s = 0; s < N; ++s) {
    if (const std::uint32_t f = freq[s] + (more ? (*more)[s] : 0)) {
      total += f;
      sum += f * std::log2(static_cast<double>(f));
    }
  }
  return total > 0 ? total * std::log2(total) - sum : 0;
}

// What a block's own codes cost beyond the symbols' entropy: the header,
// and codes of whole bits.
constexpr double kOwnCodesBits = 600;

}  // namespace

bool TZADeflateBlocks::SplitWorth() {
  // The block's own bits were the last check's, with its chunk or alone.
  const double chunk = EntropyBits(chunkLit_) + EntropyBits(chunkDist_);
  const double together = EntropyBits(litFreq_, &chunkLit_) + EntropyBits(distFreq_, &chunkDist_);
  const bool split = chunkFirst_ > 0 && blockBits_ + chunk + kOwnCodesBits < together;
  blockBits_ = split ? chunk : together;
  return split;
}

void TZADeflateBlocks::UpdateCosts() {
  std::array<std::uint32_t, 286> lit;
  std::array<std::uint32_t, 30> dist;
  std::uint64_t litTotal = 1, distTotal = 1;
  for (unsigned s = 0; s < 286; ++s) litTotal += lit[s] = litFreq_[s] + chunkLit_[s];
  for (unsigned c = 0; c < 30; ++c) distTotal += dist[c] = distFreq_[c] + chunkDist_[c];
  // A code's length is about the log of its share, rounded (the bits of
  // the share over the square root of two); one not seen yet would come
  // about as long as the rarest.
  auto cost = [](std::uint64_t total, std::uint32_t f) {
    return static_cast<std::uint8_t>(
        f ? std::clamp<int>(std::bit_width(total * 181 / (std::uint64_t{f} * 256)), 1, 15) : kUnseenCost);
  };
  for (unsigned s = 0; s < 286; ++s) litCost_[s] = cost(litTotal, lit[s]);
  for (unsigned c = 0; c < 30; ++c) distCost_[c] = static_cast<std::uint8_t>(cost(distTotal, dist[c]) + kTables.distExtra[c]);
}

void TZADeflateBlocks::Write(std::size_t count, std::size_t end, bool last) {
  litFreq_[256] = 1;
  std::array<std::uint8_t, 286> litLengths;
  std::array<std::uint8_t, 30> distLengths;
  ZAHuffmanLengths(litFreq_.data(), 286, 15, litLengths.data());
  ZAHuffmanLengths(distFreq_.data(), 30, 15, distLengths.data());

  std::uint64_t extraBits = 0, dynamicBits = 0, fixedBits = 0;
  const FixedCodes& fixed = Fixed();
  for (unsigned s = 0; s < 286; ++s) {
    dynamicBits += static_cast<std::uint64_t>(litFreq_[s]) * litLengths[s];
    fixedBits += static_cast<std::uint64_t>(litFreq_[s]) * fixed.litLengths[s];
    if (s >= 257) extraBits += static_cast<std::uint64_t>(litFreq_[s]) * kTables.lengthExtra[s - 257];
  }
  for (unsigned c = 0; c < 30; ++c) {
    dynamicBits += static_cast<std::uint64_t>(distFreq_[c]) * distLengths[c];
    fixedBits += static_cast<std::uint64_t>(distFreq_[c]) * 5;
    extraBits += static_cast<std::uint64_t>(distFreq_[c]) * kTables.distExtra[c];
  }

  // The dynamic header: the trees' lengths, trailing zeros cut, as runs.
  std::size_t litCount = 286, distCount = 30;
  while (litCount > 257 && litLengths[litCount - 1] == 0) --litCount;
  while (distCount > 1 && distLengths[distCount - 1] == 0) --distCount;
  TZALengthRuns runs;
  runs.litCount = litCount;
  runs.distCount = distCount;
  runs.Add(litLengths.data(), litCount);
  runs.Add(distLengths.data(), distCount);
  std::array<std::uint32_t, 19> runFreq{};
  for (std::size_t i = 0; i < runs.count; ++i) ++runFreq[runs.symbol[i]];
  std::array<std::uint8_t, 19> runLengths;
  ZAHuffmanLengths(runFreq.data(), 19, 7, runLengths.data());
  std::size_t runCodes = 19;
  while (runCodes > 4 && runLengths[kLengthOrder[runCodes - 1]] == 0) --runCodes;
  std::uint64_t headerBits = 5 + 5 + 4 + 3 * runCodes;
  for (unsigned s = 0; s < 19; ++s) headerBits += static_cast<std::uint64_t>(runFreq[s]) * (runLengths[s] + kRunExtra[s]);

  const std::uint64_t dynamicTotal = 3 + headerBits + dynamicBits + extraBits;
  const std::uint64_t fixedTotal = 3 + fixedBits + extraBits;
  // Stored, the block joins those held back: it costs its bytes, and the
  // headers of the pieces it adds.
  auto pieces = [](std::size_t n) { return n / kStoredMost + (n % kStoredMost != 0 || n == 0); };
  const std::size_t held = blockStart_ - storedStart_;
  const std::size_t size = end - blockStart_;
  std::uint64_t storedTotal = 8 * static_cast<std::uint64_t>(size) + (pieces(held + size) - (held ? pieces(held) : 0)) * 40;
  // A first piece's three header bits are padded to a byte from where
  // the bits stand.
  if (!held) storedTotal = storedTotal - 8 + 3 + (8 - (bits_->BitCount() + 3) % 8) % 8;

  if (storedTotal <= dynamicTotal && storedTotal <= fixedTotal) {
    if (last) WriteStored(storedStart_, end, true);
  } else {
    if (held) WriteStored(storedStart_, blockStart_, false);
    WriteCoded(count, last, fixedTotal <= dynamicTotal, litLengths, distLengths, runs, runLengths, runCodes);
    storedStart_ = end;
  }
  blockStart_ = end;
  litFreq_.fill(0);
  distFreq_.fill(0);
  // The symbols after the block's move to the front.
  std::copy(symbols_.begin() + static_cast<std::ptrdiff_t>(count), symbols_.begin() + static_cast<std::ptrdiff_t>(count_),
            symbols_.begin());
  count_ -= count;
  chunkFirst_ -= std::min(chunkFirst_, count);
}

void TZADeflateBlocks::WriteCoded(std::size_t count, bool last, bool useFixed, const std::array<std::uint8_t, 286>& litLengths,
                                  const std::array<std::uint8_t, 30>& distLengths, const TZALengthRuns& runs,
                                  const std::array<std::uint8_t, 19>& runLengths, std::size_t runCodes) {
  const FixedCodes& fixed = Fixed();
  if (useFixed) {
    bits_->Put(last ? 3 : 2, 3);
    WriteSymbols(count, fixed.litCodes.data(), fixed.litLengths.data(), fixed.distCodes.data(), fixed.distLengths.data());
  } else {
    bits_->Put(last ? 5 : 4, 3);
    bits_->Put(static_cast<std::uint32_t>(runs.litCount - 257), 5);
    bits_->Put(static_cast<std::uint32_t>(runs.distCount - 1), 5);
    bits_->Put(static_cast<std::uint32_t>(runCodes - 4), 4);
    for (std::size_t i = 0; i < runCodes; ++i) bits_->Put(runLengths[kLengthOrder[i]], 3);
    std::array<std::uint16_t, 19> runCodesOf;
    ZAHuffmanCodes(runLengths.data(), 19, runCodesOf.data());
    for (std::size_t i = 0; i < runs.count; ++i) {
      const unsigned s = runs.symbol[i];
      bits_->Put(runCodesOf[s], runLengths[s]);
      if (kRunExtra[s]) bits_->Put(runs.extra[i], kRunExtra[s]);
    }
    std::array<std::uint16_t, 286> litCodes;
    std::array<std::uint16_t, 30> distCodes;
    ZAHuffmanCodes(litLengths.data(), 286, litCodes.data());
    ZAHuffmanCodes(distLengths.data(), 30, distCodes.data());
    WriteSymbols(count, litCodes.data(), litLengths.data(), distCodes.data(), distLengths.data());
  }
}

void TZADeflateBlocks::WriteSymbols(std::size_t count, const std::uint16_t* litCodes, const std::uint8_t* litLengths,
                                    const std::uint16_t* distCodes, const std::uint8_t* distLengths) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t s = symbols_[i];
    if (s < 256) {
      bits_->Put(litCodes[s], litLengths[s]);
      continue;
    }
    const unsigned length = (s & 511) - 256 + 3, distance = s >> 9;
    const unsigned lc = kTables.lengthCode[length - 3];
    // A code of at most 15 bits and at most 5 extra bits: one put.
    bits_->Put(litCodes[257 + lc] | ((length - kTables.lengthBase[lc]) << litLengths[257 + lc]),
               litLengths[257 + lc] + kTables.lengthExtra[lc]);
    const unsigned dc = kTables.DistCode(distance);
    bits_->Put(distCodes[dc] | ((distance - kTables.distBase[dc]) << distLengths[dc]),
               distLengths[dc] + kTables.distExtra[dc]);
  }
  bits_->Put(litCodes[256], litLengths[256]);
}

void TZADeflateBlocks::WriteStored(std::size_t from, std::size_t to, bool last) {
  do {
    const std::size_t n = std::min(kStoredMost, to - from);
    const bool final = last && from + n == to;
    bits_->Put(final ? 1 : 0, 3);
    bits_->Align();
    const std::uint8_t header[4] = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                                    static_cast<std::uint8_t>(~n), static_cast<std::uint8_t>(~n >> 8)};
    bits_->Bytes(header, 4);
    bits_->Bytes(data_ + from, n);
    from += n;
  } while (from < to);
}

}  // namespace za
