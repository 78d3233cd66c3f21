#include "compress_ahead.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "crc32.h"
#include "sys/thread.h"
#include "sys/wide_file.h"

namespace za {

namespace {

// Results waiting for the commit may hold this much memory; a helper past
// it waits until the commit has taken some.
constexpr std::uint64_t kHeldLimit = 64u << 20;
constexpr std::size_t kAhead = 64;  // jobs a helper may be ahead of the commit

}  // namespace

bool ZADeflateBuffer(const std::uint8_t* data, std::size_t size, int level, std::vector<std::uint8_t>& out) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  // Output that would not be smaller is of no use: room for the data size
  // only, and a result that fills it counts as not shrinking.
  out.resize(size);
  z.next_in = const_cast<std::uint8_t*>(data);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(size);
  int rc = deflate(&z, Z_FINISH);
  std::size_t made = size - z.avail_out;
  deflateEnd(&z);
  if (rc != Z_STREAM_END || made >= size) return false;
  out.resize(made);
  return true;
}

TZACompressAhead::TZACompressAhead(std::vector<Job> jobs) : jobs_(std::move(jobs)), slots_(jobs_.size()) {
  unsigned cores = sys::ProcessorsAvailable();
  // The commit works too, on what no helper has begun.
  unsigned helpers = std::min<std::size_t>(cores, jobs_.size());
  for (unsigned i = 0; i < helpers; ++i) helpers_.push_back(std::make_unique<sys::Thread>([this] { Help(); }));
}

TZACompressAhead::~TZACompressAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  helpers_.clear();  // joins
}

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
  if (job.Level > 0 && !data.empty() && ZADeflateBuffer(data.data(), data.size(), job.Level, packed)) {
    result.Method = 8;
    result.Data = std::move(packed);
  } else {
    result.Method = 0;
    result.Data = std::move(data);
  }
  return true;
}

void TZACompressAhead::Help() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] {
      return stop_ || (next_ < slots_.size() && next_ < current_ + kAhead && held_ < kHeldLimit);
    });
    if (stop_) return;
    std::size_t k = next_++;
    if (slots_[k].state != State::Waiting) continue;
    slots_[k].state = State::Making;
    lock.unlock();
    Result result;
    bool made = Make(jobs_[k], result);
    lock.lock();
    Slot& slot = slots_[k];
    if (slot.state == State::Making) {
      slot.state = made ? State::Ready : State::Failed;
      if (made) {
        held_ += result.Data.size();
        slot.result = std::move(result);
      }
    }
    changed_.notify_all();
  }
}

bool TZACompressAhead::Take(std::size_t k, Result& result) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (k >= slots_.size()) return false;
  current_ = std::max(current_, k);
  changed_.notify_all();
  Slot& slot = slots_[k];
  if (slot.state == State::Waiting) {
    // Nobody has begun it: made here rather than waited for.
    slot.state = State::Taken;
    lock.unlock();
    return Make(jobs_[k], result);
  }
  changed_.wait(lock, [&] { return slot.state != State::Making; });
  bool ready = slot.state == State::Ready;
  if (ready) {
    held_ -= slot.result.Data.size();
    result = std::move(slot.result);
    slot.result = Result();
  }
  slot.state = State::Taken;
  changed_.notify_all();
  return ready;
}

}  // namespace za
