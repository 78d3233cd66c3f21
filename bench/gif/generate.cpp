// gif_bench_generate DIR: writes the benchmark's pictures, the same bytes on
// every run: 200 animations of 320 x 240 with 10 frames each (anim-NNN.gif)
// and one 4000 x 3000 picture (large.gif).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "gif_writer.h"

using namespace gif::testing;

namespace {

// A smooth scene (waves and a moving disc) quantised to 256 indices, with
// some dither noise as a colour-reduced photograph has; `flat` pictures keep
// large even areas, as drawings do.
Bytes Scene(int width, int height, int t, uint32_t seed, bool flat) {
  Bytes pixels(static_cast<size_t>(width) * height);
  TRandom random(seed * 7919 + static_cast<uint32_t>(t));
  const double cx = width * (0.3 + 0.04 * t), cy = height * 0.5, r = height * 0.25;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      double v = 64 * std::sin(x * 0.02 + t * 0.3) + 48 * std::cos(y * 0.03 - t * 0.2) +
                 32 * std::sin((x + y) * 0.011);
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r) v = 100 + 20 * std::sin(x * 0.1);
      int index = static_cast<int>(v) + 128;
      if (flat)
        index &= ~15;
      else
        index += static_cast<int>(random.Next() % 9) - 4;
      pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(std::clamp(index, 0, 255));
    }
  return pixels;
}

bool Write(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gif_bench_generate DIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);
  for (uint32_t n = 0; n < 200; ++n) {
    TGifBuilder b;
    b.Header(320, 240).Loop(0);
    for (int t = 0; t < 10; ++t) {
      b.GraphicControl(0x04, 10, 0);
      b.Image({.width = 320, .height = 240, .interlaced = n % 10 == 9}, Scene(320, 240, t, n, n % 2 == 1));
    }
    char name[32];
    std::snprintf(name, sizeof name, "anim-%03u.gif", n);
    if (!Write(dir / name, b.Trailer().Bytes_())) return 1;
  }
  TGifBuilder large;
  large.Header(4000, 3000).Image({.width = 4000, .height = 3000}, Scene(4000, 3000, 3, 1000, false)).Trailer();
  return Write(dir / "large.gif", large.Bytes_()) ? 0 : 1;
}
