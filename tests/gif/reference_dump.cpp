#include "reference_dump.h"

#include <gif_lib.h>

#include <cstring>

namespace gif::testing {

namespace {

struct TMemory {
  const std::vector<uint8_t>* bytes;
  size_t position;
};

int ReadMemory(GifFileType* file, GifByteType* buffer, int count) {
  auto* m = static_cast<TMemory*>(file->UserData);
  const size_t n = std::min(static_cast<size_t>(count), m->bytes->size() - m->position);
  std::memcpy(buffer, m->bytes->data() + m->position, n);
  m->position += n;
  return static_cast<int>(n);
}

std::string Slurp(GifFileType* file, int openError, std::vector<TReferenceFrame>& frames) {
  frames.clear();
  if (!file) return GifErrorString(openError);
  std::string error;
  if (DGifSlurp(file) != GIF_OK) error = GifErrorString(file->Error);
  for (int i = 0; i < file->ImageCount && error.empty(); ++i) {
    const SavedImage& image = file->SavedImages[i];
    TReferenceFrame frame;
    frame.left = image.ImageDesc.Left;
    frame.top = image.ImageDesc.Top;
    frame.width = image.ImageDesc.Width;
    frame.height = image.ImageDesc.Height;
    frame.interlaced = image.ImageDesc.Interlace;
    const size_t n = static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height);
    frame.pixels.assign(image.RasterBits, image.RasterBits + n);
    frames.push_back(std::move(frame));
  }
  int closeError = 0;
  DGifCloseFile(file, &closeError);
  return error;
}

}  // namespace

std::string ReferenceDecode(const std::string& path, std::vector<TReferenceFrame>& frames) {
  int error = 0;
  GifFileType* file = DGifOpenFileName(path.c_str(), &error);
  return Slurp(file, error, frames);
}

std::string ReferenceDecode(const std::vector<uint8_t>& bytes, std::vector<TReferenceFrame>& frames) {
  TMemory memory{&bytes, 0};
  int error = 0;
  GifFileType* file = DGifOpen(&memory, ReadMemory, &error);
  return Slurp(file, error, frames);
}

}  // namespace gif::testing
