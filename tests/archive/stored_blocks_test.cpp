// Deflate data of stored blocks alone, walked without an inflater: what it
// accepts zlib inflates to the same bytes, and whatever zlib alone can
// decide (a compressed block, lengths that do not check, no final block,
// data cut short) is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../archive/src/stored_blocks.h"
#include "raw_inflate.h"

namespace {

std::string Block(bool last, const std::string& content, std::uint8_t padding = 0) {
  std::string b(1, static_cast<char>((last ? 1 : 0) | padding));
  const std::size_t n = content.size();
  b += {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(~n), static_cast<char>(~n >> 8)};
  return b + content;
}

std::int64_t Content(const std::string& data) {
  return za::ZAStoredBlocksContent(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
}

std::string Walked(const std::string& data) {
  std::string out;
  za::ZAForEachStoredBlock(reinterpret_cast<const std::uint8_t*>(data.data()), [&](const std::uint8_t* p, std::size_t n) {
    out.append(reinterpret_cast<const char*>(p), n);
    return true;
  });
  return out;
}

TEST(StoredBlocks, WhatIsAcceptedIsWhatZlibInflates) {
  const std::string big(65535, 'x');
  const std::vector<std::string> streams = {
      Block(true, "one block"),
      Block(false, "abc") + Block(false, "") + Block(true, "de"),
      Block(false, big) + Block(true, big.substr(0, 100)),
      Block(true, ""),
      Block(false, "pad", 0xF8) + Block(true, "bits", 0xF0),  // the rest of a header byte is padding
  };
  for (const std::string& s : streams) {
    ASSERT_EQ(Content(s), static_cast<std::int64_t>(za::testing::Inflated(s).size()));
    EXPECT_EQ(Walked(s), za::testing::Inflated(s));
    // What follows the final block is not read.
    EXPECT_EQ(Content(s + "trailing"), Content(s));
  }
}

TEST(StoredBlocks, WhatOnlyAnInflaterCanDecideIsRefused) {
  std::string badComplement = Block(true, "abc");
  badComplement[3] ^= 1;
  const std::string compressed = "\x4b\x4c\x4a\x06\x00";  // "abc", fixed codes
  const std::vector<std::string> refused = {
      "",
      badComplement,
      Block(false, "abc"),                          // no final block
      Block(false, "abc") + compressed,             // a compressed block after a stored one
      std::string(compressed),
      Block(true, "abcdef").substr(0, 8),           // content cut short
      Block(false, "abc") + Block(true, "d").substr(0, 3),  // header cut short
      std::string(1, '\x07') + Block(true, "x").substr(1),  // block type 3
  };
  for (const std::string& s : refused) EXPECT_EQ(Content(s), -1) << testing::PrintToString(s);
}

}  // namespace
