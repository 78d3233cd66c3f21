#pragma once
// Work done ahead on helper threads, taken in order. The k-th item of a
// batch lives in a ring of slots only while it is near the batch; helpers
// work on the items ahead of the one the batch is at, within a count bound
// (the window) and a byte bound (what waiting and finished items hold),
// and the batch takes each item's outcome in its order. Items the batch passes over are dropped; stopping (a cancel, or
// the end of the batch) makes a helper's work give up and ends the helpers.
//
// The work runs outside the lock; everything else runs under it, the drop
// hook included (it is short: closing a file, handing a buffer back).
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "sys/thread.h"

namespace za {

struct TZAPipelineBounds {
  std::size_t Ahead = 64;  // items past the batch's one a helper may be at
  std::uint64_t Bytes = std::numeric_limits<std::uint64_t>::max();  // held by waiting and finished items
  unsigned Helpers = 1;
  // Whether helpers wait while the byte bound is reached (work whose
  // outcome is larger than what was offered); else the bound is kept by
  // what is offered.
  bool HeldStopsHelpers = false;
  // Idle helpers are woken when this many slots are free to work on (or
  // the rest of the batch is): for work much cheaper than a wake-up, one
  // per item would cost what it saves.
  std::size_t WakeRoom = 1;
};

template <typename Item>
class TZAPipeline {
 public:
  // Does the work of one item; false when it failed. `stop` is set when the
  // pipeline stops meanwhile: the work then gives up.
  using TWork = std::function<bool(Item& item, const std::atomic<bool>& stop)>;
  // What an item holds once worked on (counted against the byte bound
  // until it is taken or dropped).
  using THeld = std::function<std::uint64_t(const Item& item, bool succeeded)>;
  // An item nobody will take: called for finished items passed over.
  using TDrop = std::function<void(Item& item, bool succeeded)>;

  enum class TOutcome { Succeeded, Failed, NotOffered };

  TZAPipeline(std::size_t count, TZAPipelineBounds bounds, TWork work, THeld held = {}, TDrop drop = {})
      : bounds_(bounds), count_(count),
        // The window, and what helpers still make of items passed over: a
        // batch of a million entries needs no million slots. An item whose
        // slot is still taken by an older one is not offered.
        slots_(bounds.Ahead >= count ? count : std::min<std::size_t>(count, bounds.Ahead + bounds.Helpers + 1)),
        work_(std::move(work)), heldAfter_(std::move(held)), drop_(std::move(drop)) {
    for (unsigned i = 0; i < bounds_.Helpers; ++i)
      helpers_.push_back(std::make_unique<sys::Thread>([this] { Help(); }));
  }
  ~TZAPipeline() {
    Stop();
    helpers_.clear();  // joins
    std::lock_guard<std::mutex> lock(mutex_);
    for (Slot& slot : slots_) Drop(slot);
  }
  TZAPipeline(const TZAPipeline&) = delete;
  TZAPipeline& operator=(const TZAPipeline&) = delete;

  std::size_t Count() const { return count_; }

  // Ends the helpers' work: what they are at gives up, nothing new begins.
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      stopFlag_ = true;
    }
    work_ready_.notify_all();
    done_.notify_all();
  }

  // Whether item `k` may be offered now: within the window, not offered
  // yet, and `bytes` more fit the byte bound.
  bool Wants(std::size_t k, std::uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    return k < count_ && k >= current_ && k < current_ + bounds_.Ahead && Free(k) &&
           bytes <= bounds_.Bytes && heldTotal_ + bytes <= bounds_.Bytes;
  }

  // Gives item `k` to the helpers; `bytes` count against the byte bound
  // until it is worked on. An item passed over or offered before is not
  // taken.
  void Offer(std::size_t k, Item item, std::uint64_t bytes = 0) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (k >= count_ || k < current_ || SlotOf(k) || pending_.count(k)) return;
      heldTotal_ += bytes;
      // Behind items still pending, or with its slot still an older
      // item's, it waits its turn.
      if (Free(k) && (pending_.empty() || pending_.begin()->first > k))
        Place(k, std::move(item), bytes);
      else
        pending_.emplace(k, Pending{std::move(item), bytes}), Promote();
      WakeHelpers();
    }
  }

  // The outcome of item `k`, into `item`; items before it are passed over.
  // An item no helper has begun is worked on here when `workHere` is set
  // (else it is left to the caller: NotOffered). With `stealWhileWaiting`
  // the caller, rather than wait for a helper at work on item `k`, works
  // on a later waiting item meanwhile.
  TOutcome Take(std::size_t k, Item& item, bool workHere, bool stealWhileWaiting = false) {
    std::unique_lock<std::mutex> lock(mutex_);
    PassOver(k);
    WakeHelpers();
    Slot* held = SlotOf(k);
    // Offered while its slot held an older item a helper is still making.
    while (!held && pending_.count(k) && slots_[k % slots_.size()].state == State::Making) {
      WaitWhileMaking(lock, slots_[k % slots_.size()]);
      Promote();
      held = SlotOf(k);
    }
    if (!held) return TOutcome::NotOffered;
    Slot& slot = *held;
    for (;;) {
      if (slot.state == State::Making) {
        std::size_t j = stealWhileWaiting ? LaterWaiting(k) : count_;
        if (j < count_) {
          WorkOn(lock, j);
          continue;
        }
        WaitWhileMaking(lock, slot);
        continue;
      }
      if (slot.state == State::Waiting && workHere) {
        WorkOn(lock, k);
        continue;
      }
      break;
    }
    TOutcome outcome = TOutcome::NotOffered;
    if (slot.state == State::Waiting) --waiting_;
    if (slot.state == State::Succeeded || slot.state == State::Failed) {
      outcome = slot.state == State::Succeeded ? TOutcome::Succeeded : TOutcome::Failed;
      item = std::move(slot.item);
      slot.item = Item();
    }
    Release(slot);
    WakeHelpers();
    return outcome;
  }

  // Takes item `k` out of the pipeline without its outcome: waits while a
  // helper is at it and drops what it made.
  void Cancel(std::size_t k) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (auto it = pending_.find(k); it != pending_.end()) {
      heldTotal_ -= it->second.held;
      pending_.erase(it);
      return;
    }
    Slot* held = SlotOf(k);
    if (!held) return;
    Slot& slot = *held;
    WaitWhileMaking(lock, slot);
    if (slot.state == State::Waiting) --waiting_;
    Drop(slot);
    Release(slot);
  }

  // Helpers at work on an item now.
  unsigned AtWork() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<unsigned>(std::count_if(slots_.begin(), slots_.end(),
                                               [](const Slot& slot) { return slot.state == State::Making; }));
  }

  // Runs `f` under the pipeline's lock (for state the items share).
  template <typename F>
  auto Locked(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f();
  }

 private:
  enum class State { Empty, Waiting, Making, Succeeded, Failed, Taken };
  struct Slot {
    State state = State::Empty;
    std::size_t index = 0;  // of the item in the slot, unless Empty
    Item item{};
    std::uint64_t held = 0;  // counted in heldTotal_
  };

  // The slot of item `k`, when the ring holds it.
  Slot* SlotOf(std::size_t k) {
    if (k >= count_) return nullptr;
    Slot& slot = slots_[k % slots_.size()];
    return slot.state != State::Empty && slot.index == k ? &slot : nullptr;
  }
  const Slot* SlotOf(std::size_t k) const { return const_cast<TZAPipeline*>(this)->SlotOf(k); }
  // Whether item `k` may take its slot: never offered, and the slot free
  // of any older item.
  bool Free(std::size_t k) const {
    const Slot& slot = slots_[k % slots_.size()];
    return slot.state == State::Empty || (slot.state == State::Taken && slot.index < k);
  }
  void Place(std::size_t k, Item item, std::uint64_t bytes) {
    Slot& slot = slots_[k % slots_.size()];
    slot.index = k;
    slot.item = std::move(item);
    slot.held = bytes;
    slot.state = State::Waiting;
    ++waiting_;
  }
  // Pending items whose slots have come free take them.
  void Promote() {
    for (auto it = pending_.begin(); it != pending_.end();) {
      if (!Free(it->first)) {
        ++it;
        continue;
      }
      Place(it->first, std::move(it->second.item), it->second.held);
      it = pending_.erase(it);
    }
  }

  void Release(Slot& slot) {
    heldTotal_ -= slot.held;
    slot.held = 0;
    slot.state = State::Taken;
  }
  void Drop(Slot& slot) {
    if (slot.state != State::Succeeded && slot.state != State::Failed) return;
    if (drop_) drop_(slot.item, slot.state == State::Succeeded);
    slot.item = Item();
    Release(slot);
  }
  // Items before `k` are of no more use; one a helper is at is dropped by
  // the helper when done.
  void PassOver(std::size_t k) {
    for (; current_ < k && current_ < count_; ++current_) {
      Slot* held = SlotOf(current_);
      if (!held) continue;
      Slot& past = *held;
      if (past.state == State::Making) continue;
      if (past.state == State::Waiting) --waiting_;
      Drop(past);
      Release(past);
    }
    current_ = std::max(current_, k + 1);
    // Item `k` itself, still pending, is the caller's to wait for.
    while (!pending_.empty() && pending_.begin()->first < k) {
      heldTotal_ -= pending_.begin()->second.held;
      pending_.erase(pending_.begin());
    }
    Promote();
  }
  bool IsWaiting(std::size_t j) const {
    const Slot* slot = SlotOf(j);
    return slot && slot->state == State::Waiting;
  }
  std::size_t LaterWaiting(std::size_t k) const {
    for (std::size_t j = k + 1; j < count_ && j < k + bounds_.Ahead; ++j)
      if (IsWaiting(j)) return j;
    return count_;
  }
  // The first waiting item a helper may begin, or Count().
  std::size_t NextForHelper() const {
    if (stop_ || waiting_ == 0 || (bounds_.HeldStopsHelpers && heldTotal_ >= bounds_.Bytes)) return count_;
    for (std::size_t j = current_; j < count_ && j < current_ + bounds_.Ahead; ++j)
      if (IsWaiting(j)) return j;
    return count_;
  }
  // Counted in items waiting, not in the window's size: the window is as
  // large all the time, and an offer of one item would wake a helper for it.
  void WakeHelpers() {
    if (idle_ == 0 || waiting_ == 0) return;
    if (waiting_ >= bounds_.WakeRoom || current_ + bounds_.Ahead >= count_) work_ready_.notify_one();
  }
  void WaitWhileMaking(std::unique_lock<std::mutex>& lock, const Slot& slot) {
    if (slot.state != State::Making) return;
    ++batchWaits_;
    done_.wait(lock, [&] { return slot.state != State::Making; });
    --batchWaits_;
  }
  // Works on waiting item `j` with the lock released meanwhile.
  void WorkOn(std::unique_lock<std::mutex>& lock, std::size_t j, bool helper = false) {
    Slot& slot = *SlotOf(j);
    slot.state = State::Making;
    --waiting_;
    if (helper) WakeHelpers();  // another may take the next
    lock.unlock();
    bool succeeded = work_(slot.item, stopFlag_);
    lock.lock();
    if (heldAfter_) {
      heldTotal_ -= slot.held;
      slot.held = heldAfter_(slot.item, succeeded);
      heldTotal_ += slot.held;
    }
    slot.state = succeeded ? State::Succeeded : State::Failed;
    // Passed over while it was made (the batch is at current_ - 1).
    if (j + 1 < current_ || stop_) {
      Drop(slot);
      Promote();
    }
    if (batchWaits_ > 0) done_.notify_all();
    if (bounds_.HeldStopsHelpers) work_ready_.notify_all();
  }
  void Help() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      std::size_t k = count_;
      ++idle_;
      work_ready_.wait(lock, [&] { return stop_ || (k = NextForHelper()) < count_; });
      --idle_;
      if (stop_) return;
      WorkOn(lock, k, true);
    }
  }

  TZAPipelineBounds bounds_;
  std::size_t count_;
  std::vector<Slot> slots_;
  // Items offered ahead of the ring, by their number, until their slots
  // come free: a caller may offer the whole batch at once.
  struct Pending {
    Item item;
    std::uint64_t held;
  };
  std::map<std::size_t, Pending> pending_;
  TWork work_;
  THeld heldAfter_;
  TDrop drop_;
  std::mutex mutex_;
  // Helpers wait for work, the batch for an item being made.
  std::condition_variable work_ready_;
  std::condition_variable done_;
  std::size_t current_ = 0;  // slots before it are past (the batch is at current_ - 1)
  std::size_t waiting_ = 0;  // slots offered and not begun
  std::uint64_t heldTotal_ = 0;
  int idle_ = 0;
  int batchWaits_ = 0;
  bool stop_ = false;
  std::atomic<bool> stopFlag_{false};
  std::vector<std::unique_ptr<sys::Thread>> helpers_;  // last: they use the rest
};

}  // namespace za
