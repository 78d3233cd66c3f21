// Method 12: BZip2 through libbz2.
#include <bzlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "bzip2_block_decoder.h"
#include "bzip2_blocks.h"
#include "library_codec.h"
#include "sys/thread.h"

namespace za {

namespace {

const char* BZip2Error(int code) {
  switch (code) {
    case BZ_DATA_ERROR: return "BZ_DATA_ERROR";
    case BZ_DATA_ERROR_MAGIC: return "BZ_DATA_ERROR_MAGIC: no BZip2 header";
    case BZ_MEM_ERROR: return "BZ_MEM_ERROR";
    case BZ_PARAM_ERROR: return "BZ_PARAM_ERROR";
    case BZ_SEQUENCE_ERROR: return "BZ_SEQUENCE_ERROR";
    default: return "unknown error";
  }
}

class BZip2StreamCodec final : public TZAStreamCodec {
 public:
  ~BZip2StreamCodec() override { End(); }

 protected:
  bool Start(std::uint64_t) override {
    End();
    std::memset(&bz_, 0, sizeof bz_);
    int rc = BZ2_bzDecompressInit(&bz_, 0, 0);
    if (rc != BZ_OK) return Fail(std::string("BZip2 decoder cannot start (") + BZip2Error(rc) + ")");
    open_ = true;
    return true;
  }
  Step Run(const std::uint8_t*& in, std::size_t& left, std::uint8_t* out, std::size_t size,
           std::size_t& have) override {
    // The library's counts are 32 bits wide; the decoder's pieces are less.
    bz_.next_in = const_cast<char*>(reinterpret_cast<const char*>(in));
    bz_.avail_in = static_cast<unsigned>(left);
    bz_.next_out = reinterpret_cast<char*>(out);
    bz_.avail_out = static_cast<unsigned>(size);
    int rc = BZ2_bzDecompress(&bz_);
    have = size - bz_.avail_out;
    in += left - bz_.avail_in;
    left = bz_.avail_in;
    if (rc == BZ_STREAM_END) return Step::End;
    if (rc != BZ_OK) {
      Fail(std::string("BZip2 data is damaged (") + BZip2Error(rc) + ")");
      return Step::Failed;
    }
    return Step::More;
  }

 private:
  void End() {
    if (open_) BZ2_bzDecompressEnd(&bz_);
    open_ = false;
  }
  bz_stream bz_{};
  bool open_ = false;
};

std::string Damaged(int code) { return std::string("BZip2 data is damaged (") + BZip2Error(code) + ")"; }

// Decodes one block at a time into a buffer of its own, on a thread of its
// own, while the entry's decoder is at the block before.
class BlockWorker {
 public:
  BlockWorker() : thread_(std::make_unique<sys::Thread>([this] { Run(); })) {}
  ~BlockWorker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.reset();
  }
  BlockWorker(const BlockWorker&) = delete;
  BlockWorker& operator=(const BlockWorker&) = delete;

  bool Idle() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !held_;
  }
  // The piece [begin, end) of the entry's stream, as its one-block stream;
  // output over `cap` bytes does not pass.
  void Give(std::uint64_t begin, std::uint64_t end, std::vector<std::uint8_t> stream, std::size_t cap) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      begin_ = begin;
      end_ = end;
      stream_ = std::move(stream);
      cap_ = cap;
      output_.clear();
      held_ = true;
      done_ = passed_ = false;
    }
    wake_.notify_all();
  }
  // Waits for the piece it holds. When that is [begin, end) and it passed,
  // its output goes to `output` and true comes back; any other piece is
  // dropped.
  bool Take(std::uint64_t begin, std::uint64_t end, std::vector<std::uint8_t>& output) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!held_) return false;
    finished_.wait(lock, [&] { return done_; });
    held_ = false;
    if (!passed_ || begin != begin_ || end != end_) return false;
    output.swap(output_);
    return true;
  }
  bool Holds(std::uint64_t begin, std::uint64_t end) {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_ && begin == begin_ && end == end_;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return quit_ || (held_ && !done_); });
      if (quit_) return;
      std::uint64_t bits = end_ - begin_;
      lock.unlock();
      if (!buffer_) buffer_.reset(new std::uint8_t[kZACodecPiece]);
      std::vector<std::uint8_t>& output = output_;
      const std::size_t cap = cap_;
      if (mine_.Decode(TZABZip2Bits(stream_.data(), stream_.size()), 32, 32 + bits, stream_[3], cap)) {
        output.assign(mine_.Output(), mine_.Output() + mine_.OutputSize());
        lock.lock();
        passed_ = done_ = true;
        finished_.notify_all();
        continue;
      }
      TZABZip2PieceDecoder decoder;
      bool passed = decoder.Decode(stream_, bits, buffer_.get(), kZACodecPiece, [&](const std::uint8_t* data,
                                                                                   std::size_t size) {
        if (size > cap - output.size()) return false;
        output.insert(output.end(), data, data + size);
        return true;
      }) == TZABZip2Piece::Done;
      lock.lock();
      passed_ = passed;
      done_ = true;
      finished_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, finished_;
  bool quit_ = false, held_ = false, done_ = false, passed_ = false;
  std::uint64_t begin_ = 0, end_ = 0;
  std::vector<std::uint8_t> stream_, output_;
  std::size_t cap_ = 0;
  std::unique_ptr<std::uint8_t[]> buffer_;
  TZABZip2BlockDecoder mine_;
  std::unique_ptr<sys::Thread> thread_;  // last: it uses the rest
};

// BZip2 cut into its blocks, each decoded by our own block decoder, or
// where it refuses by libbz2 alone; in an entry large enough to hold
// several blocks, with a second processor free, every other block is
// decoded by a worker meanwhile. Only a block decoded to its end where the
// next begins is taken, and the entry's own thread decodes every block the
// worker did not pass, exactly as the serial decoder would: the output and
// the verdict stay libbz2's. A stream whose header is not bzip2's goes to
// the serial decoder.
class BZip2Codec final : public TZACodec {
 public:
  explicit BZip2Codec(bool always = false) : always_(always) {}

  bool Begin(std::uint64_t declared, std::uint8_t* output, std::size_t outputSize) override {
    blocks_ = true;
    // A piece the worker still holds belongs to the entry before: another
    // entry's block may lie at the same bits.
    if (worker_) {
      std::vector<std::uint8_t> stale;
      worker_->Take(0, 0, stale);
    }
    helped_ = always_ || (declared >= kBlocksFrom && sys::ProcessorsAvailable() > 1);
    in_.clear();
    base_ = 0;
    at_ = 32;
    tryFrom_ = scanned_ = 0;
    magics_.clear();
    combined_ = 0;
    started_ = ended_ = false;
    fault_ = {};
    return serial_.Begin(declared, output, outputSize);
  }
  bool Feed(std::uint8_t* data, std::size_t size, TZACodecOutput& out) override {
    return blocks_ ? FeedBlocks(data, size, out) : serial_.Feed(data, size, out);
  }
  const TZACodecFault* Fault() const override {
    return blocks_ ? (fault_.Text.empty() ? nullptr : &fault_) : serial_.Fault();
  }

 private:
  // Entries from two blocks of bzip2 -9 on.
  static constexpr std::uint64_t kBlocksFrom = 1800000;
  // Packed bits of one block at most: bzip2's largest block takes less than
  // half of it. Past it without an end, the data is damaged.
  static constexpr std::uint64_t kLongestBlock = std::uint64_t{4} << 23;
  // Output of the worker's block at most; a block that makes more is
  // decoded by the entry's thread.
  static constexpr std::size_t kWorkerOutput = 16u << 20;

  bool FeedBlocks(std::uint8_t* data, std::size_t size, TZACodecOutput& out) {
    in_.insert(in_.end(), data, data + size);
    if (!started_) {
      if (in_.size() < 4 || std::memcmp(in_.data(), "BZh", 3) != 0 || in_[3] < '1' || in_[3] > '9') {
        blocks_ = false;
        std::vector<std::uint8_t> held = std::move(in_);
        return serial_.Feed(held.data(), held.size(), out);
      }
      level_ = in_[3];
      started_ = true;
    }
    const std::uint64_t have = (base_ + in_.size()) * 8;
    if (have >= 48 && scanned_ <= have - 48) {
      std::vector<std::uint64_t> found;
      Bits().FindMagics(std::max(scanned_, base_ * 8) - base_ * 8, found);
      for (std::uint64_t at : found) magics_.push_back(at + base_ * 8);
      scanned_ = have - 47;
    }
    bool overflow = false;
    auto emit = [&](const std::uint8_t* piece, std::size_t n) {
      if (n > out.Room()) return !(overflow = true);
      if (out.Report() || !out.Write(piece, n)) return false;
      out.Count(piece, n);
      return true;
    };
    while (!ended_) {
      if (at_ + 48 > have) break;
      std::uint64_t magic = Get(at_, 48);
      if (magic == kBZip2EndMagic) {
        if (at_ + 80 > have) break;
        if (Get(at_ + 48, 32) != combined_) return Fail(Damaged(BZ_DATA_ERROR));
        ended_ = true;
        break;
      }
      if (magic != kBZip2BlockMagic) return Fail(Damaged(BZ_DATA_ERROR));
      std::uint64_t end = NextMagic(std::max(at_ + 80, tryFrom_));
      if (!end) {
        if (have - at_ > kLongestBlock) return Fail(Damaged(BZ_DATA_ERROR));
        break;
      }
      TZABZip2Piece outcome = TZABZip2Piece::Done;
      std::vector<std::uint8_t> ready;
      if (worker_ && worker_->Holds(at_, end) && worker_->Take(at_, end, ready)) {
        for (std::size_t at = 0; at < ready.size() && outcome == TZABZip2Piece::Done; at += kZACodecPiece)
          if (!emit(ready.data() + at, std::min(kZACodecPiece, ready.size() - at))) outcome = TZABZip2Piece::Stopped;
      } else {
        if (worker_) worker_->Take(0, 0, ready);  // what it holds is of no use now
        if (helped_) GiveNext(end, out.Room());
        if (mine_.Decode(Bits(), at_ - base_ * 8, end - base_ * 8, level_, out.Room())) {
          for (std::size_t at = 0; at < mine_.OutputSize() && outcome == TZABZip2Piece::Done; at += kZACodecPiece)
            if (!emit(mine_.Output() + at, std::min(kZACodecPiece, mine_.OutputSize() - at)))
              outcome = TZABZip2Piece::Stopped;
        } else {
          std::vector<std::uint8_t> stream;
          Bits().OneBlockStream(at_ - base_ * 8, end - base_ * 8, level_, stream);
          if (!own_) own_.reset(new std::uint8_t[kZACodecPiece]);
          outcome = pieces_.Decode(stream, end - at_, own_.get(), kZACodecPiece, emit);
        }
      }
      switch (outcome) {
        case TZABZip2Piece::Done:
          combined_ = (combined_ << 1 | combined_ >> 31) ^ static_cast<std::uint32_t>(Get(at_ + 48, 32));
          at_ = end;
          tryFrom_ = 0;
          Compact();
          break;
        case TZABZip2Piece::Short: tryFrom_ = end + 1; break;
        case TZABZip2Piece::Failed: return Fail(Damaged(pieces_.Error()));
        case TZABZip2Piece::Stopped: return !overflow;
      }
    }
    return true;
  }

  // Hands the worker the block after the one that ends at `end`, when
  // its end is known too.
  void GiveNext(std::uint64_t end, std::uint64_t room) {
    std::uint64_t next = NextMagic(end + 80);
    if (!next || Get(end, 48) != kBZip2BlockMagic) return;
    if (!worker_) worker_ = std::make_unique<BlockWorker>();
    std::vector<std::uint8_t> stream;
    Bits().OneBlockStream(end - base_ * 8, next - base_ * 8, level_, stream);
    worker_->Give(end, next, std::move(stream), static_cast<std::size_t>(std::min<std::uint64_t>(room, kWorkerOutput)));
  }

  TZABZip2Bits Bits() const { return TZABZip2Bits(in_.data(), in_.size()); }
  std::uint64_t Get(std::uint64_t at, unsigned n) const { return Bits().Get(at - base_ * 8, n); }
  // The first candidate end at or after bit `from`, or 0.
  std::uint64_t NextMagic(std::uint64_t from) const {
    auto it = std::lower_bound(magics_.begin(), magics_.end(), from);
    return it == magics_.end() ? 0 : *it;
  }
  // Input before the block the decoding is at is no longer needed.
  void Compact() {
    std::size_t drop = static_cast<std::size_t>(at_ / 8 - base_);
    if (drop < (1u << 20)) return;
    in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(drop));
    base_ += drop;
    magics_.erase(magics_.begin(), std::lower_bound(magics_.begin(), magics_.end(), at_));
  }
  bool Fail(std::string text) {
    fault_.Text = std::move(text);
    return false;
  }

  const bool always_;
  BZip2StreamCodec serial_;
  bool blocks_ = false, started_ = false, ended_ = false;
  bool helped_ = false;  // a worker takes every other block
  std::uint8_t level_ = '9';
  std::vector<std::uint8_t> in_;  // the stream from byte base_ on
  std::uint64_t base_ = 0;
  std::uint64_t at_ = 32;  // bit where the next block begins
  std::uint64_t tryFrom_ = 0;  // after a false end: where the next candidate is looked for
  std::uint64_t scanned_ = 0;  // bits before it were looked at for magics
  std::vector<std::uint64_t> magics_;  // candidate ends, as bits of the stream
  std::uint32_t combined_ = 0;
  TZABZip2PieceDecoder pieces_;
  TZABZip2BlockDecoder mine_;
  std::unique_ptr<std::uint8_t[]> own_;
  TZACodecFault fault_;
  std::unique_ptr<BlockWorker> worker_;
};

class BZip2Encoder final : public TZAEncoder {
 public:
  explicit BZip2Encoder(int level) {
    // The level is the block size in 100 kB, as bzip2 -1 to -9 take it.
    ok_ = BZ2_bzCompressInit(&bz_, level < 1 ? 1 : level > 9 ? 9 : level, 0, 0) == BZ_OK;
  }
  ~BZip2Encoder() override {
    if (ok_) BZ2_bzCompressEnd(&bz_);
  }
  std::uint16_t Method() const override { return 12; }
  std::uint16_t VersionNeeded() const override { return 46; }
  bool Encode(const std::uint8_t* data, std::size_t size, bool end, TZAEncodeSink& sink) override {
    if (!ok_) return false;
    char buffer[64 * 1024];
    bz_.next_in = const_cast<char*>(reinterpret_cast<const char*>(data));
    bz_.avail_in = static_cast<unsigned>(size);
    for (;;) {
      bz_.next_out = buffer;
      bz_.avail_out = sizeof buffer;
      int rc = BZ2_bzCompress(&bz_, end ? BZ_FINISH : BZ_RUN);
      if (rc < 0) return false;
      sink.Put(reinterpret_cast<std::uint8_t*>(buffer), sizeof buffer - bz_.avail_out);
      if (end ? rc == BZ_STREAM_END : bz_.avail_in == 0) return true;
    }
  }

 private:
  bz_stream bz_{};
  bool ok_ = false;
};

}  // namespace

std::unique_ptr<TZACodec> ZABZip2Codec() { return std::make_unique<BZip2Codec>(); }
std::unique_ptr<TZACodec> ZABZip2CodecAs(bool inBlocks) {
  if (!inBlocks) return std::make_unique<BZip2StreamCodec>();
  return std::make_unique<BZip2Codec>(true);
}
std::unique_ptr<TZAEncoder> ZABZip2Encoder(int level) { return std::make_unique<BZip2Encoder>(level); }

}  // namespace za
