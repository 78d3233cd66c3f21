// gifx: what the GIF engine makes of a file.
//   gifx info FILE          the logical screen, colour maps, frames and warnings
//   gifx frames FILE OUTDIR each frame composed onto the screen, as PNG files
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "compose.h"
#include "gif/picture.h"
#include "png_writer.h"

using namespace rovend::gif;
using rovend::gifx::FrameDisposal;

namespace {

constexpr size_t kMaxListedWarnings = 50;

int Usage() {
  std::fprintf(stderr,
               "usage: gifx info FILE\n"
               "       gifx frames FILE OUTDIR\n");
  return 2;
}

struct TLoad {
  TGIFPicture picture;
  std::vector<std::string> warnings;
  std::string error;
};

// Loads what can be loaded: frames read before a failure stay and are shown.
bool Load(const std::string& name, TLoad& load) {
  load.picture.OnParseWarning = [&load](const TPersistent*, int, const std::string& message) {
    load.warnings.push_back(message);
  };
  try {
    load.picture.LoadFromFile(name);
  } catch (const EFOpenError& e) {
    std::fprintf(stderr, "gifx: %s\n", e.what());
    return false;
  } catch (const EGIFError& e) {
    load.error = e.what();
  } catch (const std::bad_alloc&) {
    load.error = "Out of memory";
  }
  return true;
}

const char* DisposalName(uint8_t disposal) {
  switch (disposal) {
    case dispUnspecified: return "unspecified";
    case dispKeep: return "keep";
    case dispBackground: return "background";
    case dispPrevious: return "previous";
    default: return "undefined";
  }
}

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

std::string MapText(const TGIFColorMap& map) {
  if (map.Empty()) return "none";
  return std::to_string(map.Count()) + " entries" + (map.Optimized ? ", sorted" : "");
}

void PrintWarningsAndError(const TLoad& load) {
  if (load.warnings.empty()) {
    std::printf("warnings: none\n");
  } else {
    std::printf("warnings: %zu\n", load.warnings.size());
    for (size_t i = 0; i < load.warnings.size() && i < kMaxListedWarnings; ++i)
      std::printf("  %s\n", load.warnings[i].c_str());
    if (load.warnings.size() > kMaxListedWarnings)
      std::printf("  ... and %zu more\n", load.warnings.size() - kMaxListedWarnings);
  }
  if (!load.error.empty()) std::printf("error: %s\n", load.error.c_str());
}

void PrintExtensions(const TGIFFrame& frame) {
  for (const auto& extension : frame.Extensions()) {
    if (const auto* loop = dynamic_cast<const TGIFLoopExtension*>(extension.get())) {
      std::printf("  looping block \"%s\": loop count %u%s\n", Printable(loop->IdentifierText()).c_str(),
                  loop->Loops, loop->Loops == 0 ? " (forever)" : "");
    } else if (const auto* app = dynamic_cast<const TGIFUnknownAppExtension*>(extension.get())) {
      std::printf("  application block \"%s\": %zu data sub-blocks\n", Printable(app->IdentifierText()).c_str(),
                  app->Blocks.size());
    } else if (const auto* comment = dynamic_cast<const TGIFCommentExtension*>(extension.get())) {
      for (const auto& line : comment->Text) std::printf("  comment: %s\n", Printable(line).c_str());
    } else if (const auto* text = dynamic_cast<const TGIFTextExtension*>(extension.get())) {
      std::printf("  plain text at %u,%u, %u x %u\n", text->Data.Left, text->Data.Top, text->Data.Width,
                  text->Data.Height);
    }
  }
}

int Info(const std::string& name) {
  TLoad load;
  if (!Load(name, load)) return 1;
  const TGIFPicture& p = load.picture;
  const TGIFHeader& h = p.Header();
  std::printf("file: %s\n", name.c_str());
  std::printf("signature: %s\n", Printable(std::string(h.Signature.begin(), h.Signature.end())).c_str());
  std::printf("logical screen: %d x %d, background index %u, aspect byte %u, colour resolution %d bits\n",
              p.Width(), p.Height(), h.BackgroundColorIndex(), h.AspectRatio(), h.ColorResolution());
  std::printf("global colour map: %s\n", MapText(h.ColorMap()).c_str());
  std::printf("frames: %d\n", p.Images().Count());
  for (int i = 0; i < p.Images().Count(); ++i) {
    const TGIFFrame& f = p.Images()[i];
    if (f.Empty()) {
      std::printf("frame %d: empty (%d extension blocks)\n", i, f.Extensions().Count());
    } else {
      const auto pixels = f.Pixels();
      const auto crc = crc32(0L, pixels.data(), static_cast<uInt>(pixels.size()));
      std::printf("frame %d: %d x %d at %d,%d%s, local colour map: %s, crc32 %08lx\n", i, f.Width(), f.Height(),
                  f.Left(), f.Top(), f.Interlaced() ? ", interlaced" : "", MapText(f.ColorMap()).c_str(),
                  static_cast<unsigned long>(crc));
    }
    if (const TGIFGraphicControlExtension* gce = f.GraphicControlExtension) {
      std::printf("  delay %u (%u ms), disposal %u (%s)", gce->Delay(), gce->Delay() * 10u, FrameDisposal(f),
                  DisposalName(FrameDisposal(f)));
      if (f.Transparent)
        std::printf(", transparent index %u\n", f.TransparentColorIndex());
      else
        std::printf(", opaque\n");
    }
    PrintExtensions(f);
  }
  PrintWarningsAndError(load);
  return load.error.empty() ? 0 : 1;
}

int Frames(const std::string& name, const std::string& folder) {
  TLoad load;
  if (!Load(name, load)) return 1;
  const TGIFPicture& p = load.picture;
  if (uint64_t{static_cast<uint32_t>(p.Width())} * static_cast<uint32_t>(p.Height()) > MaxFramePixels) {
    std::fprintf(stderr, "gifx: the logical screen of %d x %d is too large to compose\n", p.Width(), p.Height());
    return 1;
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    std::fprintf(stderr, "gifx: cannot create %s: %s\n", folder.c_str(), ec.message().c_str());
    return 1;
  }
  rovend::gifx::TComposer composer(p);
  int written = 0;
  for (int i = 0; i < p.Images().Count(); ++i) {
    const TGIFFrame& f = p.Images()[i];
    if (f.Empty()) continue;
    std::vector<std::string> notes;
    const auto& canvas = composer.Show(f, notes);
    char file[32];
    std::snprintf(file, sizeof file, "frame-%03d.png", i);
    const std::string path = (std::filesystem::path(folder) / file).string();
    const std::string error = rovend::gifx::WritePng(path, canvas);
    if (!error.empty()) {
      std::fprintf(stderr, "gifx: %s\n", error.c_str());
      return 1;
    }
    std::printf("%s\n", path.c_str());
    for (const auto& note : notes) std::printf("  frame %d: %s\n", i, note.c_str());
    composer.Dispose(f);
    ++written;
  }
  std::printf("%d frames written\n", written);
  PrintWarningsAndError(load);
  return load.error.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "info") return Info(args[1]);
  if (args.size() == 3 && args[0] == "frames") return Frames(args[1], args[2]);
  return Usage();
}
