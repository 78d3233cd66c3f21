#pragma once
// What zarc needs of the console that differs between systems: the program's
// entry point, whether a standard stream is a terminal, and a line read
// without echo for passwords.
#include <cstdint>
#include <string>
#include <vector>

namespace zarc {

// The program after the platform's entry point has turned its command line
// into UTF-16 arguments (the program's name left out).
int Main(const std::vector<std::u16string>& args);

enum class StdStream { Input, Output, Error };
bool IsTerminal(StdStream stream);

// The separator of paths shown to the user ('/' on POSIX, '\\' on Windows).
char PathSeparator();

// Whether the file system tells names apart by case (not on Windows).
bool NamesIgnoreCase();

// Whether file times here are NTFS times (100 ns, Windows): archives
// then keep them in the NTFS block as well, for an exact round trip.
bool NtfsFileTimes();

// Whether extracted files get the owners the archive names without -X:
// for the superuser of a system of Unix owners, as tar gives them.
bool RestoresOwnersByDefault();

// The smallest entry whose file is made ahead on a helper thread while the
// entries before it are written: where making a file costs about what
// writing a few KiB does, only an entry that keeps the batch busy long
// enough hides the making of the next one.
std::uint64_t SmallestFileMadeAhead();

// Standard output takes bytes as they are (entries written by -p).
void SetBinaryOutput();
// Standard input gives bytes as they are (an archive read from a pipe).
void SetBinaryInput();
// A name by which standard input can be opened again as a file that seeks,
// when it is one (a file redirected with <); false for a pipe or a terminal.
bool SeekableInputName(std::u16string& name);

// Shows `prompt` (UTF-8) on standard error and reads one line typed on the
// terminal of standard input, with echo, in UTF-8 without its line end.
// False on end of input or a read error.
bool ReadLine(const std::string& prompt, std::string& line);

// Shows `prompt` (UTF-8) on standard error and reads one line typed on the
// terminal of standard input without showing it, in UTF-8 without its line
// end. Echo goes off before the prompt is shown, so nothing typed at the
// prompt can be seen. False on end of input or a read error. The terminal
// is put back as it was, also when the program is interrupted while waiting.
bool ReadSecretLine(const std::string& prompt, std::string& line);

}  // namespace zarc
