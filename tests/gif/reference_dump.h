#pragma once
// giflib as an oracle: what it decodes from a file. Kept apart from the tests
// so that giflib's header meets no code of ours.
#include <cstdint>
#include <string>
#include <vector>

namespace gif::testing {

struct TReferenceFrame {
  int left = 0, top = 0, width = 0, height = 0;
  bool interlaced = false;
  std::vector<uint8_t> pixels;  // rows top to bottom
};

// Answers an empty string, or giflib's error text.
std::string ReferenceDecode(const std::string& path, std::vector<TReferenceFrame>& frames);
std::string ReferenceDecode(const std::vector<uint8_t>& bytes, std::vector<TReferenceFrame>& frames);

}  // namespace gif::testing
