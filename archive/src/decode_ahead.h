#pragma once
// Entries decoded ahead. While the batch reports one entry (or writes it
// out), a helper thread inflates and checks the data of the next ones,
// which the batch has read into memory for it; for extraction it keeps
// what came out. Only a pass is taken from the helper: an entry it did
// not reach, or that did not pass, is decoded by the batch as always, so
// every failure, question and message comes from the one decoder, in
// order. The helper touches nothing but the bytes it was given.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "archive/methods.h"
#include "pipeline.h"

namespace za {

class TZADecoder;

// An allocator whose vectors grow without zeroing what they add: the bytes
// are read or inflated into at once, and zeroing hundreds of megabytes
// first would cost a good part of what reading them does.
template <typename T>
struct TZAUninitializedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = TZAUninitializedAllocator<U>;
  };
  TZAUninitializedAllocator() = default;
  template <typename U>
  TZAUninitializedAllocator(const TZAUninitializedAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

class TZADecodeAhead {
 public:
  // Declared bytes of an entry whose output is kept: less than one output
  // piece of the batch's decoder, so that a pass is one piece, written and
  // reported as the decoder writes and reports it.
  static constexpr std::uint64_t kLargestKept = (1u << 20) - 1;
  // Bytes held at most, packed and kept. Now that the batch keeps the
  // helper's queue full rather than refilling it in waves, this bound is
  // what the helper holds nearly all the time: 1.5 MiB keeps a test or an
  // extraction under 16 MiB and the helper as busy as 3 MiB did.
  static constexpr std::uint64_t kHeld = 3u << 19;
  static constexpr std::size_t kAhead = 64;         // entries read ahead at most

  using Bytes = std::vector<std::uint8_t, TZAUninitializedAllocator<std::uint8_t>>;

  struct Job {
    Bytes Data;  // as stored in the archive; deflated data after a zlib header
    bool Deflated = false;
    std::uint16_t Method = 0;               // the method of data not deflated
    const TZAMethods* Methods = nullptr;    // where the codecs of other methods come from
    bool Fast = false;  // through the faster inflater, as the batch's decoder
    bool Keep = false;  // the output is wanted (compressed, declared size up to kLargestKept)
    std::uint64_t Size = 0;  // declared size
    std::uint32_t Crc32 = 0;
    Bytes Output;  // of a kept job that passed
  };

  // `count`: the entries of the batch, by their order among the selected.
  explicit TZADecodeAhead(std::size_t count);
  ~TZADecodeAhead();
  TZADecodeAhead(const TZADecodeAhead&) = delete;
  TZADecodeAhead& operator=(const TZADecodeAhead&) = delete;

  // Whether the data of entry `k` may be read now: it is not read yet, and
  // what is held leaves room for `bytes` more (packed, and kept output).
  bool Wants(std::size_t k, std::uint64_t bytes);
  // Hands the data of entry `k` to the helper.
  void Offer(std::size_t k, Job job);
  // Whether entry `k` decoded to its declared size and checksum; false
  // also for an entry whose data was not offered (the caller then decodes
  // it itself, as it does one that failed here). `output`, when given,
  // receives what a kept job gave, and a job not kept does not pass.
  bool Passed(std::size_t k, Bytes* output = nullptr);

  // Inflates and checks a job exactly as the batch's decoder does, into
  // job.Output when kept (else into `scratch`); false also when `stop` is
  // set meanwhile. `decoder`, when given, is one used before.
  static bool Check(Job& job, Bytes& scratch, const std::atomic<bool>& stop, TZADecoder* decoder = nullptr);

  // Buffers for jobs and outputs, and back when done with: thousands of
  // entries fresh from the allocator would each be fresh memory from the
  // system, page faults and all (many times bsdtar's count).
  Bytes TakeBuffer();
  void GiveBack(Bytes buffer);

  // The batch's reading ahead: entries before this one were offered or
  // left to the batch.
  std::size_t Looked = 0;

 private:
  // The work on one job, on a helper or on the caller's thread.
  bool Make(Job& job, const std::atomic<bool>& stop);
  void Drop(Job& job);

  std::mutex spareMutex_;
  std::vector<Bytes> spare_;
  std::uint64_t spareBytes_ = 0;
  static constexpr std::uint64_t kSpare = 1u << 20;  // capacity kept spare at most
  // Decoders of the threads at work, kept for the next job: a codec's
  // buffers and library state made anew for every entry cost it more than
  // the decoding of a small one. So is the buffer a test inflates into,
  // which nobody reads: taken from the spares, it was fresh memory (page
  // faults and all) for most entries.
  struct Worker {
    std::unique_ptr<TZADecoder> decoder;
    Bytes scratch;
  };
  std::vector<Worker> workers_;
  TZAPipeline<Job> pipeline_;  // last: its helper uses the rest
};

}  // namespace za
