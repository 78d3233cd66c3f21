#pragma once
// A fresh folder per test, removed afterwards with whatever the test left in
// it, read-only files included.
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace support {

class TempDir {
 public:
  // Portable, so that the Windows builds of the tests have it too: a folder
  // that create_directory made is ours, one that was there is passed over.
  explicit TempDir(const std::string& prefix = "rovend") {
    std::random_device random;
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::filesystem::path candidate = base / (prefix + "-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate)) {
        path_ = candidate;
        return;
      }
    }
    throw std::runtime_error("cannot make a folder in " + base.string());
  }
  ~TempDir() {
    std::error_code ec;
    for (auto& e : std::filesystem::recursive_directory_iterator(path_, ec))
      std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                   ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace support
