#pragma once
// The byte sources the engine reads from. Positions may be set past the end;
// reads there simply return nothing, as the parser relies on when it skips.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sys/wide_file.h"

namespace gif {

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to count bytes; answers how many were read (0 at the end).
  virtual size_t Read(void* buffer, size_t count) = 0;
  virtual int64_t Position() const = 0;
  virtual void SetPosition(int64_t position) = 0;
  virtual int64_t Size() const = 0;
};

// Reads bytes held in memory: either a view of the caller's bytes, which must
// outlive the stream, or a vector the stream keeps.
class TMemoryStream final : public TStream {
 public:
  explicit TMemoryStream(std::span<const uint8_t> bytes);
  explicit TMemoryStream(std::vector<uint8_t> bytes);
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  size_t Read(void* buffer, size_t count) override;
  int64_t Position() const override { return position_; }
  void SetPosition(int64_t position) override;
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }

 private:
  std::vector<uint8_t> owned_;
  std::span<const uint8_t> bytes_;
  int64_t position_ = 0;
};

// Reads a file, through the system layer's files of wide names. Keeps its
// own window of the file so that the parser's one-byte peeks and steps back
// cost no system call.
class TFileStream final : public TStream {
 public:
  // Raises EFOpenError, with the system's error number, when the file cannot
  // be opened for reading. Others may read the file meanwhile, not write it.
  explicit TFileStream(std::u16string_view name);
  // A name in UTF-8.
  explicit TFileStream(const std::string& name);

  size_t Read(void* buffer, size_t count) override;
  int64_t Position() const override { return position_; }
  void SetPosition(int64_t position) override;
  int64_t Size() const override { return size_; }

 private:
  bool Fill();

  sys::WideFile file_;
  int64_t size_ = 0;
  int64_t position_ = 0;
  int64_t windowStart_ = 0;  // file offset of window_[0]
  std::vector<uint8_t> window_;
  size_t windowLength_ = 0;
};

}  // namespace gif
