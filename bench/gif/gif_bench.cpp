// gif_bench DIR [benchmark flags]: decodes the generated pictures in DIR from
// memory with this engine and with giflib's DGifSlurp. Items are pixels.
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "gif/picture.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct TSet {
  std::vector<Bytes> files;
  int64_t pixels = 0;
};

TSet g_animations, g_large;

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int64_t DecodeRovend(const Bytes& file) {
  gif::TMemoryStream stream(file);
  gif::TGIFPicture picture;
  picture.LoadFromStream(stream);
  int64_t pixels = 0;
  for (const auto& frame : picture.Images()) {
    benchmark::DoNotOptimize(frame->Pixels().data());
    pixels += static_cast<int64_t>(frame->Pixels().size());
  }
  return pixels;
}

struct TCursor {
  const Bytes* bytes;
  size_t position;
};

int ReadCursor(GifFileType* file, GifByteType* buffer, int count) {
  auto* c = static_cast<TCursor*>(file->UserData);
  const size_t n = std::min(static_cast<size_t>(count), c->bytes->size() - c->position);
  std::memcpy(buffer, c->bytes->data() + c->position, n);
  c->position += n;
  return static_cast<int>(n);
}

int64_t DecodeGiflib(const Bytes& file) {
  TCursor cursor{&file, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&cursor, ReadCursor, &error);
  if (!gif || DGifSlurp(gif) != GIF_OK) throw std::runtime_error("giflib failed");
  int64_t pixels = 0;
  for (int i = 0; i < gif->ImageCount; ++i) {
    benchmark::DoNotOptimize(gif->SavedImages[i].RasterBits);
    pixels += int64_t{gif->SavedImages[i].ImageDesc.Width} * gif->SavedImages[i].ImageDesc.Height;
  }
  DGifCloseFile(gif, &error);
  return pixels;
}

template <int64_t (*Decode)(const Bytes&)>
void Run(benchmark::State& state, const TSet* set) {
  for (auto _ : state)
    for (const Bytes& file : set->files)
      if (Decode(file) <= 0) state.SkipWithError("no pixels");
  state.SetItemsProcessed(state.iterations() * set->pixels);
  int64_t bytes = 0;
  for (const Bytes& file : set->files) bytes += static_cast<int64_t>(file.size());
  state.SetBytesProcessed(state.iterations() * bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: gif_bench DIR [benchmark flags]\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("anim-", 0) == 0) g_animations.files.push_back(ReadFile(entry.path()));
    if (name == "large.gif") g_large.files.push_back(ReadFile(entry.path()));
  }
  if (g_animations.files.size() != 200 || g_large.files.size() != 1) {
    std::fprintf(stderr, "gif_bench: %s lacks the generated pictures (run gif_bench_generate)\n", argv[1]);
    return 1;
  }
  for (TSet* set : {&g_animations, &g_large})
    for (const Bytes& file : set->files) set->pixels += DecodeGiflib(file);
  // Both decoders must agree before their speed means anything.
  for (TSet* set : {&g_animations, &g_large})
    for (const Bytes& file : set->files)
      if (DecodeRovend(file) != DecodeGiflib(file)) {
        std::fprintf(stderr, "gif_bench: the decoders disagree on a file\n");
        return 1;
      }

  benchmark::RegisterBenchmark("rovend/animations", Run<DecodeRovend>, &g_animations)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("giflib/animations", Run<DecodeGiflib>, &g_animations)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("rovend/large", Run<DecodeRovend>, &g_large)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("giflib/large", Run<DecodeGiflib>, &g_large)->Unit(benchmark::kMillisecond);
  argv[1] = argv[0];
  --argc;
  ++argv;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
