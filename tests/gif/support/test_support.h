#pragma once
// Helpers shared by the GIF engine tests: loading bytes with the warnings
// collected, and a fresh temporary folder per test.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "gif/picture.h"
#include "gif_writer.h"

namespace gif::testing {

struct TLoaded {
  std::unique_ptr<TGIFPicture> picture = std::make_unique<TGIFPicture>();
  std::vector<std::string> warnings;
  std::string error;  // empty when the load succeeded
};

// Loads with a warning hook; an EGIFError is caught into `error`.
TLoaded Load(std::span<const uint8_t> bytes);

std::vector<uint8_t> FramePixels(const TGIFFrame& frame);

class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, std::span<const uint8_t> bytes);
// The source tree, from ROVEND_SOURCE_DIR.
std::filesystem::path SourceDir();

}  // namespace gif::testing
