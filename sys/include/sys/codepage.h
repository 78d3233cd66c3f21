#pragma once
// Code pages and case mapping for the archive engine.
//
// Stored zip names are 8-bit text in the OEM or the ANSI code page. On
// Windows the conversions are the system's (OemToCharBuffA, then
// MultiByteToWideChar with the thread's ANSI code page; CharLowerBuffW for
// case mapping). On POSIX the two code pages are settings of the engine,
// converted with iconv; their defaults are those of a Russian Windows: OEM
// 866 and ANSI 1251. Calling a setter on Windows replaces the system's code
// page by the one given (useful for tests); 0 goes back to the system's.
#include <cstddef>
#include <string>
#include <string_view>

namespace sys {

void SetOemCodePage(unsigned codePage);
void SetAnsiCodePage(unsigned codePage);
unsigned OemCodePage();   // the code page in force (the system's on Windows)
unsigned AnsiCodePage();

// Converts bytes[0..size) in place from the OEM to the ANSI code page, byte
// for byte, up to the first zero byte (OemToCharBuffA).
void OemToAnsiInPlace(char* bytes, std::size_t size);

// ANSI code page to UTF-16, all of `bytes` (stop at a zero byte yourself).
// The result replaces `out`; undecodable bytes become U+FFFD (POSIX) or the
// system's choice (Windows).
void AnsiToWide(std::string_view bytes, std::u16string& out);
std::u16string AnsiToWide(std::string_view bytes);
// UTF-16 to the ANSI code page; characters it cannot represent become '?'.
std::string WideToAnsi(std::u16string_view text);
// UTF-16 to the OEM code page (the inverse of OemToAnsiInPlace followed by
// AnsiToWide); characters it cannot represent become '?'.
std::string WideToOem(std::u16string_view text);

// The platform's Unicode lower-case mapping, code unit by code unit.
void WideLowerInPlace(std::u16string& text);
std::u16string WideLower(std::u16string_view text);
void WideUpperInPlace(std::u16string& text);
// That mapping for each of the 65,536 code units, asked once: a case-blind
// compare or hash of many names without lowering a copy of each. Surrogates
// map to themselves; text holding them is lowered whole, as the platform may
// map a pair as one character.
const char16_t* WideLowerUnits();

// UTF-8 <-> UTF-16, for command lines, file names on POSIX and terminals.
// Invalid sequences and lone surrogates become U+FFFD.
std::u16string Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::u16string_view text);

}  // namespace sys
