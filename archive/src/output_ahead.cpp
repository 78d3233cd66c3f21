#include "output_ahead.h"

namespace za {

namespace {

void Remove(sys::WideFile& file, const std::u16string& path) {
  file.Close();
  sys::WideDeleteFile(path);
}

}  // namespace

TZAOutputAhead::TZAOutputAhead(std::vector<std::u16string> paths, TMaker maker)
    : paths_(std::move(paths)),
      maker_(std::move(maker)),
      pipeline_(
          paths_.size(),
          // Files are made a few at a time, and helpers woken only when
          // there is room for several: a wake-up per file costs as much as
          // what it saves.
          TZAPipelineBounds{kAhead, std::numeric_limits<std::uint64_t>::max(), kHelpers, false, kAhead / 2},
          [this](Made& made, const std::atomic<bool>&) { return maker_(made.path, made.file); },
          {}, [](Made& made, bool succeeded) {
            if (succeeded) Remove(made.file, made.path);
          }) {
  for (std::size_t k = 0; k < paths_.size(); ++k)
    if (!paths_[k].empty()) pipeline_.Offer(k, Made{paths_[k], sys::WideFile()});
}

TZAOutputAhead::~TZAOutputAhead() = default;

bool TZAOutputAhead::Take(std::size_t k, std::u16string_view path, sys::WideFile& file) {
  // A file not made yet is made by the caller.
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
  for (std::size_t i = k + 1; i < paths_.size() && i < k + 1 + kAhead; ++i)
    if (paths_[i] == path) pipeline_.Cancel(i);
  return false;
}

}  // namespace za
