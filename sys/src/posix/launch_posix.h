#pragma once
// Starting programs the Windows way on POSIX.
//
// WinExec: the command line is resolved as CreateProcess resolves it: a
// quoted program name, or else the shortest blank-separated prefix that
// names an existing file (with or without ".exe"); the rest is split by the
// C runtime's rules. Backslashes in the program's path stand for slashes;
// the arguments reach the program unchanged.
//
// ShellExecute: the program associated with a file type is named by the
// environment variable ROVEND_ASSOCIATION_<EXTENSION> (for instance
// ROVEND_ASSOCIATION_MSI); it is started with the file and the parameters.
//
// Both hand over the started program in `process` when it is given; its exit
// status is what the program passed to exit().
#include <cstdint>
#include <memory>
#include <string>

#include "sys/system.h"

namespace sys::posix {

std::uint32_t WinExec(const std::string& commandLine, std::unique_ptr<Process>* process);
std::int32_t ShellExecute(const std::string& verb, const std::string& file, const std::string& parameters,
                          const std::string& directory, std::unique_ptr<Process>* process);

}  // namespace sys::posix
