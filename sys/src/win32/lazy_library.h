#pragma once
// Entry points looked up by name at first use, so that the program starts on
// Windows versions that lack them and can fall back to an older route.
#include <windows.h>

namespace sys::win32 {

// A library loaded by name on first need; the handle is kept once loading
// succeeds, and a failed load is tried again at the next need.
class LazyLibrary {
 public:
  explicit LazyLibrary(const char* name) : name_(name) {}
  HMODULE Handle() {
    if (!module_) module_ = LoadLibraryA(name_);
    return module_;
  }
  FARPROC Find(const char* function) {
    HMODULE module = Handle();
    return module ? GetProcAddress(module, function) : nullptr;
  }

 private:
  const char* name_;
  HMODULE module_ = nullptr;
};

// One function, looked up once per run; the result, found or not, is kept.
// The lookup-done flag is raised with an interlocked increment after the
// address has been stored.
template <typename Fn>
class LazyFunction {
 public:
  LazyFunction(LazyLibrary& library, const char* name) : library_(library), name_(name) {}
  Fn Get() {
    if (done_ == 0) {
      address_ = reinterpret_cast<Fn>(reinterpret_cast<void*>(library_.Find(name_)));
      InterlockedIncrement(&done_);
    }
    return address_;
  }

 private:
  LazyLibrary& library_;
  const char* name_;
  Fn address_ = nullptr;
  volatile LONG done_ = 0;
};

}  // namespace sys::win32
