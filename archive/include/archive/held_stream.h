#pragma once
// A stream that its holder either owns or borrows from a caller who keeps
// it. Whether it is owned is whether the holder has it in its unique_ptr,
// so that a stream is never freed twice, nor freed when it was lent.
#include <memory>
#include <utility>

#include "archive/stream.h"

namespace za {

class TZAHeldStream {
 public:
  TZAHeldStream() = default;
  TZAHeldStream(const TZAHeldStream&) = delete;
  TZAHeldStream& operator=(const TZAHeldStream&) = delete;

  // Takes `stream` over, freeing the one held before.
  void Own(std::unique_ptr<TZAStream> stream) {
    owned_ = std::move(stream);
    stream_ = owned_.get();
  }
  // Holds the caller's `stream`, which outlives the holding.
  void Borrow(TZAStream& stream) {
    owned_.reset();
    stream_ = &stream;
  }
  void Reset() {
    stream_ = nullptr;
    owned_.reset();
  }
  // Hands an owned stream over to the caller (null when it was borrowed);
  // the holder holds nothing after.
  std::unique_ptr<TZAStream> Release() {
    stream_ = nullptr;
    return std::move(owned_);
  }

  // A stream is held, and it is the caller's.
  bool Borrowed() const { return stream_ && !owned_; }
  TZAStream* get() const { return stream_; }
  TZAStream* operator->() const { return stream_; }
  TZAStream& operator*() const { return *stream_; }
  explicit operator bool() const { return stream_ != nullptr; }

 private:
  std::unique_ptr<TZAStream> owned_;
  TZAStream* stream_ = nullptr;
};

}  // namespace za
