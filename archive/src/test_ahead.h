#pragma once
// Entries tested ahead. While the batch reports one entry, a helper thread
// inflates and checks the data of the next ones, which the batch has read
// into memory for it. Only a pass is taken from the helper: an entry it
// did not reach, or that did not pass, is decoded by the batch as always,
// so every failure, question and message comes from the one decoder, in
// order. The helper touches nothing but the bytes it was given.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "sys/thread.h"

namespace za {

class TZATestAhead {
 public:
  static constexpr std::uint64_t kLargest = 2u << 20;  // packed bytes of one entry taken
  static constexpr std::uint64_t kHeld = 4u << 20;     // packed bytes held at most
  static constexpr std::size_t kAhead = 64;            // entries read ahead at most

  struct Job {
    std::vector<std::uint8_t> Data;  // as stored in the archive; deflated data after a zlib header
    bool Deflated = false;
    std::uint64_t Size = 0;  // declared size
    std::uint32_t Crc32 = 0;
  };

  // `count`: the entries of the batch, by their order among the selected.
  explicit TZATestAhead(std::size_t count);
  ~TZATestAhead();
  TZATestAhead(const TZATestAhead&) = delete;
  TZATestAhead& operator=(const TZATestAhead&) = delete;

  // Whether the data of entry `k` may be read now: it is not read yet, and
  // what is held leaves room for `packed` bytes.
  bool Wants(std::size_t k, std::uint64_t packed);
  // Hands the data of entry `k` to the helper.
  void Offer(std::size_t k, Job job);
  // Whether entry `k` decoded to its declared size and checksum; false
  // also for an entry whose data was not offered (the caller then decodes
  // it itself, as it does one that failed here).
  bool Passed(std::size_t k);

  // Inflates and checks a job exactly as the batch's decoder does; false
  // also when `stop` is set meanwhile.
  static bool Check(const Job& job, const bool& stop, std::mutex& mutex);

 private:
  enum class State { Empty, Waiting, Making, Passed, Failed, Taken };
  struct Slot {
    State state = State::Empty;
    Job job;
  };
  void Help();
  // Checks a waiting slot with the lock released meanwhile.
  void Make(std::unique_lock<std::mutex>& lock, Slot& slot);

  std::vector<Slot> slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t current_ = 0;  // slots before it are past
  std::uint64_t held_ = 0;
  bool stop_ = false;
  std::unique_ptr<sys::Thread> helper_;  // last: it uses the rest
};

}  // namespace za
