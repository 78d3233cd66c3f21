#pragma once
// A read-only view of part of an open file: its bytes in memory without a
// copy, where the system can map them. Where it cannot (or the backend does
// not), Map fails and the caller reads the file as before.
//
// A mapped file may shrink under the view (another process truncates it);
// touching a page past the new end would then end the process. The POSIX
// backend puts zero pages in place of the part that is gone and marks the
// view Lost: a reader that finds it lost after using the bytes treats that
// as a failed read, and nothing it made from them counts.
#include <cstddef>
#include <cstdint>

#include "sys/wide_file.h"

namespace sys {

class FileView {
 public:
  FileView() = default;
  ~FileView() { Unmap(); }
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;

  // Views `length` bytes of `file` from `offset` (anywhere: the view itself
  // begins at a boundary the system needs); false when no view can be made.
  // A view held before is let go.
  bool Map(const WideFile& file, std::int64_t offset, std::size_t length);
  void Unmap();

  bool Mapped() const { return base_ != nullptr; }
  // The bytes asked for, from `offset`, and how many there are.
  const std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  std::int64_t Offset() const { return offset_; }
  // Whether part of the file was gone when a byte of the view was touched.
  bool Lost() const;

 private:
  void* base_ = nullptr;  // what the system mapped
  std::size_t mapped_ = 0;
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::int64_t offset_ = 0;
  int guard_ = -1;  // the backend's record of the view
};

}  // namespace sys
