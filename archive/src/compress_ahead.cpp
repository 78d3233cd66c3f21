#include "compress_ahead.h"

#include <algorithm>
#include <cstring>

#include "crc32.h"
#include "deflate_encoder.h"
#include "sys/thread.h"
#include "sys/wide_file.h"

namespace za {

namespace {

// Results waiting for the commit may hold this much memory; helpers past
// it wait until the commit has taken some.
constexpr std::uint64_t kHeldLimit = 64u << 20;
constexpr std::size_t kAhead = 64;  // jobs a helper may be ahead of the commit

}  // namespace

bool ZAEncodeBuffer(TZAEncoder& encoder, const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
  // Output that reaches the data's size is stored instead, so it is not
  // kept: for random data it would be a second copy of the file.
  class Sink final : public TZAEncodeSink {
   public:
    Sink(std::vector<std::uint8_t>& out, std::size_t limit) : out_(out), limit_(limit) {}
    void Put(std::uint8_t* bytes, std::size_t n) override {
      if (full_ || n >= limit_ - out_.size()) {
        full_ = true;
        return;
      }
      out_.insert(out_.end(), bytes, bytes + n);
    }
    bool Full() const { return full_; }

   private:
    std::vector<std::uint8_t>& out_;
    std::size_t limit_;
    bool full_ = false;
  } sink(out, size);
  out.clear();
  return encoder.Encode(data, size, true, sink) && !sink.Full();
}

TZACompressAhead::TZACompressAhead(std::vector<Job> jobs) {
  TZAPipelineBounds bounds;
  bounds.Ahead = kAhead;
  bounds.Bytes = kHeldLimit;
  bounds.HeldStopsHelpers = true;
  // The commit works too, on what no helper has begun.
  bounds.Helpers = static_cast<unsigned>(std::min<std::size_t>(sys::ProcessorsAvailable(), jobs.size()));
  pipeline_ = std::make_unique<TZAPipeline<Work>>(
      jobs.size(), bounds, [](Work& work, const std::atomic<bool>&) { return Make(work.job, work.result); },
      [](const Work& work, bool made) { return made ? std::uint64_t{work.result.Data.size()} : 0; });
  for (std::size_t k = 0; k < jobs.size(); ++k) pipeline_->Offer(k, Work{std::move(jobs[k]), Result()});
}

TZACompressAhead::~TZACompressAhead() = default;

bool TZACompressAhead::Make(const Job& job, Result& result) {
  sys::WideFile file;
  if (!file.Open(job.File, sys::FileAccess::Read, sys::FileShare::DenyNone)) return false;
  std::int64_t size = file.Size();
  if (size < 0 || static_cast<std::uint64_t>(size) > kLargest) return false;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(size) + 1);
  std::int64_t got = 0;
  for (std::int64_t n; got < static_cast<std::int64_t>(data.size()); got += n) {
    n = file.Read(data.data() + got, static_cast<std::int64_t>(data.size()) - got);
    if (n < 0) return false;
    if (n == 0) break;
  }
  // A file that grew meanwhile is left to the commit, which streams it.
  if (got > size) return false;
  data.resize(static_cast<std::size_t>(got));
  result.Size = data.size();
  result.Crc32 = ZACrc32(0, data.data(), data.size());
  std::vector<std::uint8_t> packed;
  std::unique_ptr<TZAEncoder> encoder;
  if (!data.empty()) encoder = ZAEncoderFor(job.Method, job.Level, data.size(), job.Methods, job.Fast);
  if (encoder && ZAEncodeBuffer(*encoder, data.data(), data.size(), packed)) {
    result.Method = encoder->Method();
    result.Needed = encoder->VersionNeeded();
    result.Flags = encoder->Flags();
    result.Data = std::move(packed);
  } else {
    result.Method = 0;
    result.Data = std::move(data);
  }
  return true;
}

bool TZACompressAhead::Take(std::size_t k, Result& result) {
  Work work;
  if (pipeline_->Take(k, work, true) != TZAPipeline<Work>::TOutcome::Succeeded) return false;
  result = std::move(work.result);
  return true;
}

}  // namespace za
