#include "sys/codepage.h"
#include "sys/text.h"

namespace sys {

// The program's texts are UTF-8 on Windows too; the backend speaks UTF-16
// to the system (see wide_path_win32.h).
std::string NativeToUtf8(std::string_view text) { return std::string(text); }
std::string Utf8ToNative(std::string_view text) { return std::string(text); }
std::u16string NativeToWide(std::string_view text) { return Utf8ToWide(text); }

}  // namespace sys
