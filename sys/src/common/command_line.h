#pragma once
// Windows command-line conventions, for the POSIX stand-in that starts
// programs from Windows-style command lines.
#include <string>
#include <string_view>
#include <vector>

namespace sys {

// Splits arguments as the C runtime of a Windows program does: blanks
// separate, double quotes group, 2n backslashes before a quote give n and
// the quote toggles, 2n+1 give n and a literal quote, and "" inside quotes
// is a literal quote.
std::vector<std::string> SplitArguments(std::string_view text);

}  // namespace sys
