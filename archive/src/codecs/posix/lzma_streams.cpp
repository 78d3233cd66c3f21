#include "lzma_streams.h"

#include <algorithm>
#include <cstring>

#include "lzma_decoder.h"
#include "lzma_outlet.h"

namespace za {

namespace {

constexpr std::size_t kSym = TZALzmaDecoder::kSymbolInput;

// The zip form of LZMA1: a 2-byte version, a 2-byte property size (5), the
// properties, then one range-coded stream up to the declared size, maybe
// followed by the end marker. It ends cleanly where the declared size is
// reached and the range decoder is done, or holds the end marker and then
// is done: what liblzma takes as the end. The decoder's window is handed on
// one piece and one report at a time.
class OwnLzmaCodec final : public TZACodec {
 public:
  explicit OwnLzmaCodec(std::unique_ptr<TZACodec> reference) : reference_(std::move(reference)), outlet_(decoder_) {}
  TZACodec* Reference() override { return reference_.get(); }
  bool Conclusive() const override { return ended_; }
  void Expect(std::uint64_t size) override { expected_ = size; }

  bool Begin(std::uint64_t declared, std::uint8_t* output, std::size_t outputSize) override {
    outlet_.Begin(declared, output, outputSize);
    expected_ = UINT64_MAX;
    fed_ = 0;
    ended_ = failed_ = false;
    started_ = false;
    have_ = 0;
    carry_ = 0;
    return true;
  }

  bool Feed(std::uint8_t* data, std::size_t size, TZACodecOutput& out) override {
    if (ended_) return true;
    if (failed_) return false;
    fed_ += size;
    const bool last = fed_ >= expected_;
    const std::uint8_t* p = data;
    const std::uint8_t* const end = data + size;
    if (!started_) {
      std::size_t n = std::min<std::size_t>(kStart - have_, size);
      if (n) std::memcpy(start_ + have_, p, n);
      have_ += n;
      p += n;
      if (have_ < kStart) return last ? Fail() : true;
      if (!StartStream()) return Fail();
    }
    if (carry_) {
      // What the last chunk left, with the start of this one behind it.
      std::size_t n = std::min<std::size_t>(end - p, kSym);
      if (n) std::memcpy(tail_ + carry_, p, n);
      std::size_t held = carry_ + n;
      const std::uint8_t* t = tail_;
      if (last && p + n == end) return Finish(t, held, out);
      Run run = Symbols(t, tail_ + held, nullptr, out);
      if (run != Run::Need) return Outcome(run);
      std::size_t used = static_cast<std::size_t>(t - tail_);
      if (used < carry_) {
        // This chunk was too short to decode from: all of it is carried.
        std::memmove(tail_, t, held - used);
        carry_ = held - used;
        return true;
      }
      p += used - carry_;
      carry_ = 0;
    }
    Run run = Symbols(p, end, nullptr, out);
    if (run != Run::Need) return Outcome(run);
    std::size_t left = static_cast<std::size_t>(end - p);
    if (left) std::memcpy(tail_, p, left);
    if (last) {
      const std::uint8_t* t = tail_;
      return Finish(t, left, out);
    }
    carry_ = left;
    return true;
  }

 private:
  enum class Run { Need, End, Failed, Stopped };

  bool Fail() {
    failed_ = true;
    return false;
  }

  std::unique_ptr<TZACodec> reference_;
  TZALzmaDecoder decoder_;
  TZALzmaOutlet outlet_;
  std::uint64_t expected_ = UINT64_MAX, fed_ = 0;
  bool ended_ = false, failed_ = false;
  static constexpr std::size_t kStart = 4 + 5 + 5;  // version, property size, properties, range coder

  bool StartStream() {
    if ((start_[2] | start_[3] << 8) != 5) return false;
    TZALzmaModel model;
    if (!ZALzmaModel(start_[4], model)) return false;
    std::uint32_t dictionary = start_[5] | start_[6] << 8 | start_[7] << 16 | std::uint32_t{start_[8]} << 24;
    // liblzma takes at least 4 KiB; matches reach no further anyway.
    if (!outlet_.SetWindow(std::max<std::uint32_t>(dictionary, 4096))) return false;
    decoder_.ResetState(model);
    if (!decoder_.StartRange(start_ + 9)) return false;
    started_ = true;
    return true;
  }

  // The last `held` bytes of the input, at tail_, decoded with zeros
  // behind them: a symbol that reads into those finds the data cut short.
  bool Finish(const std::uint8_t*& t, std::size_t held, TZACodecOutput& out) {
    std::memset(tail_ + held, 0, kSym);
    Run run = Symbols(t, tail_ + held + kSym, tail_ + held, out);
    return Outcome(run == Run::Need ? Run::Failed : run);
  }

  bool Outcome(Run run) {
    switch (run) {
      case Run::Failed: return Fail();
      case Run::End: ended_ = true; return true;
      default: return true;
    }
  }

  // Decodes from `q` up to `qEnd` as long as a symbol's input is there;
  // past `real` (when given) lie zeros that may not be read.
  Run Symbols(const std::uint8_t*& q, const std::uint8_t* qEnd, const std::uint8_t* real, TZACodecOutput& out) {
    for (;;) {
      std::uint64_t room = outlet_.Room(out);
      if (room == 0) {
        if (decoder_.Pending()) return Run::Failed;
        if (static_cast<std::size_t>(qEnd - q) < kSym) return Run::Need;
        if (!outlet_.Hand(out)) return Run::Stopped;
        if (!decoder_.FinishRange(q)) {
          // Not done: the end marker may follow.
          if (decoder_.Decode(q, qEnd, decoder_.Position() + 1) != TZALzmaDecoder::Stop::Marker ||
              !decoder_.FinishRange(q))
            return Run::Failed;
        }
        return real && q > real ? Run::Failed : Run::End;
      }
      if (outlet_.Report(out)) return Run::Stopped;
      TZALzmaDecoder::Stop stop = decoder_.Decode(q, qEnd, outlet_.Limit(room));
      if (real && q > real) return Run::Failed;
      switch (stop) {
        case TZALzmaDecoder::Stop::Input: return Run::Need;
        case TZALzmaDecoder::Stop::Output:
          if (!outlet_.HandFull(out)) return Run::Stopped;
          break;
        default: return Run::Failed;  // a marker before the declared size, or bad data
      }
    }
  }

  bool started_ = false;
  std::uint8_t start_[kStart] = {};
  std::size_t have_ = 0;
  std::uint8_t tail_[3 * kSym] = {};
  std::size_t carry_ = 0;  // bytes at tail_ left from the chunk before
};

}  // namespace

std::unique_ptr<TZACodec> ZAOwnLzmaCodec(std::unique_ptr<TZACodec> reference) {
  return std::make_unique<OwnLzmaCodec>(std::move(reference));
}

}  // namespace za
