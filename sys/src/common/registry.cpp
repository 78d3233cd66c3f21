#include "sys/registry.h"

namespace sys {

bool Registry::OpenKey(const std::string& path, bool canCreate) {
  std::string full;
  if (!path.empty() && path.front() == '\\')
    full = path.substr(1);
  else
    full = currentPath_.empty() ? path : currentPath_ + "\\" + path;
  CloseKey();
  current_ = system_.OpenUserKey(full, canCreate);
  if (current_) currentPath_ = full;
  return current_ != 0;
}

void Registry::WriteInteger(const std::string& name, std::int32_t value) {
  if (!current_ || !system_.SetDwordValue(current_, name, static_cast<std::uint32_t>(value)))
    throw RegistryError("Failed to set data for '" + name + "'");
}

void Registry::CloseKey() {
  if (current_) system_.CloseUserKey(current_);
  current_ = 0;
  currentPath_.clear();
}

}  // namespace sys
