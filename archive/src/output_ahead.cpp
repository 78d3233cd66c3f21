#include "output_ahead.h"

#include <algorithm>

#include "sys/thread.h"

namespace za {

namespace {

void Remove(sys::WideFile& file, const std::u16string& path) {
  file.Close();
  sys::WideDeleteFile(path);
}

}  // namespace

TZAOutputAhead::TZAOutputAhead(std::size_t count, TPathOf pathOf, TMaker maker, bool always)
    : count_(count),
      pathOf_(std::move(pathOf)),
      maker_(std::move(maker)),
      always_(always),
      pipeline_(
          count,
          // Files are made a few at a time, and helpers woken only when
          // there is room for several: a wake-up per file costs as much as
          // what it saves.
          TZAPipelineBounds{kAhead, std::numeric_limits<std::uint64_t>::max(), kHelpers, false, kAhead / 2},
          [this](Made& made, const std::atomic<bool>&) { return maker_(made.path, made.file); },
          {}, [](Made& made, bool succeeded) {
            if (succeeded) Remove(made.file, made.path);
          }) {
  OfferUpTo(0);
}

void TZAOutputAhead::OfferUpTo(std::size_t k) {
  while (!paths_.empty() && pathsFrom_ < k) {
    paths_.pop_front();
    ++pathsFrom_;
  }
  if (paths_.empty()) pathsFrom_ = std::max(pathsFrom_, k);
  if (!always_ && k >= nextLook_) {
    paused_ = sys::ProcessorsFree(pipeline_.AtWork()) < 2;
    nextLook_ = k + kLookEvery;
  }
  for (std::size_t next = pathsFrom_ + paths_.size(); next < count_ && next <= k + kAhead; ++next) {
    paths_.push_back(paused_ ? std::u16string() : pathOf_(next));
    if (!paths_.back().empty()) pipeline_.Offer(next, Made{paths_.back(), sys::WideFile()});
  }
}

TZAOutputAhead::~TZAOutputAhead() = default;

bool TZAOutputAhead::Take(std::size_t k, std::u16string_view path, sys::WideFile& file) {
  // A file not made yet is made by the caller.
  OfferUpTo(k + 1);
  Made made;
  auto outcome = pipeline_.Take(k, made, false);
  if (outcome == TZAPipeline<Made>::TOutcome::Succeeded) {
    if (made.path == path) {
      file = std::move(made.file);
      return true;
    }
    Remove(made.file, made.path);
  }
  // A file being made for a later entry at this path is waited for, so
  // that it is gone before the caller looks there.
  for (std::size_t i = std::max(k + 1, pathsFrom_); i < pathsFrom_ + paths_.size(); ++i)
    if (paths_[i - pathsFrom_] == path) pipeline_.Cancel(i);
  return false;
}

}  // namespace za
