// XZ entries (method 95) decoded by our own LZMA decoder under a reader of
// the .xz container that takes only what xz and 7-Zip write: one stream,
// blocks of one LZMA2 filter, checks of none, CRC-32 or CRC-64, and an
// index and footer that are byte for byte what its blocks call for. What
// it does not take, and any stream it does not bring to a clean end, goes
// to liblzma, whose output and verdict stand.
#include <lzma.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "../../crc32.h"
#include "lzma_decoder.h"
#include "lzma_outlet.h"
#include "lzma_streams.h"

namespace za {

namespace {

constexpr std::size_t kSym = TZALzmaDecoder::kSymbolInput;
constexpr std::size_t kStreamHeader = 12;
constexpr std::uint8_t kMagic[6] = {0xFD, '7', 'z', 'X', 'Z', 0};
constexpr std::uint64_t kFilterLzma2 = 0x21;
constexpr std::size_t kChunkPacked = 1u << 16;  // the most an LZMA2 chunk holds

enum Check : std::uint8_t { kCheckNone = 0, kCheckCrc32 = 1, kCheckCrc64 = 4 };

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
}
void PutLe32(std::vector<std::uint8_t>& to, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) to.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutVli(std::vector<std::uint8_t>& to, std::uint64_t v) {
  while (v >= 0x80) {
    to.push_back(static_cast<std::uint8_t>(v | 0x80));
    v >>= 7;
  }
  to.push_back(static_cast<std::uint8_t>(v));
}
// A variable-length integer of at most 9 bytes, in its shortest form, from
// `p` up to `end`; false where there is none.
bool GetVli(const std::uint8_t*& p, const std::uint8_t* end, std::uint64_t& v) {
  v = 0;
  for (unsigned i = 0; i < 9 && p < end; ++i) {
    std::uint8_t b = *p++;
    v |= std::uint64_t{b & 0x7Fu} << (7 * i);
    if (!(b & 0x80)) return i == 0 || b != 0;
  }
  return false;
}

class OwnXzCodec final : public TZACodec {
 public:
  explicit OwnXzCodec(std::unique_ptr<TZACodec> reference) : reference_(std::move(reference)), outlet_(decoder_) {}
  TZACodec* Reference() override { return reference_.get(); }
  bool Conclusive() const override { return ended_; }
  void Expect(std::uint64_t size) override { expected_ = size; }

  bool Begin(std::uint64_t declared, std::uint8_t* output, std::size_t outputSize) override {
    outlet_.Begin(declared, output, outputSize);
    expected_ = UINT64_MAX;
    fed_ = 0;
    ended_ = failed_ = windowSet_ = false;
    state_ = State::StreamHeader;
    Need(kStreamHeader);
    records_.clear();
    return true;
  }

  bool Feed(std::uint8_t* data, std::size_t size, TZACodecOutput& out) override {
    if (failed_) return false;
    fed_ += size;
    const bool last = fed_ >= expected_;
    const std::uint8_t* p = data;
    const std::uint8_t* const end = data + size;
    while (p < end) {
      if (state_ == State::Done) return Fail();  // more than one stream, or padding after it: not ours
      Run run = Step(p, end, out);
      if (run == Run::Failed) return Fail();
      if (run == Run::Stopped) return true;
    }
    if (last && state_ != State::Done) return Fail();
    return true;
  }

 private:
  enum class State {
    StreamHeader, BlockStart, BlockHeader, Control, ChunkHeader, Stored, Packed, BlockEnd, Index, Done,
  };
  enum class Run { More, Failed, Stopped };

  bool Fail() {
    failed_ = true;
    ended_ = false;
    return false;
  }

  // Bytes of a record gathered at head_ until `size` are there.
  void Need(std::size_t size) {
    need_ = size;
    have_ = 0;
  }
  bool Gather(const std::uint8_t*& p, const std::uint8_t* end) {
    std::size_t n = std::min<std::size_t>(need_ - have_, static_cast<std::size_t>(end - p));
    std::memcpy(head_ + have_, p, n);
    have_ += n;
    p += n;
    return have_ == need_;
  }

  Run Step(const std::uint8_t*& p, const std::uint8_t* end, TZACodecOutput& out) {
    switch (state_) {
      case State::StreamHeader:
        if (!Gather(p, end)) return Run::More;
        if (std::memcmp(head_, kMagic, 6) != 0 || head_[6] != 0 || ZACrc32(0, head_ + 6, 2) != Le32(head_ + 8))
          return Run::Failed;
        check_ = head_[7];
        if (check_ != kCheckNone && check_ != kCheckCrc32 && check_ != kCheckCrc64) return Run::Failed;
        state_ = State::BlockStart;
        return Run::More;
      case State::BlockStart:
        if (*p == 0) {
          ++p;
          return StartIndex();
        }
        Need((*p + 1u) * 4);
        state_ = State::BlockHeader;
        return Run::More;
      case State::BlockHeader:
        if (!Gather(p, end)) return Run::More;
        return StartBlock() ? Run::More : Run::Failed;
      case State::Control:
        ++blockIn_;
        return Control(*p++);
      case State::ChunkHeader:
        if (!Gather(p, end)) return Run::More;
        blockIn_ += need_;
        return ChunkHeader();
      case State::Stored: return Stored(p, end, out);
      case State::Packed: return Packed(p, end, out);
      case State::BlockEnd:
        if (!Gather(p, end)) return Run::More;
        return EndBlock() ? Run::More : Run::Failed;
      case State::Index:
        while (p < end && at_ < index_.size())
          if (*p++ != index_[at_++]) return Run::Failed;
        if (at_ < index_.size()) return Run::More;
        if (!outlet_.Hand(out)) return Run::Stopped;
        state_ = State::Done;
        ended_ = outlet_.Room(out) == 0;  // all handed on: the declared size came out
        return Run::More;
      case State::Done: break;
    }
    return Run::Failed;
  }

  // The block header at head_: one LZMA2 filter, its dictionary, and the
  // sizes it may give, checked at the block's end.
  bool StartBlock() {
    const std::uint8_t* p = head_ + 2;
    const std::uint8_t* const end = head_ + need_ - 4;
    const std::uint8_t flags = head_[1];
    if (ZACrc32(0, head_, need_ - 4) != Le32(end) || (flags & 0x3F) != 0) return false;  // one filter, no reserved bits
    statedPacked_ = statedSize_ = UINT64_MAX;
    std::uint64_t id, propertySize;
    if ((flags & 0x40) && (!GetVli(p, end, statedPacked_) || statedPacked_ == 0)) return false;
    if ((flags & 0x80) && !GetVli(p, end, statedSize_)) return false;
    if (!GetVli(p, end, id) || id != kFilterLzma2 || !GetVli(p, end, propertySize) || propertySize != 1 || p == end)
      return false;
    const std::uint8_t bits = *p++;
    if (bits > 40) return false;
    while (p < end)
      if (*p++ != 0) return false;
    dictionary_ = bits == 40 ? UINT32_MAX : (2u | (bits & 1u)) << (bits / 2 + 11);
    if (!windowSet_) {
      // liblzma takes at least 4 KiB; matches reach no further anyway.
      if (!outlet_.SetWindow(std::max<std::uint32_t>(dictionary_, 4096))) return false;
      windowSet_ = true;
    }
    headerSize_ = need_;
    blockIn_ = 0;
    blockOut_ = 0;
    crc32_ = 0;
    crc64_ = 0;
    needDictionaryReset_ = needProperties_ = needStateReset_ = true;
    state_ = State::Control;
    return true;
  }

  Run Control(std::uint8_t control) {
    control_ = control;
    if (control == 0) {
      // The block's data ends: its padding to four bytes, then its check.
      Need((4 - blockIn_ % 4) % 4 + CheckSize());
      state_ = State::BlockEnd;
      return need_ ? Run::More : (EndBlock() ? Run::More : Run::Failed);
    }
    const bool dictionaryReset = control == 1 || control >= 0xE0;
    if (needDictionaryReset_ && !dictionaryReset) return Run::Failed;
    if (control >= 0x80) {
      // New properties wherever the dictionary was reset, and a new state
      // after stored data (as encoders write it).
      if (control < 0xC0 && needProperties_) return Run::Failed;
      if (control < 0xA0 && needStateReset_) return Run::Failed;
      Need(control >= 0xC0 ? 5 : 4);
    } else {
      if (control > 2) return Run::Failed;
      Need(2);
    }
    state_ = State::ChunkHeader;
    return Run::More;
  }

  Run ChunkHeader() {
    const std::uint8_t control = control_;
    if (control == 1 || control >= 0xE0) {
      decoder_.ResetDictionary(dictionary_);
      needDictionaryReset_ = false;
      needProperties_ = true;
    }
    if (control < 0x80) {
      left_ = (head_[0] << 8 | head_[1]) + 1u;
      needStateReset_ = true;
      state_ = State::Stored;
      return Run::More;
    }
    left_ = ((control & 0x1Fu) << 16 | head_[0] << 8 | head_[1]) + 1u;
    packed_ = (head_[2] << 8 | head_[3]) + 1u;
    if (control >= 0xC0) {
      if (!ZALzmaModel(head_[4], model_)) return Run::Failed;
      needProperties_ = false;
    }
    if (control >= 0xA0) decoder_.ResetState(model_);
    needStateReset_ = false;
    if (packed_ < 5) return Run::Failed;
    staged_ = 0;
    state_ = State::Packed;
    return Run::More;
  }

  // Stored bytes straight into the window, as the input has them.
  Run Stored(const std::uint8_t*& p, const std::uint8_t* end, TZACodecOutput& out) {
    while (left_ && p < end) {
      std::uint64_t room = outlet_.Room(out);
      if (room == 0) return Run::Failed;
      if (outlet_.Report(out)) return Run::Stopped;
      std::size_t from = decoder_.Position();
      std::size_t n = std::min<std::size_t>({left_, static_cast<std::size_t>(end - p), outlet_.Limit(room) - from});
      decoder_.Put(p, n);
      p += n;
      left_ -= static_cast<std::uint32_t>(n);
      blockIn_ += n;
      Made(from);
      if (!outlet_.HandFull(out)) return Run::Stopped;
    }
    if (!left_) state_ = State::Control;
    return Run::More;
  }

  // An LZMA chunk, decoded where the input holds it whole and the most a
  // symbol reads past it; else from a copy with zeros behind it.
  Run Packed(const std::uint8_t*& p, const std::uint8_t* end, TZACodecOutput& out) {
    if (staged_ == 0 && static_cast<std::size_t>(end - p) >= packed_ + kSym) {
      const std::uint8_t* q = p;
      Run run = Chunk(q, p + packed_, out);
      p += packed_;
      return run;
    }
    std::size_t n = std::min<std::size_t>(packed_ - staged_, static_cast<std::size_t>(end - p));
    std::memcpy(stage_ + staged_, p, n);
    staged_ += n;
    p += n;
    if (staged_ < packed_) return Run::More;
    std::memset(stage_ + packed_, 0, kSym);
    const std::uint8_t* q = stage_;
    return Chunk(q, stage_ + packed_, out);
  }

  // The chunk's range-coded data from `q` up to `qEnd`: exactly its bytes
  // are to be taken, for exactly its size of output, and the range decoder
  // is then done.
  Run Chunk(const std::uint8_t*& q, const std::uint8_t* qEnd, TZACodecOutput& out) {
    blockIn_ += packed_;
    if (!decoder_.StartRange(q)) return Run::Failed;
    q += 5;
    while (left_) {
      std::uint64_t room = outlet_.Room(out);
      if (room == 0) return Run::Failed;
      if (outlet_.Report(out)) return Run::Stopped;
      std::size_t from = decoder_.Position();
      TZALzmaDecoder::Stop stop = decoder_.Decode(q, qEnd + kSym, outlet_.Limit(std::min<std::uint64_t>(room, left_)));
      if (q > qEnd || stop != TZALzmaDecoder::Stop::Output) return Run::Failed;
      left_ -= static_cast<std::uint32_t>(decoder_.Position() - from);
      Made(from);
      if (!outlet_.HandFull(out)) return Run::Stopped;
    }
    if (decoder_.Pending() || !decoder_.FinishRange(q) || q != qEnd) return Run::Failed;
    state_ = State::Control;
    return Run::More;
  }

  // The window from `from` on is new output of the block: for its check.
  void Made(std::size_t from) {
    const std::uint8_t* data = decoder_.Window() + from;
    std::size_t n = decoder_.Position() - from;
    blockOut_ += n;
    if (check_ == kCheckCrc32)
      crc32_ = ZACrc32(crc32_, data, n);
    else if (check_ == kCheckCrc64)
      crc64_ = lzma_crc64(data, n, crc64_);
  }

  std::size_t CheckSize() const { return check_ == kCheckNone ? 0 : check_ == kCheckCrc32 ? 4 : 8; }

  // The padding and check at head_, and the sizes the header gave.
  bool EndBlock() {
    std::size_t padding = need_ - CheckSize();
    for (std::size_t i = 0; i < padding; ++i)
      if (head_[i] != 0) return false;
    const std::uint8_t* check = head_ + padding;
    if (check_ == kCheckCrc32 && Le32(check) != crc32_) return false;
    if (check_ == kCheckCrc64 && (Le32(check) | std::uint64_t{Le32(check + 4)} << 32) != crc64_) return false;
    if ((statedPacked_ != UINT64_MAX && statedPacked_ != blockIn_) ||
        (statedSize_ != UINT64_MAX && statedSize_ != blockOut_))
      return false;
    records_.push_back({headerSize_ + blockIn_ + CheckSize(), blockOut_});
    state_ = State::BlockStart;
    return true;
  }

  // The index and footer the blocks call for, from its indicator on (read
  // already), to be met byte for byte.
  Run StartIndex() {
    index_.clear();
    index_.push_back(0);
    PutVli(index_, records_.size());
    for (const Record& r : records_) {
      PutVli(index_, r.Unpadded);
      PutVli(index_, r.Size);
    }
    while (index_.size() % 4) index_.push_back(0);
    PutLe32(index_, ZACrc32(0, index_.data(), index_.size()));
    std::vector<std::uint8_t> footer;
    PutLe32(footer, static_cast<std::uint32_t>(index_.size() / 4 - 1));
    footer.push_back(0);
    footer.push_back(check_);
    PutLe32(index_, ZACrc32(0, footer.data(), footer.size()));
    index_.insert(index_.end(), footer.begin(), footer.end());
    index_.push_back('Y');
    index_.push_back('Z');
    at_ = 1;
    state_ = State::Index;
    return Run::More;
  }

  struct Record {
    std::uint64_t Unpadded, Size;
  };

  std::unique_ptr<TZACodec> reference_;
  TZALzmaDecoder decoder_;
  TZALzmaOutlet outlet_;
  std::uint64_t expected_ = UINT64_MAX, fed_ = 0;
  bool ended_ = false, failed_ = false, windowSet_ = false;
  State state_ = State::StreamHeader;
  std::uint8_t check_ = kCheckNone;

  std::uint8_t head_[1024] = {};  // a record being gathered: at most a block header
  std::size_t need_ = 0, have_ = 0;

  std::uint32_t dictionary_ = 0;
  std::size_t headerSize_ = 0;
  std::uint64_t statedPacked_ = UINT64_MAX, statedSize_ = UINT64_MAX;
  std::uint64_t blockIn_ = 0, blockOut_ = 0;
  std::uint32_t crc32_ = 0;
  std::uint64_t crc64_ = 0;
  bool needDictionaryReset_ = true, needProperties_ = true, needStateReset_ = true;

  std::uint8_t control_ = 0;
  TZALzmaModel model_;
  std::uint32_t left_ = 0;    // output of the chunk still to come
  std::uint32_t packed_ = 0;  // input of an LZMA chunk
  std::uint8_t stage_[kChunkPacked + kSym] = {};
  std::size_t staged_ = 0;

  std::vector<Record> records_;
  std::vector<std::uint8_t> index_;
  std::size_t at_ = 0;
};

}  // namespace

std::unique_ptr<TZACodec> ZAOwnXzCodec(std::unique_ptr<TZACodec> reference) {
  return std::make_unique<OwnXzCodec>(std::move(reference));
}

}  // namespace za
