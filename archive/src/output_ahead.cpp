#include "output_ahead.h"

#include <algorithm>

namespace za {

TZAOutputAhead::TZAOutputAhead(std::vector<std::u16string> paths, TMaker maker)
    : paths_(std::move(paths)), slots_(paths_.size()), maker_(std::move(maker)) {
  for (int i = 0; i < kHelpers; ++i) helpers_.push_back(std::make_unique<sys::Thread>([this] { Help(); }));
}

TZAOutputAhead::~TZAOutputAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  helpers_.clear();  // joins
  for (std::size_t k = 0; k < slots_.size(); ++k) Discard(k);
}

void TZAOutputAhead::Discard(std::size_t k) {
  Slot& slot = slots_[k];
  if (slot.state != State::Ready) return;
  slot.file.Close();
  sys::WideDeleteFile(paths_[k]);
  slot.state = State::None;
}

std::size_t TZAOutputAhead::Room() const {
  std::size_t from = std::max(next_, current_);
  std::size_t to = std::min(slots_.size(), current_ + kAhead);
  return from < to ? to - from : 0;
}

void TZAOutputAhead::Help() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ++idle_;
    work_.wait(lock, [this] { return stop_ || Room() > 0; });
    --idle_;
    if (stop_) return;
    next_ = std::max(next_, current_);
    std::size_t k = next_++;
    if (idle_ > 0 && Room() > 0) work_.notify_one();
    // Entries the batch has reached are made by the batch itself.
    if (slots_[k].state != State::Waiting) continue;
    slots_[k].state = State::Making;
    lock.unlock();
    sys::WideFile file;
    bool made = !paths_[k].empty() && maker_(paths_[k], file);
    lock.lock();
    Slot& slot = slots_[k];
    if (made) slot.file = std::move(file);
    slot.state = made ? State::Ready : State::None;
    // A slot the batch has passed meanwhile is not wanted any more.
    if (k + 1 < current_ || stop_) Discard(k);
    if (batchWaits_) done_.notify_one();
  }
}

void TZAOutputAhead::WaitWhileMaking(std::unique_lock<std::mutex>& lock, const Slot& slot) {
  if (slot.state != State::Making) return;
  batchWaits_ = true;
  done_.wait(lock, [&] { return slot.state != State::Making; });
  batchWaits_ = false;
}

bool TZAOutputAhead::Take(std::size_t k, std::u16string_view path, sys::WideFile& file) {
  std::unique_lock<std::mutex> lock(mutex_);
  // Slots the batch went past (entries skipped, or made elsewhere) are of
  // no more use.
  for (std::size_t i = current_; i < k && i < slots_.size(); ++i) Discard(i);
  if (k + 1 > current_) current_ = k + 1;
  std::size_t room = Room();
  if (idle_ > 0 && room > 0 && (room >= kAhead / 2 || std::max(next_, current_) + room == slots_.size()))
    work_.notify_one();
  if (k >= slots_.size()) return false;
  Slot& slot = slots_[k];
  WaitWhileMaking(lock, slot);
  if (slot.state == State::Waiting) slot.state = State::None;  // made by the caller
  if (slot.state == State::Ready && paths_[k] == path) {
    file = std::move(slot.file);
    slot.state = State::None;
    return true;
  }
  Discard(k);
  // A file being made for a later entry at this path is waited for, so
  // that it is gone before the caller looks there.
  for (std::size_t i = k + 1; i < slots_.size() && i < k + 1 + kAhead; ++i) {
    if (paths_[i] != path) continue;
    WaitWhileMaking(lock, slots_[i]);
    Discard(i);
    slots_[i].state = State::None;
  }
  return false;
}

}  // namespace za
