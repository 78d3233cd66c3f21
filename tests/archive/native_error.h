#pragma once
// The native error of the EZAException that `f` raises (-1 when none), and
// its message.
#include <functional>
#include <string>

#include "archive/errors.h"

namespace za::testing {

inline int NativeErrorOf(const std::function<void()>& f, std::u16string* message = nullptr) {
  try {
    f();
  } catch (const za::EZAException& e) {
    if (message) *message = e.Message();
    return e.NativeError;
  }
  return -1;
}

}  // namespace za::testing
