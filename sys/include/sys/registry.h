#pragma once
// The registry accessor the tasks write through: one current key of the
// current user's hive at a time, with failures of writes raised.
#include <stdexcept>
#include <string>

#include "sys/system.h"

namespace sys {

class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Registry {
 public:
  explicit Registry(System& system) : system_(system) {}
  ~Registry() { CloseKey(); }
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Makes `path` the current key: absolute below the root when it begins
  // with a backslash, else below the current key. On failure there is no
  // current key. Returns whether the key is open.
  bool OpenKey(const std::string& path, bool canCreate);
  // Raises RegistryError "Failed to set data for '<name>'" when the value
  // cannot be written, for instance because no key is current.
  void WriteInteger(const std::string& name, std::int32_t value);
  void CloseKey();
  const std::string& CurrentPath() const { return currentPath_; }

 private:
  System& system_;
  RegistryKey current_ = 0;
  std::string currentPath_;
};

}  // namespace sys
