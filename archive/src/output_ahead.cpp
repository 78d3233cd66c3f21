#include "output_ahead.h"

namespace za {

TZAOutputAhead::TZAOutputAhead(std::vector<std::u16string> folders, TMaker maker)
    : folders_(std::move(folders)), slots_(folders_.size()), maker_(std::move(maker)) {
  for (int i = 0; i < kHelpers; ++i) helpers_.push_back(std::make_unique<sys::Thread>([this] { Help(); }));
}

TZAOutputAhead::~TZAOutputAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  helpers_.clear();  // joins
  for (Slot& slot : slots_) Discard(slot);
}

void TZAOutputAhead::Discard(Slot& slot) {
  if (slot.state != State::Ready) return;
  slot.file.Close();
  sys::WideDeleteFile(slot.name);
  slot.state = State::None;
}

void TZAOutputAhead::Help() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || (next_ < slots_.size() && next_ < current_ + kAhead); });
    if (next_ + 1 < current_) next_ = current_ - 1;
    if (stop_) return;
    std::size_t k = next_++;
    // Entries the batch has reached are made by the batch itself.
    if (k < current_ || slots_[k].state != State::Waiting) continue;
    slots_[k].state = State::Making;
    lock.unlock();
    std::u16string name;
    sys::WideFile file;
    bool made = sys::WideDirectoryExists(folders_[k]) && maker_(folders_[k], name, file);
    lock.lock();
    Slot& slot = slots_[k];
    if (made) {
      slot.name = std::move(name);
      slot.file = std::move(file);
    }
    slot.state = made ? State::Ready : State::None;
    // A slot the batch has passed meanwhile is not wanted any more.
    if (k + 1 < current_ || stop_) Discard(slot);
    changed_.notify_all();
  }
}

bool TZAOutputAhead::Take(std::size_t k, std::u16string_view folder, std::u16string& name, sys::WideFile& file) {
  std::unique_lock<std::mutex> lock(mutex_);
  // Slots the batch went past (entries skipped, or made elsewhere) are of
  // no more use.
  for (std::size_t i = current_; i < k && i < slots_.size(); ++i) Discard(slots_[i]);
  if (k + 1 > current_) current_ = k + 1;
  changed_.notify_all();
  if (k >= slots_.size()) return false;
  Slot& slot = slots_[k];
  changed_.wait(lock, [&] { return slot.state != State::Making; });
  if (slot.state == State::Waiting) slot.state = State::None;  // made by the caller
  if (slot.state != State::Ready) return false;
  if (folders_[k] != folder) {
    Discard(slot);
    return false;
  }
  name = std::move(slot.name);
  file = std::move(slot.file);
  slot.state = State::None;
  return true;
}

}  // namespace za
