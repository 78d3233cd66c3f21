#include "decode_ahead.h"

#include <algorithm>

#include "crc32.h"
#include "inflate_step.h"

namespace za {

namespace {

constexpr std::size_t kOutput = 0x100000;
static_assert(TZADecodeAhead::kLargestKept + 1 == kOutput);

}  // namespace

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
  Bytes scratch = job.Keep ? Bytes() : TakeBuffer();
  if (job.Keep && job.Output.capacity() == 0) job.Output = TakeBuffer();
  bool passed = Check(job, scratch, stop);
  GiveBack(std::move(scratch));
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

bool TZADecodeAhead::Check(Job& job, Bytes& scratch, const std::atomic<bool>& stop) {
  if (!job.Deflated) {
    // Stored data longer than declared fails where it passes the size.
    return !job.Keep && job.Data.size() == job.Size && ZACrc32(0, job.Data.data(), job.Data.size()) == job.Crc32;
  }
  if (job.Keep && job.Size > kLargestKept) return false;
  InflateStream inflater;
  if (!inflater.Ok()) return false;
  z_stream& z = inflater.Z();
  // The batch's decoder gives inflate room for one byte past the declared
  // size, or a piece of kOutput; so does this.
  std::size_t outSize = job.Size >= kOutput ? kOutput : static_cast<std::size_t>(job.Size) + 1;
  Bytes& into = job.Keep ? job.Output : scratch;
  into.resize(outSize);
  std::uint8_t* output = into.data();
  std::uint32_t crc = 0;
  std::uint64_t produced = 0;
  // Fed whole rather than in chunks: inflate's verdict does not depend on
  // where its input is cut.
  z.next_in = job.Data.data();
  z.avail_in = static_cast<uInt>(job.Data.size());
  for (int call = 0;; ++call) {
    if (stop) return false;
    // A kept job that passes is one piece; one that needs a second call
    // is left to the batch, which decides it.
    if (job.Keep && call > 0) return false;
    std::size_t have;
    InflateResult step = InflateStep(z, output, outSize, job.Size - produced, have);
    if (step == InflateResult::Failed) return false;
    crc = ZACrc32(crc, output, have);
    produced += have;
    if (step == InflateResult::Done) break;
  }
  if (produced != job.Size || crc != job.Crc32) return false;
  if (job.Keep) job.Output.resize(static_cast<std::size_t>(produced));
  return true;
}

}  // namespace za
