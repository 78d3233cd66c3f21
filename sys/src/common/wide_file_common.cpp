// What the backends of WideFile share: ownership of the handle.
#include "sys/wide_file.h"

namespace sys {

WideFile::~WideFile() { Close(); }

WideFile::WideFile(WideFile&& other) noexcept
    : handle_(other.handle_), lastError_(other.lastError_), freshPages_(other.freshPages_) {
  other.handle_ = kNoHandle;
}

WideFile& WideFile::operator=(WideFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    lastError_ = other.lastError_;
    freshPages_ = other.freshPages_;
    other.handle_ = kNoHandle;
  }
  return *this;
}

}  // namespace sys
