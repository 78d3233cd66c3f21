#pragma once
// The stand-in for the current user's registry hive: a text file in the
// layout of a .reg export, so that tests can read back every key and value.
// Its location is $ROVEND_REGISTRY, else $XDG_CONFIG_HOME/rovend/registry.reg.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sys::posix {

class FileRegistry {
 public:
  // Opens (with `create`, makes) the key at `path` below HKEY_CURRENT_USER;
  // 0 when it cannot.
  std::uintptr_t Open(const std::string& path, bool create);
  bool SetDword(std::uintptr_t key, const std::string& name, std::uint32_t data);
  void Close(std::uintptr_t key);

  static std::string Location();

 private:
  struct Key {
    std::string path;
    std::vector<std::pair<std::string, std::uint32_t>> values;  // in written order
  };
  static bool Load(const std::string& file, std::vector<Key>& keys);
  static bool Save(const std::string& file, const std::vector<Key>& keys);
  static Key* Find(std::vector<Key>& keys, const std::string& path);

  std::map<std::uintptr_t, std::string> open_;
  std::uintptr_t next_ = 1;
};

}  // namespace sys::posix
