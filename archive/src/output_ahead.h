#pragma once
// Output files made ahead. While one entry decodes, helper threads create
// the files that the next entries will be decoded into, at the paths they
// are expected to go to: on many file systems creating a file costs a
// small entry more than decoding it, and creations on several threads
// overlap. A file is only made where no file is (so nothing of the user's
// is touched, and the entry needs no file of its own beside it), and a
// file nobody takes is removed.
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline.h"
#include "sys/wide_file.h"

namespace za {

class TZAOutputAhead {
 public:
  // Makes a new file at `path`, where nothing may be yet.
  using TMaker = std::function<bool(std::u16string_view path, sys::WideFile& file)>;

  // Where the k-th entry of the batch is expected to go; empty for none to
  // be made ahead. Asked only for the entries near the batch's one.
  using TPathOf = std::function<std::u16string(std::size_t k)>;

  // Files are made ahead only while a processor is free for the helpers,
  // which is looked at now and then (on a busy machine handing each file
  // over costs more thread switches than making it here), unless `always`.
  TZAOutputAhead(std::size_t count, TPathOf pathOf, TMaker maker, bool always = false);
  ~TZAOutputAhead();
  TZAOutputAhead(const TZAOutputAhead&) = delete;
  TZAOutputAhead& operator=(const TZAOutputAhead&) = delete;

  // The file made at `path` for the k-th entry. False when there is none;
  // then no file made ahead is left at `path` either (one made for a later
  // entry that a handler's name now points at is removed), and the caller
  // makes its own.
  bool Take(std::size_t k, std::u16string_view path, sys::WideFile& file);

 private:
  struct Made {
    std::u16string path;
    sys::WideFile file;
  };
  static constexpr std::size_t kAhead = 8;
  static constexpr unsigned kHelpers = 2;
  static constexpr std::size_t kLookEvery = 256;  // entries between looks at the machine
  // Offers the entries up to `k` + kAhead that are not offered yet.
  void OfferUpTo(std::size_t k);
  std::size_t count_;
  TPathOf pathOf_;
  TMaker maker_;
  // The paths of the entries from pathsFrom_ on that have been offered.
  std::deque<std::u16string> paths_;
  std::size_t pathsFrom_ = 0;
  bool always_;
  bool paused_ = false;
  std::size_t nextLook_ = 0;
  TZAPipeline<Made> pipeline_;  // last: its helpers use the rest
};

}  // namespace za
