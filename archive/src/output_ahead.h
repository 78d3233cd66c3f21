#pragma once
// Output files made ahead. While one entry decodes, helper threads create
// the new files that the next entries will be decoded into, in the folders
// they are expected to go to: on many file systems creating a file costs a
// small entry more than decoding it, and creations on several threads
// overlap. Only folders that exist already are written into, and a file
// nobody takes is removed.
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
  // Makes a new file of our own in `folder`: its name and the open file.
  using TMaker = std::function<bool(std::u16string_view folder, std::u16string& name, sys::WideFile& file)>;

  // `folders[k]`: the folder the k-th entry of the batch is expected to go to.
  TZAOutputAhead(std::vector<std::u16string> folders, TMaker maker);
  ~TZAOutputAhead();
  TZAOutputAhead(const TZAOutputAhead&) = delete;
  TZAOutputAhead& operator=(const TZAOutputAhead&) = delete;

  // The file made for the k-th entry, when it lies in `folder`. False when
  // there is none; the caller then makes its own.
  bool Take(std::size_t k, std::u16string_view folder, std::u16string& name, sys::WideFile& file);

 private:
  enum class State { Waiting, Making, Ready, None };
  struct Slot {
    State state = State::Waiting;
    std::u16string name;
    sys::WideFile file;
  };
  void Help();
  static void Discard(Slot& slot);

  static constexpr std::size_t kAhead = 8;
  static constexpr int kHelpers = 2;
  std::vector<std::u16string> folders_;
  std::vector<Slot> slots_;
  TMaker maker_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0;     // the next slot a helper takes up
  std::size_t current_ = 0;  // slots before it are past
  bool stop_ = false;
  std::vector<std::unique_ptr<sys::Thread>> helpers_;  // last: they use the rest
};

}  // namespace za
