#include "test_ahead.h"

#include <zlib.h>

#include <algorithm>

#include "crc32.h"

namespace za {

namespace {

constexpr std::size_t kOutput = 0x100000;

}  // namespace

TZATestAhead::TZATestAhead(std::size_t count) : slots_(count) {
  helper_ = std::make_unique<sys::Thread>([this] { Help(); });
}

TZATestAhead::~TZATestAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  helper_.reset();
}

bool TZATestAhead::Wants(std::size_t k, std::uint64_t packed) {
  std::lock_guard<std::mutex> lock(mutex_);
  return k < slots_.size() && k >= current_ && k < current_ + kAhead && slots_[k].state == State::Empty &&
         packed <= kLargest && held_ + packed <= kHeld;
}

void TZATestAhead::Offer(std::size_t k, Job job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (k >= slots_.size() || k < current_ || slots_[k].state != State::Empty) return;
    held_ += job.Data.size();
    slots_[k].job = std::move(job);
    slots_[k].state = State::Waiting;
  }
  changed_.notify_all();
}

bool TZATestAhead::Passed(std::size_t k) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (k >= slots_.size()) return false;
  // Entries passed over (not confirmed, folders) give their room back.
  for (; current_ <= k; ++current_) {
    Slot& past = slots_[current_];
    if (past.state == State::Waiting && current_ < k) {
      held_ -= past.job.Data.size();
      past.job = Job();
      past.state = State::Taken;
    }
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
  bool passed = slot.state == State::Passed;
  slot.state = State::Taken;
  return passed;
}

void TZATestAhead::Make(std::unique_lock<std::mutex>& lock, Slot& slot) {
  slot.state = State::Making;
  lock.unlock();
  bool passed = Check(slot.job, stop_, mutex_);
  lock.lock();
  held_ -= slot.job.Data.size();
  slot.job = Job();
  slot.state = passed ? State::Passed : State::Failed;
  changed_.notify_all();
}

void TZATestAhead::Help() {
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

bool TZATestAhead::Check(const Job& job, const bool& stop, std::mutex& mutex) {
  auto stopped = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return stop;
  };
  if (!job.Deflated) {
    // Stored data longer than declared fails where it passes the size.
    return job.Data.size() == job.Size && ZACrc32(0, job.Data.data(), job.Data.size()) == job.Crc32;
  }
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  struct End {
    z_stream& z;
    ~End() { inflateEnd(&z); }
  } end{z};
  if (inflateValidate(&z, 0) != Z_OK) return false;
  std::size_t outSize = job.Size >= kOutput ? kOutput : static_cast<std::size_t>(job.Size) + 1;
  std::unique_ptr<std::uint8_t[]> output(new std::uint8_t[outSize]);
  std::uint32_t crc = 0;
  std::uint64_t produced = 0;
  // Fed whole rather than in chunks: inflate's verdict does not depend on
  // where its input is cut.
  z.next_in = const_cast<std::uint8_t*>(job.Data.data());
  z.avail_in = static_cast<uInt>(job.Data.size());
  for (;;) {
    if (stopped()) return false;
    z.next_out = output.get();
    z.avail_out = static_cast<uInt>(outSize);
    uInt before = z.avail_in;
    int result = inflate(&z, Z_NO_FLUSH);
    if (result < 0) return false;
    std::size_t have = outSize - z.avail_out;
    if (have > job.Size - produced) return false;
    crc = ZACrc32(crc, output.get(), have);
    produced += have;
    if (result == Z_STREAM_END || z.avail_in == 0 || (have == 0 && z.avail_in == before)) break;
  }
  return produced == job.Size && crc == job.Crc32;
}

}  // namespace za
