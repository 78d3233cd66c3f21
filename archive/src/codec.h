#pragma once
// Codecs: what turns an entry's stored data into its content, one chunk of
// input at a time, chosen by the entry's method number. A new method, or a
// faster decoder of one, is a new codec; the decoder around them reads the
// input, decrypts it and judges the outcome the same way for all.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "archive/methods.h"
#include "crc32.h"

namespace za {

// Where decoded output goes: the batch's writer, a buffer, or nothing.
class TZADecodeSink {
 public:
  virtual ~TZADecodeSink() = default;
  // Takes a piece of output; false when writing gave up (the entry stops).
  virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
  // `produced` bytes have come out so far; true when that stops the entry.
  virtual bool Progress(std::uint64_t produced) = 0;
  // Keeps only the first `produced` bytes written; false when what was
  // written cannot be taken back.
  virtual bool Truncate(std::uint64_t /*produced*/) { return false; }
};

// What a codec's output went through: the count and CRC-32 after each
// write, and the number of reports. Kept where a second decoding may have
// to follow the first one's steps.
struct TZACodecTrail {
  struct Step {
    std::uint64_t Produced;
    std::uint32_t Crc32;
  };
  std::vector<Step> Writes;
  std::size_t Reports = 0;
};

// What a codec's output goes through: the count and CRC-32 of what came
// out, the room left under the declared size, the progress report and the
// sink. Not virtual: it is called for every piece of output.
class TZACodecOutput {
 public:
  TZACodecOutput(TZADecodeSink& sink, std::uint64_t limit, TZACodecTrail* trail = nullptr)
      : sink_(sink), limit_(limit), trail_(trail) {}
  std::uint64_t Produced() const { return produced_; }
  std::uint32_t Crc32() const { return crc_; }
  // Output may not pass the declared size: a lying header cannot fill the disk.
  std::uint64_t Room() const { return limit_ - produced_; }
  bool Stopped() const { return stopped_; }
  // The progress report with what came out so far; true when it stops.
  bool Report() {
    if (trail_) ++trail_->Reports;
    if (sink_.Progress(produced_)) stopped_ = true;
    return stopped_;
  }
  // False when the sink gave up: the entry stops.
  bool Write(const std::uint8_t* data, std::size_t size) {
    if (!sink_.Write(data, size)) stopped_ = true;
    return !stopped_;
  }
  void Count(const std::uint8_t* data, std::size_t size) {
    crc_ = ZACrc32(crc_, data, size);
    produced_ += size;
    if (trail_) trail_->Writes.push_back({produced_, crc_});
  }

 private:
  TZADecodeSink& sink_;
  std::uint64_t limit_;
  std::uint64_t produced_ = 0;
  std::uint32_t crc_ = 0;
  bool stopped_ = false;
  TZACodecTrail* trail_;
};

class TZACodec {
 public:
  virtual ~TZACodec() = default;
  // What goes in front of an entry's first chunk of input.
  virtual std::span<const std::uint8_t> Prefix() const { return {}; }
  // Starts an entry of `declared` bytes; output goes to `output` when
  // given (`outputSize` bytes), else to a buffer of the codec's own. False
  // when the codec cannot start.
  virtual bool Begin(std::uint64_t declared, std::uint8_t* output, std::size_t outputSize) = 0;
  // Decodes one chunk of input into `out`, stopping where `out` stops;
  // false for data that does not decode within the declared size.
  virtual bool Feed(std::uint8_t* data, std::size_t size, TZACodecOutput& out) = 0;
  // What was wrong with the data when Feed failed, for codecs that can
  // say more than that it did not decode.
  virtual const TZACodecFault* Fault() const { return nullptr; }

  // A codec that stands in, faster, for another of its method: what it
  // does not pass conclusively is decoded again by that one, whose output
  // and verdict stand. Null for a codec that judges its data itself.
  virtual TZACodec* Reference() { return nullptr; }
  // After a pass: whether the reference would have passed the same.
  virtual bool Conclusive() const { return true; }
  // How much input the entry has, its prefix included: told before the
  // first Feed, so that a codec can tell the last chunk from the others.
  virtual void Expect(std::uint64_t /*size*/) {}
};

// The largest output piece a codec hands on, and the input chunk the
// decoder reads: a progress report and a write per piece at most.
inline constexpr std::size_t kZACodecPiece = 0x100000;

}  // namespace za
