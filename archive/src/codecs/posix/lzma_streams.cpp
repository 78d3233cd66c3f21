#include "lzma_streams.h"

#include <algorithm>
#include <cstring>

#include "library_codec.h"
#include "lzma_decoder.h"

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
  explicit OwnLzmaCodec(std::unique_ptr<TZACodec> reference) : reference_(std::move(reference)) {}
  TZACodec* Reference() override { return reference_.get(); }
  bool Conclusive() const override { return ended_; }
  void Expect(std::uint64_t size) override { expected_ = size; }

  bool Begin(std::uint64_t declared, std::uint8_t* output, std::size_t outputSize) override {
    declared_ = declared;
    output_ = output;
    outputSize_ = outputSize;
    expected_ = UINT64_MAX;
    fed_ = 0;
    flushed_ = 0;
    ended_ = failed_ = reported_ = false;
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

  // The window for matches of up to `dictionary` bytes back: the entry's
  // whole output where that is no more (in the caller's buffer when it
  // holds it), else the dictionary's size, used round.
  bool SetWindow(std::uint32_t dictionary) {
    std::uint64_t capacity = std::max<std::uint64_t>(std::min<std::uint64_t>(declared_, dictionary), 1);
    if (capacity > kZAWindowLimit) return false;
    std::size_t size = static_cast<std::size_t>(capacity);
    std::uint8_t* buffer = capacity >= declared_ ? output_ : nullptr;
    flushed_ = 0;
    return decoder_.SetWindow(buffer, outputSize_, size, dictionary);
  }

  // Output the decoder may still make: of the declared size, what is not
  // in the window yet.
  std::uint64_t Room(const TZACodecOutput& out) const {
    return declared_ - out.Produced() - (decoder_.Position() - flushed_);
  }
  // The window position the next Decode may go up to: the end of the
  // piece, of the window, or of `room` more bytes.
  std::size_t Limit(std::uint64_t room) const {
    std::size_t pos = decoder_.Position();
    std::size_t limit = std::min(decoder_.Capacity(), flushed_ + kZACodecPiece);
    return room < limit - pos ? pos + static_cast<std::size_t>(room) : limit;
  }
  // A report before each piece of output; true when it stops the entry.
  bool Report(TZACodecOutput& out) {
    if (reported_) return false;
    reported_ = true;
    return out.Report();
  }
  // Hands on what the window holds past what was handed on; false when
  // the sink stopped.
  bool Hand(TZACodecOutput& out) {
    std::size_t pos = decoder_.Position();
    if (pos > flushed_) {
      const std::uint8_t* data = decoder_.Window() + flushed_;
      std::size_t n = pos - flushed_;
      if (!out.Write(data, n)) return false;
      out.Count(data, n);
      flushed_ = pos;
      reported_ = false;
    }
    if (pos == decoder_.Capacity()) {
      decoder_.Wrap();
      flushed_ = 0;
    }
    return true;
  }
  // A piece or the window full: handed on.
  bool HandFull(TZACodecOutput& out) {
    std::size_t pos = decoder_.Position();
    if (pos - flushed_ < kZACodecPiece && pos < decoder_.Capacity()) return true;
    return Hand(out);
  }

  bool Fail() {
    failed_ = true;
    return false;
  }

  std::unique_ptr<TZACodec> reference_;
  TZALzmaDecoder decoder_;
  std::uint64_t declared_ = 0;
  std::uint8_t* output_ = nullptr;
  std::size_t outputSize_ = 0;
  std::uint64_t expected_ = UINT64_MAX, fed_ = 0;
  std::size_t flushed_ = 0;  // window position up to which output was handed on
  bool ended_ = false, failed_ = false, reported_ = false;
  static constexpr std::size_t kStart = 4 + 5 + 5;  // version, property size, properties, range coder

  bool StartStream() {
    if ((start_[2] | start_[3] << 8) != 5) return false;
    TZALzmaModel model;
    if (!ZALzmaModel(start_[4], model)) return false;
    std::uint32_t dictionary = start_[5] | start_[6] << 8 | start_[7] << 16 | std::uint32_t{start_[8]} << 24;
    // liblzma takes at least 4 KiB; matches reach no further anyway.
    if (!SetWindow(std::max<std::uint32_t>(dictionary, 4096))) return false;
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
      std::uint64_t room = Room(out);
      if (room == 0) {
        if (decoder_.Pending()) return Run::Failed;
        if (static_cast<std::size_t>(qEnd - q) < kSym) return Run::Need;
        if (!Hand(out)) return Run::Stopped;
        if (!decoder_.FinishRange(q)) {
          // Not done: the end marker may follow.
          if (decoder_.Decode(q, qEnd, decoder_.Position() + 1) != TZALzmaDecoder::Stop::Marker ||
              !decoder_.FinishRange(q))
            return Run::Failed;
        }
        return real && q > real ? Run::Failed : Run::End;
      }
      if (Report(out)) return Run::Stopped;
      TZALzmaDecoder::Stop stop = decoder_.Decode(q, qEnd, Limit(room));
      if (real && q > real) return Run::Failed;
      switch (stop) {
        case TZALzmaDecoder::Stop::Input: return Run::Need;
        case TZALzmaDecoder::Stop::Output:
          if (!HandFull(out)) return Run::Stopped;
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
