#pragma once
// Starting programs so that we can follow them: the shell's launch and the
// hidden start of a command line, each able to hand back the started process.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <memory>
#include <string>

#include "sys/system.h"

namespace sys::win32 {

std::uint32_t WinExec(const std::string& commandLine, int show, std::unique_ptr<Process>* process);
std::int32_t ShellExecute(HWND window, const std::string& verb, const std::string& file,
                          const std::string& parameters, const std::string& directory, int show,
                          std::unique_ptr<Process>* process);

}  // namespace sys::win32
