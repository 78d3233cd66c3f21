#pragma once
// The POSIX stand-in for holding files and removing links in the working
// folder. POSIX has no sharing modes: a held file is only opened without
// following links, in a folder that is no link.
#include <memory>
#include <string>

#include "sys/system.h"

namespace sys::posix {

std::unique_ptr<HeldFile> HoldFile(const std::string& path);
std::unique_ptr<HeldFolder> HoldFolder(const std::string& path);
bool RemoveLink(const std::string& path);

}  // namespace sys::posix
