// gifx: what the GIF engine makes of a file.
//   gifx info [FILE...]                 the logical screen, colour maps, frames and warnings
//   gifx frames [options] FILE... DIR   frames as PNG files
// "-" (or no FILE for info) reads standard input. Errors go to standard
// error; the exit status is 0 when every file loaded, 1 when one did not or
// its frames could not be written, 2 for a bad command line.
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "compose.h"
#include "gif/painting.h"
#include "gif/picture.h"
#include "png_writer.h"

using namespace gif;
using gifx::FrameDisposal;
namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxListedWarnings = 50;

const char kUsage[] =
    "usage: gifx info [FILE...]\n"
    "       gifx frames [--raw] [--composed] [--frames LIST] FILE... DIR\n"
    "       gifx --help | --version\n";

const char kHelp[] =
    "\n"
    "info     tells the logical screen (as stored and as widened to cover the\n"
    "         frames), the colour maps, each frame with its delay, disposal and\n"
    "         extension blocks, and the warnings of the load.\n"
    "frames   writes frames as PNG files into DIR: DIR/frame-NNN.png, each frame\n"
    "         composed onto the screen as a viewer shows it (--composed, the\n"
    "         default), and/or DIR/raw-NNN.png, the frame alone as stored with\n"
    "         its transparent pixels clear (--raw). With several files each gets\n"
    "         its own folder DIR/NAME. Files of those names left by an earlier\n"
    "         run are removed first.\n"
    "  --frames LIST  only these frames, counted from 0: \"0,2,5-7\"\n"
    "FILE \"-\" is standard input; info without FILE reads it too.\n"
    "\n"
    "exit status: 0 every file loaded (tolerated defects are listed as warnings),\n"
    "1 a file could not be read or loaded, or its frames could not be written,\n"
    "2 bad command line.\n";

int Usage(const std::string& text) {
  std::fprintf(stderr, "gifx: %s\n%s", text.c_str(), kUsage);
  return 2;
}

struct TLoad {
  TGIFPicture picture;
  std::vector<std::string> warnings;
  std::string error;
  bool stored = false;  // a logical screen was read
  uint32_t storedWidth = 0, storedHeight = 0;
};

std::string Shown(const std::string& name) { return name == "-" ? "(standard input)" : name; }

void Error(const std::string& name, const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "gifx: %s: %s\n", Shown(name).c_str(), text.c_str());
}

// Loads what can be loaded: frames read before a failure stay and are
// shown. False, with the reason on stderr, when there is no GIF to show.
bool Load(const std::string& name, TLoad& load) {
  std::vector<uint8_t> bytes;
  if (name == "-") {
    bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::error_code ec;
    if (fs::is_directory(name, ec)) {
      Error(name, "is a folder");
      return false;
    }
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) {
      Error(name, std::strerror(errno));
      return false;
    }
    uint8_t buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    bool failed = std::ferror(f);
    std::fclose(f);
    if (failed) {
      Error(name, "cannot be read");
      return false;
    }
  }
  // The signature and the logical screen descriptor: without them there
  // is nothing to describe.
  if (bytes.size() < 13 || std::memcmp(bytes.data(), "GIF", 3) != 0) {
    Error(name, bytes.size() < 3 || std::memcmp(bytes.data(), "GIF", 3) != 0 ? "not a GIF file"
                                                                             : "cut off inside its header");
    return false;
  }
  load.stored = true;
  load.storedWidth = bytes[6] | bytes[7] << 8;
  load.storedHeight = bytes[8] | bytes[9] << 8;
  load.picture.OnParseWarning = [&load](const TPersistent*, int, const std::string& message) {
    load.warnings.push_back(message);
  };
  try {
    TMemoryStream stream(std::move(bytes));
    load.picture.LoadFromStream(stream);
  } catch (const EGIFError& e) {
    load.error = e.what();
  } catch (const std::bad_alloc&) {
    load.error = "out of memory";
  } catch (const std::exception& e) {
    load.error = e.what();
  }
  // A load that failed stops before the screen is widened to its frames.
  if (!load.error.empty()) load.picture.AdjustLogicalScreen();
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

// Warnings belong to the description; the error that ended the load goes to
// stderr.
int Finish(const std::string& name, const TLoad& load) {
  if (load.warnings.empty()) {
    std::printf("warnings: none\n");
  } else {
    std::printf("warnings: %zu\n", load.warnings.size());
    for (size_t i = 0; i < load.warnings.size() && i < kMaxListedWarnings; ++i)
      std::printf("  %s\n", load.warnings[i].c_str());
    if (load.warnings.size() > kMaxListedWarnings)
      std::printf("  ... and %zu more\n", load.warnings.size() - kMaxListedWarnings);
  }
  if (load.error.empty()) return 0;
  Error(name, load.error);
  return 1;
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

// The delay in the format's hundredths of a second, and what the engine's
// painter waits: no delay means its default, small ones are raised, and a
// unit lasts 12 ms there.
void PrintDelay(const TGIFGraphicControlExtension& gce) {
  int stored = gce.Delay();
  int units = stored <= 0 ? DefaultDelay : stored < MinimumDelay ? MinimumDelay : stored;
  std::printf("  delay %d/100 s (the engine plays %d ms)", stored, units * DelayUnitMs);
}

int Info(const std::string& name) {
  TLoad load;
  if (!Load(name, load)) return 1;
  const TGIFPicture& p = load.picture;
  const TGIFHeader& h = p.Header();
  std::printf("file: %s\n", Shown(name).c_str());
  std::printf("signature: %s\n", Printable(std::string(h.Signature.begin(), h.Signature.end())).c_str());
  std::printf("logical screen: %u x %u as stored", load.storedWidth, load.storedHeight);
  if (static_cast<uint32_t>(p.Width()) != load.storedWidth || static_cast<uint32_t>(p.Height()) != load.storedHeight)
    std::printf(", %d x %d as widened to cover the frames", p.Width(), p.Height());
  std::printf("\nbackground index %u, aspect byte %u, colour resolution %d bits\n", h.BackgroundColorIndex(),
              h.AspectRatio(), h.ColorResolution());
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
      PrintDelay(*gce);
      std::printf(", disposal %u (%s)", FrameDisposal(f), DisposalName(FrameDisposal(f)));
      if (f.Transparent)
        std::printf(", transparent index %u\n", f.TransparentColorIndex());
      else
        std::printf(", opaque\n");
    }
    PrintExtensions(f);
  }
  return Finish(name, load);
}

// "0,2,5-7" into frame numbers; false when it is not such a list.
bool ParseFrames(const std::string& text, std::set<int>& frames) {
  static const std::regex item(R"((\d{1,6})(?:-(\d{1,6}))?)");
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    std::smatch m;
    std::string part = text.substr(start, end - start);
    if (!std::regex_match(part, m, item)) return false;
    int first = std::stoi(m[1]), last = m[2].matched ? std::stoi(m[2]) : first;
    if (last < first || last - first > 1000000) return false;
    for (int i = first; i <= last; ++i) frames.insert(i);
    start = end + 1;
  }
  return !frames.empty();
}

struct TFramesOptions {
  bool raw = false, composed = false;
  std::set<int> frames;  // empty: all
};

// What an earlier run left: the files this command names, and only those.
bool RemoveEarlierRun(const fs::path& folder, std::string& error) {
  static const std::regex ours(R"((frame|raw)-\d{3,}\.png)");
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (!entry.is_regular_file(ec) || !std::regex_match(entry.path().filename().string(), ours)) continue;
    if (!fs::remove(entry.path(), ec)) break;
  }
  if (ec) error = "cannot clear " + folder.string() + " of an earlier run: " + ec.message();
  return !ec;
}

int Frames(const std::string& name, const fs::path& folder, const TFramesOptions& options) {
  TLoad load;
  if (!Load(name, load)) return 1;
  const TGIFPicture& p = load.picture;
  if (uint64_t{static_cast<uint32_t>(p.Width())} * static_cast<uint32_t>(p.Height()) > MaxFramePixels) {
    Error(name, "the logical screen of " + std::to_string(p.Width()) + " x " + std::to_string(p.Height()) +
                    " is too large to compose");
    return 1;
  }
  std::error_code ec;
  fs::create_directories(folder, ec);
  std::string error;
  if (ec) error = "cannot create " + folder.string() + ": " + ec.message();
  if (error.empty()) RemoveEarlierRun(folder, error);
  if (!error.empty()) {
    Error(name, error);
    return 1;
  }
  int status = 0;
  for (int wanted : options.frames)
    if (wanted >= p.Images().Count()) {
      Error(name, "no frame " + std::to_string(wanted) + " (it has " + std::to_string(p.Images().Count()) + ")");
      status = 1;
    }
  gifx::TComposer composer(p);
  int written = 0;
  auto write = [&](const char* kind, int i, const gifx::TCanvas& canvas) {
    char file[32];
    std::snprintf(file, sizeof file, "%s-%03d.png", kind, i);
    const std::string path = (folder / file).string();
    const std::string failure = gifx::WritePng(path, canvas);
    if (!failure.empty()) {
      fs::remove(path, ec);  // no half-written picture stays behind
      Error(name, failure);
      return false;
    }
    std::printf("%s\n", path.c_str());
    ++written;
    return true;
  };
  for (int i = 0; i < p.Images().Count(); ++i) {
    const TGIFFrame& f = p.Images()[i];
    if (f.Empty()) continue;
    bool wanted = options.frames.empty() || options.frames.count(i);
    std::vector<std::string> notes;
    // Every frame is composed, wanted or not: later ones build on it.
    const auto& canvas = composer.Show(f, notes);
    if (wanted && options.composed && !write("frame", i, canvas)) return 1;
    if (wanted && options.raw && !write("raw", i, gifx::RawFrame(f, notes))) return 1;
    if (wanted)
      for (const auto& note : notes) std::printf("  frame %d: %s\n", i, note.c_str());
    composer.Dispose(f);
  }
  std::printf("%d %s written\n", written, written == 1 ? "picture" : "pictures");
  return std::max(status, Finish(name, load));
}

int Run(const std::vector<std::string>& args) {
  if (args.empty()) return Usage("no command");
  if (args[0] == "--help" || args[0] == "-h") {
    std::printf("%s%s", kUsage, kHelp);
    return 0;
  }
  if (args[0] == "--version") {
    std::printf("gifx %s\n", ROVEND_TOOLS_VERSION);
    return 0;
  }
  std::vector<std::string> operands;
  TFramesOptions options;
  const bool frames = args[0] == "frames";
  if (!frames && args[0] != "info") return Usage("unknown command '" + args[0] + "'");
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::printf("%s%s", kUsage, kHelp);
      return 0;
    } else if (frames && a == "--raw") {
      options.raw = true;
    } else if (frames && a == "--composed") {
      options.composed = true;
    } else if (frames && a == "--frames" && i + 1 < args.size()) {
      if (!ParseFrames(args[++i], options.frames)) return Usage("bad frame list '" + args[i] + "'");
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage("unknown option '" + a + "'");
    } else {
      operands.push_back(a);
    }
  }
  int status = 0;
  if (!frames) {
    if (operands.empty()) operands.push_back("-");
    for (size_t i = 0; i < operands.size(); ++i) {
      if (i) std::printf("\n");
      status = std::max(status, Info(operands[i]));
    }
    return status;
  }
  if (operands.size() < 2) return Usage("frames needs a file and a folder");
  if (!options.raw) options.composed = true;
  const fs::path folder = operands.back();
  operands.pop_back();
  // With several files each writes into a folder of its own name.
  std::map<std::string, std::string> folders;
  for (const std::string& name : operands) {
    std::string own = name == "-" ? "stdin" : fs::path(name).stem().string();
    if (operands.size() > 1 && !folders.emplace(own, name).second)
      return Usage("'" + name + "' and '" + folders[own] + "' would share the folder " + own);
  }
  for (const std::string& name : operands) {
    fs::path target = operands.size() == 1 ? folder : folder / (name == "-" ? "stdin" : fs::path(name).stem());
    status = std::max(status, Frames(name, target, options));
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "gifx: %s\n", e.what());
  }
  return 1;
}
