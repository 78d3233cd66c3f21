#pragma once
#include <string>
#include <string_view>

namespace sys::posix {

// The program builds paths the Windows way, by appending literals such as
// "\tempEE\"; the stand-in treats a backslash as the separator it stands for.
inline std::string ToPosixPath(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

}  // namespace sys::posix
