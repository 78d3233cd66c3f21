#pragma once
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace app::testing {

// A fresh folder per test for what the window writes, removed afterwards.
class Sandbox {
 public:
  Sandbox() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rovend-app-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~Sandbox() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace app::testing
