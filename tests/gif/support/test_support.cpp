#include "test_support.h"

#include <cstdlib>
#include <fstream>
#include <random>

namespace gif::testing {

TLoaded Load(std::span<const uint8_t> bytes) {
  TLoaded result;
  result.picture->OnParseWarning = [&result](const TPersistent*, int severity, const std::string& message) {
    EXPECT_EQ(severity, 1);
    result.warnings.push_back(message);
  };
  TMemoryStream stream(bytes);
  try {
    result.picture->LoadFromStream(stream);
  } catch (const EGIFError& e) {
    result.error = e.what();
  }
  result.picture->OnParseWarning = nullptr;
  return result;
}

std::vector<uint8_t> FramePixels(const TGIFFrame& frame) {
  return {frame.Pixels().begin(), frame.Pixels().end()};
}

TTempDir::TTempDir() {
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() /
          ("rovend-gif-" + std::to_string(rd()) + "-" + std::to_string(rd()));
  std::filesystem::create_directories(path_);
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::filesystem::path SourceDir() {
  if (const char* dir = std::getenv("ROVEND_SOURCE_DIR")) return dir;
#ifdef ROVEND_SOURCE_DIR
  return ROVEND_SOURCE_DIR;
#else
  return std::filesystem::current_path();
#endif
}

}  // namespace gif::testing
