#include "sys/codepage.h"
#include "sys/text.h"

namespace sys {

// POSIX file names and the toolkit both speak UTF-8.
std::string NativeToUtf8(std::string_view text) { return std::string(text); }
std::string Utf8ToNative(std::string_view text) { return std::string(text); }
std::u16string NativeToWide(std::string_view text) { return Utf8ToWide(text); }

}  // namespace sys
