#pragma once
// Output files made ahead. While one entry decodes, helper threads create
// the files that the next entries will be decoded into, at the paths they
// are expected to go to: on many file systems creating a file costs a
// small entry more than decoding it, and creations on several threads
// overlap. A file is only made where no file is (so nothing of the user's
// is touched, and the entry needs no file of its own beside it), and a
// file nobody takes is removed.
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sys/thread.h"
#include "sys/wide_file.h"

namespace za {

class TZAOutputAhead {
 public:
  // Makes a new file at `path`, where nothing may be yet.
  using TMaker = std::function<bool(std::u16string_view path, sys::WideFile& file)>;

  // `paths[k]`: where the k-th entry of the batch is expected to go; empty
  // for none to be made ahead.
  TZAOutputAhead(std::vector<std::u16string> paths, TMaker maker);
  ~TZAOutputAhead();
  TZAOutputAhead(const TZAOutputAhead&) = delete;
  TZAOutputAhead& operator=(const TZAOutputAhead&) = delete;

  // The file made at `path` for the k-th entry. False when there is none;
  // then no file made ahead is left at `path` either (one made for a later
  // entry that a handler's name now points at is removed), and the caller
  // makes its own.
  bool Take(std::size_t k, std::u16string_view path, sys::WideFile& file);

 private:
  enum class State { Waiting, Making, Ready, None };
  struct Slot {
    State state = State::Waiting;
    sys::WideFile file;
  };
  void Help();
  void Discard(std::size_t k);
  // Slots a helper could take up now.
  std::size_t Room() const;
  void WaitWhileMaking(std::unique_lock<std::mutex>& lock, const Slot& slot);

  static constexpr std::size_t kAhead = 8;
  static constexpr int kHelpers = 2;
  std::vector<std::u16string> paths_;
  std::vector<Slot> slots_;
  TMaker maker_;
  std::mutex mutex_;
  // Helpers wait for room, the batch for a file being made. Each side is
  // woken only when it waits and, for the helpers, only when there is room
  // for several files: a wake-up per file costs as much as what it saves.
  std::condition_variable work_;
  std::condition_variable done_;
  std::size_t next_ = 0;     // the next slot a helper takes up
  std::size_t current_ = 0;  // slots before it are past
  int idle_ = 0;             // helpers waiting for room
  bool batchWaits_ = false;
  bool stop_ = false;
  std::vector<std::unique_ptr<sys::Thread>> helpers_;  // last: they use the rest
};

}  // namespace za
