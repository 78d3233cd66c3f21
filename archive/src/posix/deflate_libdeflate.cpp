// The faster compressors, for the tools that ask for speed: libdeflate's,
// or our own lazy matcher (deflate/lazy_matcher.h) at the levels where
// it is smaller and faster than both. Each takes its input whole, so the
// encoder holds the source until its end; a source larger than it was
// said to be, or than is worth holding, goes on through zlib instead.
// Which stands for each of zlib's levels was measured by CPU time and size
// on the extraction benchmark's mixed tree, this project's sources and a
// build's binaries: see kLevelFor and kOwnEffort. At every level, data
// whose start does not compress goes through the cheapest compressor
// instead (fastest_deflate.h).
#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "deflate/lazy_matcher.h"
#include "deflate_encoder.h"
#include "fastest_deflate.h"

namespace za {

namespace {

// libdeflate's level for zlib's, 0 where it does not stand for it. CPU
// seconds and bytes, every file of the tree whole (417 MB):
//   zlib        1: 4.7 s 203.4 MB  2: 5.0 s 199.9  3: 5.6 s 193.9  4: 5.2 s 192.8
//               5: 6.0 s 189.6     6: 10.0 s 186.7 7: 20.2 s 185.3 8, 9: 45 s 184.4
//   libdeflate  1: 1.9 s 200.3     2: 2.6 s 196.4  3: 2.8 s 192.9  4: 3.1 s 191.6
//               6: 5.1 s 188.5     7: 10.3 s 186.2 8: 32.0 s 184.0 9: 56 s 183.1
// At 6 only libdeflate's 7 is as small, and it is no faster; at 7 its 7 is
// larger and its 8 slower. From 5 up our own matcher (below) is faster
// and smaller than both.
constexpr std::array<int, 10> kLevelFor = {0, 1, 2, 3, 4, 0, 0, 0, 0, 0};
// Our own matcher's effort for zlib's level where it stands for it (a
// chain of 0: it does not), in the place of either. CPU seconds and
// bytes, one core, every file whole, of the mixed tree's text (a tenth of
// it, 25.7 MB), a build's binaries (7.0 MB) and this project's sources
// (2.0 MB):
//   zlib        5: 0.37 s 4.482 MB  0.19 s 2.625 MB  0.05 s 0.654 MB
//               6: 0.73 s 4.214     0.31 s 2.596     0.06 s 0.652
//               7: 1.68 s 4.085     0.41 s 2.587     0.06 s 0.651
//               8: 3.91 s 4.000     0.82 s 2.576     0.08 s 0.651
//               9: 3.94 s 4.000     2.01 s 2.574     0.08 s 0.651
//   libdeflate  6: 0.37 s 4.379     0.13 s 2.565     0.03 s 0.652
//               8: 3.10 s 3.962     0.37 s 2.542     0.04 s 0.648
//   ours for    5: 0.24 s 4.301     0.13 s 2.572     0.04 s 0.650
//               6: 0.32 s 4.162     0.14 s 2.566     0.04 s 0.650
//               7: 0.49 s 4.075     0.17 s 2.559     0.04 s 0.649
//               8: 0.96 s 3.982     0.23 s 2.555     0.04 s 0.649
//               9: 1.37 s 3.950     0.27 s 2.554     0.04 s 0.649
// On text whose lines come back every 1000 (28 KB), libdeflate's 8 was
// 40% larger than zlib's 9 and ours no larger. At 4 and below libdeflate's
// output is larger than ours but takes less time on binaries and sources.
constexpr std::array<TZAMatchEffort, 10> kOwnEffort = {{
    {}, {}, {}, {}, {},
    {8, 16, 64, 16, 8},
    {8, 16, 128, 32, 16},
    {16, 32, 128, 64, 32},
    {32, 128, 258, 256, 128},
    {32, 128, 258, 1024, 128},
}};
// What the encoder holds at most; larger sources stream through zlib.
constexpr std::uint64_t kLargestHeld = 16u << 20;
// The start of a source that is compressed first to see whether the rest
// is worth a search; random or already compressed data shrinks by less
// than kWorthSearching of it. On that tree's random third, zlib's 6 took
// 2.7 s of CPU and libdeflate's 6 1.6 s to find nothing; ISA-L's level 1
// took 0.1 s.
constexpr std::size_t kSample = 32 * 1024;
constexpr std::size_t kWorthSearching = 16;  // a sixteenth
// A probe of kProbe bytes tells first: text and the like shrink within a
// few KiB, and only a start that does not is tried on the whole sample.
// Past a sample that does not shrink, a probe every kStretch tells
// whether any of the rest might: a file of random data then costs a
// twelfth of a pass through the cheapest compressor rather than a whole
// one, to come out as it went in.
constexpr std::size_t kStretch = 48 * 1024;
constexpr std::size_t kProbe = 4 * 1024;
// The output buffer a thread keeps between sources.
constexpr std::size_t kScratchKept = 1u << 20;

struct FreeCompressor {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// A compressor per thread and level: making one costs more than
// compressing a small file.
libdeflate_compressor* CompressorFor(int level) {
  thread_local std::array<std::unique_ptr<libdeflate_compressor, FreeCompressor>, 13> compressors;
  auto& c = compressors[static_cast<std::size_t>(level)];
  if (!c) c.reset(libdeflate_alloc_compressor(level));
  return c.get();
}

bool Libdeflate(libdeflate_compressor* c, const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
  out.resize(libdeflate_deflate_compress_bound(c, size));
  std::size_t made = libdeflate_deflate_compress(c, data, size, out.data(), out.size());
  out.resize(made);
  return made != 0;  // the bound is room enough: this does not happen
}

bool Cheapest(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
  if (ZAFastestDeflate(data, size, out)) return true;
  libdeflate_compressor* c = CompressorFor(1);
  return c && Libdeflate(c, data, size, out);
}

// A compressor that fails here is left to fail where its output counts.
bool Barely(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& packed) {
  return Cheapest(data, size, packed) && packed.size() > size - size / kWorthSearching;
}

// A small probe first: text and the like show it in their first few KiB,
// and only what does not is tried on the whole sample.
bool StartBarely(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& packed) {
  std::size_t sample = std::min(size, kSample);
  return Barely(data, std::min(sample, kProbe), packed) && (sample <= kProbe || Barely(data, sample, packed));
}

bool NothingLaterShrinks(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> scratch;
  for (std::size_t at = kSample; at < size; at += kStretch)
    if (!Barely(data + at, std::min(kProbe, size - at), scratch)) return false;
  return true;
}

// Deflate's stored blocks: the data as it is, five bytes a block of at
// most 64 KiB, as a compressor writes what it cannot shrink.
void StoredBlocks(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
  constexpr std::size_t kBlock = 65535;
  out.clear();
  out.reserve(size + 5 * (size / kBlock + 1));
  std::size_t at = 0;
  do {
    const std::size_t n = std::min(kBlock, size - at);
    const bool last = at + n == size;
    const std::uint8_t header[5] = {static_cast<std::uint8_t>(last ? 1 : 0), static_cast<std::uint8_t>(n),
                                    static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(~n),
                                    static_cast<std::uint8_t>(~n >> 8)};
    out.insert(out.end(), header, header + 5);
    out.insert(out.end(), data + at, data + at + n);
    at += n;
  } while (at < size);
}

// The faster deflate of every level: the source is held whole (up to
// kLargestHeld) and given to whichever compressor serves the level, or to
// the cheapest one where it barely shrinks; a larger one streams through
// zlib.
class HeldSourceEncoder final : public TZAEncoder {
 public:
  // `c` null and `own` without a chain: zlib at `zlibLevel` for what is
  // worth a search.
  HeldSourceEncoder(int zlibLevel, libdeflate_compressor* c, const TZAMatchEffort& own, std::uint64_t size)
      : zlibLevel_(zlibLevel), size_(size), c_(c), own_(own) {}

  std::uint16_t Method() const override { return 8; }
  std::uint16_t VersionNeeded() const override { return 20; }
  bool Encode(const std::uint8_t* data, std::size_t size, bool end, TZAEncodeSink& sink) override {
    if (zlib_) return zlib_->Encode(data, size, end, sink);
    if (held_.size() + size > kLargestHeld) {
      // Nothing was put yet: zlib takes over from the start.
      zlib_ = ZAZlibDeflateEncoder(zlibLevel_, size_);
      std::vector<std::uint8_t> held = std::move(held_);
      return zlib_->Encode(held.data(), held.size(), false, sink) && zlib_->Encode(data, size, end, sink);
    }
    if (!end) {
      held_.insert(held_.end(), data, data + size);
      return true;
    }
    // The usual case in memory: all of it at once, nothing held.
    const std::uint8_t* whole = data;
    std::size_t wholeSize = size;
    if (!held_.empty()) {
      held_.insert(held_.end(), data, data + size);
      whole = held_.data();
      wholeSize = held_.size();
    }
    bool made = Whole(whole, wholeSize, sink);
    held_ = {};
    return made;
  }

 private:
  bool Whole(const std::uint8_t* data, std::size_t size, TZAEncodeSink& sink) {
    // The output is put before this returns, so a thread's encoders share
    // one buffer: one made for every file of a tree cost the system more
    // time, mapping and clearing its pages, than the compressing did. A
    // large source's is let go, not kept for the thread's life.
    thread_local std::vector<std::uint8_t> packed;
    bool made = true;
    if (StartBarely(data, size, packed)) {
      if (size > kSample && NothingLaterShrinks(data, size))
        StoredBlocks(data, size, packed);
      else
        made = Cheapest(data, size, packed);
    } else if (own_.chain) {
      ZADeflateWhole(data, size, own_, packed);
    } else if (c_) {
      made = Libdeflate(c_, data, size, packed);
    } else {
      return ZAZlibDeflateEncoder(zlibLevel_, size)->Encode(data, size, true, sink);
    }
    if (made) sink.Put(packed.data(), packed.size());
    if (packed.capacity() > kScratchKept) packed = {};
    return made;
  }

  int zlibLevel_;
  std::uint64_t size_;
  libdeflate_compressor* c_;
  TZAMatchEffort own_;
  std::vector<std::uint8_t> held_;
  std::unique_ptr<TZAEncoder> zlib_;
};

}  // namespace

std::unique_ptr<TZAEncoder> ZAFastDeflateEncoder(int level, std::uint64_t size) {
  if (level < 1 || level > 9 || size > kLargestHeld) return nullptr;
  const TZAMatchEffort& own = kOwnEffort[static_cast<std::size_t>(level)];
  libdeflate_compressor* c = nullptr;
  if (int mapped = kLevelFor[static_cast<std::size_t>(level)];
      !own.chain && mapped != 0 && !(c = CompressorFor(mapped)))
    return nullptr;
  return std::make_unique<HeldSourceEncoder>(level, c, own, size);
}

}  // namespace za
