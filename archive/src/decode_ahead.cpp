#include "decode_ahead.h"

#include <algorithm>

#include "crc32.h"
#include "inflate_step.h"

namespace za {

namespace {

constexpr std::size_t kOutput = 0x100000;
static_assert(TZADecodeAhead::kLargestKept + 1 == kOutput);

}  // namespace

TZADecodeAhead::TZADecodeAhead(std::size_t count) : slots_(count) {
  helper_ = std::make_unique<sys::Thread>([this] { Help(); });
}

TZADecodeAhead::~TZADecodeAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  helper_.reset();
}

bool TZADecodeAhead::Wants(std::size_t k, std::uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  return k < slots_.size() && k >= current_ && k < current_ + kAhead && slots_[k].state == State::Empty &&
         bytes <= kHeld && held_ + bytes <= kHeld;
}

void TZADecodeAhead::Offer(std::size_t k, Job job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (k >= slots_.size() || k < current_ || slots_[k].state != State::Empty) return;
    Slot& slot = slots_[k];
    slot.held = job.Data.size() + (job.Keep ? job.Size : 0);
    held_ += slot.held;
    slot.job = std::move(job);
    slot.state = State::Waiting;
  }
  changed_.notify_all();
}

void TZADecodeAhead::Release(Slot& slot) {
  held_ -= slot.held;
  slot.held = 0;
  GiveBackLocked(slot.job.Data);
  GiveBackLocked(slot.job.Output);
  slot.job = Job();
  slot.state = State::Taken;
}

TZADecodeAhead::Bytes TZADecodeAhead::TakeBuffer() {
  std::lock_guard<std::mutex> lock(mutex_);
  return TakeBufferLocked();
}

void TZADecodeAhead::GiveBack(Bytes buffer) {
  std::lock_guard<std::mutex> lock(mutex_);
  GiveBackLocked(buffer);
}

TZADecodeAhead::Bytes TZADecodeAhead::TakeBufferLocked() {
  if (spare_.empty()) return Bytes();
  Bytes buffer = std::move(spare_.back());
  spare_.pop_back();
  spareBytes_ -= buffer.capacity();
  return buffer;
}

void TZADecodeAhead::GiveBackLocked(Bytes& buffer) {
  std::size_t capacity = buffer.capacity();
  if (capacity == 0 || spareBytes_ + capacity > kSpare) {
    buffer = Bytes();
    return;
  }
  buffer.clear();
  spareBytes_ += capacity;
  spare_.push_back(std::move(buffer));
  buffer = Bytes();
}

bool TZADecodeAhead::Passed(std::size_t k, Bytes* output) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (k >= slots_.size()) return false;
  // Entries passed over (not confirmed, folders, files kept) give their
  // room back; one the helper is at gives it back when done.
  for (; current_ <= k; ++current_) {
    Slot& past = slots_[current_];
    if (current_ < k && past.state != State::Making) Release(past);
  }
  // Rather than wait for the helper at work on this entry, the caller
  // checks a later one itself; one it has not begun it checks first.
  for (;;) {
    Slot& slot = slots_[k];
    std::size_t j = k;
    if (slot.state == State::Making) {
      for (j = k + 1; j < slots_.size() && j < k + kAhead; ++j)
        if (slots_[j].state == State::Waiting) break;
      if (j >= slots_.size() || j >= k + kAhead) {
        changed_.wait(lock, [&] { return slot.state != State::Making; });
        continue;
      }
    }
    if (slots_[j].state != State::Waiting) break;
    Make(lock, slots_[j]);
    if (j == k) break;
  }
  Slot& slot = slots_[k];
  bool passed = slot.state == State::Passed && (!output || slot.job.Keep);
  if (passed && output) *output = std::move(slot.job.Output);
  Release(slot);
  return passed;
}

void TZADecodeAhead::Make(std::unique_lock<std::mutex>& lock, Slot& slot) {
  slot.state = State::Making;
  Bytes scratch = slot.job.Keep ? Bytes() : TakeBufferLocked();
  if (slot.job.Keep && slot.job.Output.capacity() == 0) slot.job.Output = TakeBufferLocked();
  lock.unlock();
  bool passed = Check(slot.job, scratch, stop_, mutex_);
  lock.lock();
  GiveBackLocked(scratch);
  std::size_t k = static_cast<std::size_t>(&slot - slots_.data());
  if (k + 1 < current_) {
    // Passed over while it was made.
    Release(slot);
    changed_.notify_all();
    return;
  }
  held_ -= slot.job.Data.size();
  slot.held -= slot.job.Data.size();
  GiveBackLocked(slot.job.Data);
  if (!passed) {
    held_ -= slot.held;
    slot.held = 0;
    GiveBackLocked(slot.job.Output);
  }
  slot.state = passed ? State::Passed : State::Failed;
  changed_.notify_all();
}

void TZADecodeAhead::Help() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    std::size_t k = current_;
    auto ready = [&] {
      if (stop_) return true;
      for (k = current_; k < slots_.size() && k < current_ + kAhead; ++k)
        if (slots_[k].state == State::Waiting) return true;
      return false;
    };
    changed_.wait(lock, ready);
    if (stop_) return;
    Make(lock, slots_[k]);
  }
}

bool TZADecodeAhead::Check(Job& job, Bytes& scratch, const bool& stop, std::mutex& mutex) {
  auto stopped = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return stop;
  };
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
    if (stopped()) return false;
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
