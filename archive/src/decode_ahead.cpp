#include "decode_ahead.h"

#include <algorithm>
#include <cstring>

#include "decoder.h"

namespace za {

static_assert(TZADecodeAhead::kLargestKept + 1 == kZACodecPiece);

TZADecodeAhead::TZADecodeAhead(std::size_t count)
    : pipeline_(
          count, TZAPipelineBounds{kAhead, kHeld, 1},
          [this](Job& job, const std::atomic<bool>& stop) { return Make(job, stop); },
          // A kept output holds its declared size until taken; the data is
          // given back once checked.
          [](const Job& job, bool passed) { return passed && job.Keep ? job.Size : 0; },
          [this](Job& job, bool) { Drop(job); }) {}

TZADecodeAhead::~TZADecodeAhead() = default;

bool TZADecodeAhead::Wants(std::size_t k, std::uint64_t bytes) { return pipeline_.Wants(k, bytes); }

void TZADecodeAhead::Offer(std::size_t k, Job job) {
  std::uint64_t bytes = job.Data.size() + (job.Keep ? job.Size : 0);
  pipeline_.Offer(k, std::move(job), bytes);
}

bool TZADecodeAhead::Make(Job& job, const std::atomic<bool>& stop) {
  if (job.Keep && job.Output.capacity() == 0) job.Output = TakeBuffer();
  Worker worker;
  {
    std::lock_guard<std::mutex> lock(spareMutex_);
    if (!workers_.empty()) {
      worker = std::move(workers_.back());
      workers_.pop_back();
    }
  }
  if (!worker.decoder) worker.decoder = std::make_unique<TZADecoder>();
  bool passed = Check(job, worker.scratch, stop, worker.decoder.get());
  {
    std::lock_guard<std::mutex> lock(spareMutex_);
    workers_.push_back(std::move(worker));
  }
  GiveBack(std::move(job.Data));
  if (!passed) GiveBack(std::move(job.Output));
  return passed;
}

void TZADecodeAhead::Drop(Job& job) {
  GiveBack(std::move(job.Data));
  GiveBack(std::move(job.Output));
}

TZADecodeAhead::Bytes TZADecodeAhead::TakeBuffer() {
  std::lock_guard<std::mutex> lock(spareMutex_);
  if (spare_.empty()) return Bytes();
  Bytes buffer = std::move(spare_.back());
  spare_.pop_back();
  spareBytes_ -= buffer.capacity();
  return buffer;
}

void TZADecodeAhead::GiveBack(Bytes buffer) {
  std::size_t capacity = buffer.capacity();
  std::lock_guard<std::mutex> lock(spareMutex_);
  if (capacity == 0 || spareBytes_ + capacity > kSpare) return;
  buffer.clear();
  spareBytes_ += capacity;
  spare_.push_back(std::move(buffer));
}

bool TZADecodeAhead::Passed(std::size_t k, Bytes* output) {
  // Rather than wait for the helper at work on this entry, the caller
  // checks a later one itself; one it has not begun it checks first.
  Job job;
  bool passed = pipeline_.Take(k, job, true, true) == TZAPipeline<Job>::TOutcome::Succeeded &&
                (!output || job.Keep);
  if (passed && output) *output = std::move(job.Output);
  Drop(job);
  return passed;
}

bool TZADecodeAhead::Check(Job& job, Bytes& scratch, const std::atomic<bool>& stop, TZADecoder* decoder) {
  // Stored data is written straight from the archive: it is never kept.
  if (job.Keep && ((!job.Deflated && job.Method == 0) || job.Size > kLargestKept)) return false;
  // Deflate decodes into a buffer of one piece of the batch's decoder, or
  // one byte past the declared size when that is less, as the decoder's
  // own; so do the library codecs of a kept job, and the pieces of codecs
  // that keep to buffers of their own are gathered.
  class Sink final : public TZADecodeSink {
   public:
    Sink(Job& job, const std::atomic<bool>& stop) : job_(job), stop_(stop) {}
    bool Write(const std::uint8_t* data, std::size_t size) override {
      if (job_.Keep && !job_.Deflated && data != job_.Output.data()) {
        if (kept_ + size > job_.Output.size()) job_.Output.resize(kept_ + size);
        std::memcpy(job_.Output.data() + kept_, data, size);
      }
      kept_ += size;
      return true;
    }
    // A kept job that passes is one piece; one that needs a second is
    // left to the batch, which decides it.
    bool Progress(std::uint64_t) override { return stop_ || (job_.Keep && reports_++ > 0); }

   private:
    Job& job_;
    const std::atomic<bool>& stop_;
    int reports_ = 0;
    std::size_t kept_ = 0;
  } sink(job, stop);
  std::size_t outSize = job.Size >= kZACodecPiece ? kZACodecPiece : static_cast<std::size_t>(job.Size) + 1;
  Bytes& into = job.Keep ? job.Output : scratch;
  into.resize(job.Deflated || job.Keep ? outSize : 0);
  TZAEntryCoding coding;
  coding.Method = job.Deflated ? 8 : job.Method;
  coding.Declared = job.Size;
  coding.Crc32 = job.Crc32;
  TZADecoder own;
  if (!decoder) decoder = &own;
  decoder->SetMethods(job.Methods);
  decoder->SetFastInflate(job.Fast);
  TZADecodeVerdict verdict = decoder->DecodeBuffer(job.Data.data(), job.Data.size(), coding, sink, into.data(),
                                                  into.size());
  if (!verdict.Passed() || verdict.Stopped) return false;
  if (job.Keep) job.Output.resize(static_cast<std::size_t>(verdict.Produced));
  return true;
}

}  // namespace za
