#pragma once
// Narrow text helpers shared by the backends.
//
// Paths and texts handed between the window and the system services are
// UTF-8 on every platform; the Windows backend passes them to the W forms of
// the API as UTF-16, so that a path holds any name a user folder can have.
#include <string>
#include <string_view>

namespace sys {

// Compares ignoring the case of the letters A to Z only, as the process
// watch does; every other character, and the lengths, must be equal.
bool EqualsAsciiNoCase(std::string_view a, std::string_view b);

// The part after the last backslash, slash or colon: a process list entry
// may be a bare file name or a full module path.
std::string_view FileNamePart(std::string_view path);

// The program's narrow text (see above) to UTF-8 and back: the same text
// now, kept for callers that name the conversion.
std::string NativeToUtf8(std::string_view text);
std::string Utf8ToNative(std::string_view text);
// The program's narrow text to UTF-16, for paths handed to the archive engine.
std::u16string NativeToWide(std::string_view text);

}  // namespace sys
