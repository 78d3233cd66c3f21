#pragma once
// Owns a kernel handle and closes it once; "no handle" is null, whichever of
// null and INVALID_HANDLE_VALUE the call that made it uses for failure.
#include <windows.h>

#include <utility>

namespace sys::win32 {

class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Close(); }

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  void Close() {
    if (handle_) CloseHandle(std::exchange(handle_, nullptr));
  }
  HANDLE handle_ = nullptr;
};

}  // namespace sys::win32
