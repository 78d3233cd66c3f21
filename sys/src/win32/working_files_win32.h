#pragma once
// The file operations an elevated program needs in a folder that a program
// without elevation can write to: holding a file it is about to use, and
// removing links and folders without ever following a link.
#include <memory>
#include <string>

#include "sys/system.h"

namespace sys::win32 {

std::unique_ptr<HeldFile> HoldFile(const std::string& path);
std::unique_ptr<HeldFolder> HoldFolder(const std::string& path);
bool RemoveLink(const std::string& path);
bool DeleteTree(const std::string& path);

}  // namespace sys::win32
