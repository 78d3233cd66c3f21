#include "registry_posix.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

#include "sys/text.h"

namespace sys::posix {
namespace {

constexpr char kRoot[] = "HKEY_CURRENT_USER";
constexpr size_t kMaxKeyName = 255;

// Key names compare without regard to case, as in the registry itself.
bool SamePath(const std::string& a, const std::string& b) { return EqualsAsciiNoCase(a, b); }

// A key path with a trailing separator names the same key; an empty
// component or one too long is refused, as the registry refuses it.
bool Normalise(std::string path, std::string& out) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  if (path.empty()) return false;
  size_t start = 0;
  for (;;) {
    size_t cut = path.find('\\', start);
    size_t len = (cut == std::string::npos ? path.size() : cut) - start;
    if (len == 0 || len > kMaxKeyName) return false;
    if (cut == std::string::npos) break;
    start = cut + 1;
  }
  out = path;
  return true;
}

// The data of a dword value: one to eight hexadecimal digits and nothing
// else, so a damaged value refuses the hive instead of being misread.
bool ParseDword(std::string_view text, std::uint32_t& data) {
  if (text.empty() || text.size() > 8) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), data, 16);
  return error == std::errc() && end == text.data() + text.size();
}

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

std::string FileRegistry::Location() {
  if (const char* file = std::getenv("ROVEND_REGISTRY"); file && *file) return file;
  std::string base;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
    base = config;
  else if (const char* home = std::getenv("HOME"))
    base = std::string(home) + "/.config";
  else
    base = "/tmp";
  return base + "/rovend/registry.reg";
}

FileRegistry::Key* FileRegistry::Find(std::vector<Key>& keys, const std::string& path) {
  for (Key& key : keys)
    if (SamePath(key.path, path)) return &key;
  return nullptr;
}

bool FileRegistry::Load(const std::string& file, std::vector<Key>& keys) {
  keys.clear();
  std::ifstream in(file, std::ios::binary);
  if (!in) return !std::filesystem::exists(file);  // no file yet: an empty hive
  std::string line;
  Key* current = nullptr;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
      std::string path = line.substr(1, line.size() - 2);
      const std::string prefix = std::string(kRoot) + "\\";
      if (path.rfind(prefix, 0) != 0) return false;
      keys.push_back({path.substr(prefix.size()), {}});
      current = &keys.back();
    } else if (!line.empty() && line.front() == '"' && current) {
      std::string name;
      size_t i = 1;
      for (; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        name += line[i];
      }
      const std::string tag = "\"=dword:";
      std::uint32_t data = 0;
      if (line.compare(i, tag.size(), tag) != 0 || !ParseDword(std::string_view(line).substr(i + tag.size()), data))
        return false;
      current->values.emplace_back(name, data);
    }
  }
  return true;
}

bool FileRegistry::Save(const std::string& file, const std::vector<Key>& keys) {
  std::ostringstream out;
  out << "Windows Registry Editor Version 5.00\r\n";
  for (const Key& key : keys) {
    out << "\r\n[" << kRoot << "\\" << key.path << "]\r\n";
    for (const auto& [name, data] : key.values) {
      char hex[9];
      std::snprintf(hex, sizeof hex, "%08x", data);
      out << '"' << Escape(name) << "\"=dword:" << hex << "\r\n";
    }
  }
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ignored);
  // Written aside and renamed, so that a reader never sees half a hive.
  const std::string temp = file + ".tmp";
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    if (!(f << out.str())) return false;
  }
  return std::rename(temp.c_str(), file.c_str()) == 0;
}

std::uintptr_t FileRegistry::Open(const std::string& path, bool create) {
  std::string normal;
  if (!Normalise(path, normal)) return 0;
  const std::string file = Location();
  std::vector<Key> keys;
  if (!Load(file, keys)) return 0;
  if (!Find(keys, normal)) {
    if (!create) return 0;
    // Creating a key creates the keys above it.
    for (size_t cut = normal.find('\\'); ; cut = normal.find('\\', cut + 1)) {
      std::string level = normal.substr(0, cut);
      if (!Find(keys, level)) keys.push_back({level, {}});
      if (cut == std::string::npos) break;
    }
    if (!Save(file, keys)) return 0;
  }
  std::uintptr_t handle = next_++;
  open_[handle] = normal;
  return handle;
}

bool FileRegistry::SetDword(std::uintptr_t handle, const std::string& name, std::uint32_t data) {
  auto it = open_.find(handle);
  if (it == open_.end()) return false;
  const std::string file = Location();
  std::vector<Key> keys;
  if (!Load(file, keys)) return false;
  Key* key = Find(keys, it->second);
  if (!key) return false;  // deleted meanwhile
  for (auto& [n, d] : key->values) {
    if (EqualsAsciiNoCase(n, name)) {
      d = data;
      return Save(file, keys);
    }
  }
  key->values.emplace_back(name, data);
  return Save(file, keys);
}

void FileRegistry::Close(std::uintptr_t handle) { open_.erase(handle); }

}  // namespace sys::posix
