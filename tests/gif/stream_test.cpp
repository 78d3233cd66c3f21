// The byte sources: a file read through its window behaves like memory.
#include <gtest/gtest.h>

#include "gif/stream.h"
#include "test_support.h"

namespace gif::testing {
namespace {

TEST(GifStream, FileStreamMatchesMemoryAcrossItsWindow) {
  TTempDir dir;
  Bytes bytes(200000);
  TRandom random(5);
  for (auto& b : bytes) b = static_cast<uint8_t>(random.Next());
  WriteFile(dir.Path() / "data.bin", bytes);
  TFileStream file((dir.Path() / "data.bin").string());
  TMemoryStream memory(bytes);
  EXPECT_EQ(file.Size(), memory.Size());
  // Reads of odd sizes, steps back and jumps, including past the end.
  for (int64_t position : {int64_t{0}, int64_t{65535}, int64_t{131071}, int64_t{3}, int64_t{199990}, int64_t{250000}}) {
    file.SetPosition(position);
    memory.SetPosition(position);
    for (size_t count : {1u, 70000u, 13u}) {
      Bytes a(count), b(count);
      ASSERT_EQ(file.Read(a.data(), count), memory.Read(b.data(), count)) << position;
      EXPECT_EQ(a, b);
      EXPECT_EQ(file.Position(), memory.Position());
      file.SetPosition(file.Position() - 1);
      memory.SetPosition(memory.Position() - 1);
    }
  }
}

TEST(GifStream, PictureLoadsFromAFile) {
  TTempDir dir;
  TGifBuilder b;
  b.Header(2, 1).Image({.width = 2, .height = 1}, Bytes{5, 6}).Trailer();
  WriteFile(dir.Path() / "a.gif", b.Bytes_());
  TGIFPicture picture;
  picture.LoadFromFile((dir.Path() / "a.gif").string());
  EXPECT_EQ(FramePixels(picture.Images()[0]), (Bytes{5, 6}));
  // Through the system's files: names beyond ASCII, and the system's reason.
  const std::filesystem::path cyrillic = dir.Path() / std::filesystem::path(u8"\u0431\u0430\u043d\u043d\u0435\u0440.gif");
  WriteFile(cyrillic, b.Bytes_());
  const std::u8string utf8 = cyrillic.u8string();
  TGIFPicture named;
  named.LoadFromFile(std::string(utf8.begin(), utf8.end()));
  EXPECT_EQ(named.Images().Count(), 1);
  try {
    picture.LoadFromFile((dir.Path() / "missing.gif").string());
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.SystemError, 2);  // ENOENT, and ERROR_FILE_NOT_FOUND on Windows
  }
}

}  // namespace
}  // namespace gif::testing
