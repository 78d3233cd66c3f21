// gifx: what the GIF engine makes of a file.
//   gifx info [FILE...]                 the logical screen, colour maps, frames and warnings
//   gifx frames [options] FILE... DIR   frames as PNG files
// "-" (or no FILE for info) reads standard input. Errors and the warnings of
// each load go to standard error; the exit status is 0 when every file
// loaded without a warning, 3 when one loaded with warnings (damaged), 1
// when one could not be read or loaded (or, with --strict, had warnings) or
// its frames could not be written, 2 for a bad command line.
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "render.h"
#include "gif/composer.h"
#include "gif/painting.h"
#include "gif/picture.h"
#include "png_writer.h"

using namespace gif;
namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxListedWarnings = 50;

const char kUsage[] =
    "usage: gifx info [--strict] [FILE...]\n"
    "       gifx frames [--strict] [--raw] [--composed] [--frames LIST] FILE... DIR\n"
    "       gifx --help | --version\n";

const char kHelp[] =
    "\n"
    "info     tells the logical screen (as stored and as widened to cover the\n"
    "         frames), the colour maps, each frame with its delay, disposal and\n"
    "         extension blocks, and how many warnings the load gave.\n"
    "frames   writes frames as PNG files into DIR: DIR/frame-NNN.png, each frame\n"
    "         composed onto the screen as the setup program's painter shows it\n"
    "         (--composed, the default), and/or DIR/raw-NNN.png, the frame alone\n"
    "         with its transparent pixels clear (--raw). With several files each gets\n"
    "         its own folder DIR/NAME. Files of those names left by an earlier\n"
    "         run are removed first.\n"
    "  --frames LIST  only these frames, counted from 0: \"0,2,5-7\"\n"
    "--strict  a file with warnings fails (and gets no frames written).\n"
    "Both commands report every warning of a load on standard error, with\n"
    "the frame it concerns. FILE \"-\" is standard input; info without FILE\n"
    "reads it too.\n"
    "\n"
    "exit status: 0 every file loaded without a warning, 3 a file loaded with\n"
    "warnings (damaged; what could be read is shown), 1 a file could not be\n"
    "read or loaded (or had warnings, with --strict), or its frames could not\n"
    "be written, 2 bad command line.\n";

// Exit statuses.
constexpr int kSound = 0, kFailed = 1, kBadCommandLine = 2, kDamaged = 3;

// The status of several files: a failure outweighs damage.
int Worst(int a, int b) {
  if (a == kFailed || b == kFailed) return kFailed;
  return std::max(a, b);
}

int Usage(const std::string& text) {
  std::fprintf(stderr, "gifx: %s\n%s", text.c_str(), kUsage);
  return kBadCommandLine;
}

struct TWarning {
  std::string where, message;
};

struct TLoad {
  TGIFPicture picture;
  std::vector<TWarning> warnings;
  std::string error;
  bool stored = false;  // a logical screen was read
  uint32_t storedWidth = 0, storedHeight = 0;
};

std::string Shown(const std::string& name) { return name == "-" ? "(standard input)" : name; }

void Error(const std::string& name, const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "gifx: %s: %s\n", Shown(name).c_str(), text.c_str());
}

// The part of the file a warning concerns. While loading, the frame being
// read is the one not yet in the list.
std::string Where(const TGIFPicture& picture, const TPersistent* sender) {
  const auto& frames = picture.Images();
  const TGIFFrame* frame = dynamic_cast<const TGIFFrame*>(sender);
  if (const auto* extension = dynamic_cast<const TGIFExtension*>(sender)) frame = &extension->Frame();
  if (dynamic_cast<const TGIFHeader*>(sender) || sender == &picture.Header().ColorMap()) return "header";
  if (dynamic_cast<const TGIFTrailer*>(sender)) return "trailer";
  if (sender == &frames)
    return frames.Empty() ? "before frame 0" : "after frame " + std::to_string(frames.Count() - 1);
  for (int i = 0; frame && i < frames.Count(); ++i)
    if (&frames[i] == frame) return "frame " + std::to_string(i);
  return "frame " + std::to_string(frames.Count());
}

// Indices past the colour map are drawn with no colour of the file's: a
// defect the engine meets only when it draws. Transparent pixels are never
// looked up.
void CheckColorIndices(TLoad& load) {
  const auto& frames = load.picture.Images();
  for (int i = 0; i < frames.Count(); ++i) {
    const TGIFFrame& f = frames[i];
    const TGIFColorMap& map = f.ActiveColorMap();
    if (f.Empty() || map.Empty()) continue;
    const int transparent = f.Transparent ? f.TransparentColorIndex() : -1;
    const auto outside = [&](uint8_t index) { return index >= map.Count() && index != transparent; };
    bool found = false;
    f.ForEachRow([&](int, const uint8_t* row) {
      if (found) return;
      if (!row)
        found = outside(f.FillIndex());
      else
        found = std::any_of(row, row + f.Width(), outside);
    });
    if (found) load.warnings.push_back({"frame " + std::to_string(i), messages::BadColorIndex});
  }
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
  TGIFPicture& picture = load.picture;
  picture.WarnOfDamagedData = true;
  picture.OnParseWarning = [&load](const TPersistent* sender, int, const std::string& message) {
    load.warnings.push_back({Where(load.picture, sender), message});
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
  if (!load.error.empty()) picture.AdjustLogicalScreen();
  picture.OnParseWarning = nullptr;
  CheckColorIndices(load);
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

// Every warning of the load, on stderr as errors are.
void ReportWarnings(const std::string& name, const TLoad& load) {
  for (size_t i = 0; i < load.warnings.size() && i < kMaxListedWarnings; ++i)
    Error(name, load.warnings[i].where + ": " + load.warnings[i].message);
  if (load.warnings.size() > kMaxListedWarnings)
    Error(name, "... and " + std::to_string(load.warnings.size() - kMaxListedWarnings) + " more warnings");
}

// The status of one file: the error that ended its load, or its warnings.
int Verdict(const std::string& name, const TLoad& load, bool strict) {
  if (!load.error.empty()) {
    Error(name, load.error);
    return kFailed;
  }
  if (load.warnings.empty()) return kSound;
  if (!strict) return kDamaged;
  Error(name, "damaged (" + std::to_string(load.warnings.size()) + " warnings): refused under --strict");
  return kFailed;
}

// The CRC-32 of the frame's indices, rows of its fill index counted
// without being made.
unsigned long PixelsCrc(const TGIFFrame& f) {
  const auto width = static_cast<uInt>(f.Width());
  std::vector<uint8_t> fillRow(width, f.FillIndex());
  const uLong fillCrc = crc32(0L, fillRow.data(), width);
  uLong crc = crc32(0L, Z_NULL, 0);
  f.ForEachRow([&](int, const uint8_t* row) {
    crc = row ? crc32(crc, row, width) : crc32_combine(crc, fillCrc, static_cast<z_off_t>(width));
  });
  return crc;
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

int Info(const std::string& name, bool strict) {
  TLoad load;
  if (!Load(name, load)) return kFailed;
  ReportWarnings(name, load);
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
      const unsigned long crc = PixelsCrc(f);
      std::printf("frame %d: %d x %d at %d,%d%s, local colour map: %s, crc32 %08lx\n", i, f.Width(), f.Height(),
                  f.Left(), f.Top(), f.Interlaced() ? ", interlaced" : "", MapText(f.ColorMap()).c_str(),
                  crc);
    }
    if (const TGIFGraphicControlExtension* gce = f.GraphicControlExtension) {
      PrintDelay(*gce);
      std::printf(", disposal %u (%s)", TGIFComposer::Disposal(f), DisposalName(TGIFComposer::Disposal(f)));
      if (f.Transparent)
        std::printf(", transparent index %u\n", f.TransparentColorIndex());
      else
        std::printf(", opaque\n");
    }
    PrintExtensions(f);
  }
  // "none" would read as a sound file when the load stopped.
  if (!load.error.empty()) std::printf("load: stopped before the end (reason on stderr)\n");
  if (load.warnings.empty())
    std::printf("warnings: none\n");
  else
    std::printf("warnings: %zu (on standard error)\n", load.warnings.size());
  return Verdict(name, load, strict);
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
  bool raw = false, composed = false, strict = false;
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

// Composing keeps the logical screen four times over for each of two
// underlays, a raw frame twice and its bitmap; beyond this many pixels a
// picture is not drawn.
constexpr uint64_t kMaxDrawnPixels = uint64_t{1} << 25;

bool Drawable(int width, int height) {
  return uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height) <= kMaxDrawnPixels;
}

int Frames(const std::string& name, const fs::path& folder, const TFramesOptions& options) {
  TLoad load;
  if (!Load(name, load)) return kFailed;
  ReportWarnings(name, load);
  TGIFPicture& p = load.picture;
  if (options.strict && !load.warnings.empty()) return Verdict(name, load, true);
  if (options.composed && !Drawable(p.Width(), p.Height())) {
    Error(name, "the logical screen of " + std::to_string(p.Width()) + " x " + std::to_string(p.Height()) +
                    " is too large to compose (--raw writes the frames alone)");
    return kFailed;
  }
  std::error_code ec;
  fs::create_directories(folder, ec);
  std::string error;
  if (ec) error = "cannot create " + folder.string() + ": " + ec.message();
  if (error.empty()) RemoveEarlierRun(folder, error);
  if (!error.empty()) {
    Error(name, error);
    return kFailed;
  }
  int status = 0;
  for (int wanted : options.frames)
    if (wanted >= p.Images().Count()) {
      Error(name, "no frame " + std::to_string(wanted) + " (it has " + std::to_string(p.Images().Count()) + ")");
      status = kFailed;
    }
  std::optional<gifx::TComposer> composer;
  if (options.composed) composer.emplace(p);
  bool composing = options.composed;
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
  try {
    for (int i = 0; i < p.Images().Count(); ++i) {
      TGIFFrame& f = p.Images()[i];
      const bool wanted = options.frames.empty() || options.frames.count(i);
      if (f.Empty()) {
        // The painter ends its pass at an empty frame.
        if (composing && i + 1 < p.Images().Count())
          Error(name, "frame " + std::to_string(i) + " is empty: the animation ends there");
        composing = false;
        continue;
      }
      // Every frame is composed, wanted or not: later ones build on it.
      if (composing) {
        const auto& canvas = composer->Show(f, i);
        if (wanted && !write("frame", i, canvas)) return kFailed;
      }
      if (wanted && options.raw) {
        if (!Drawable(f.Width(), f.Height())) {
          Error(name, "frame " + std::to_string(i) + " of " + std::to_string(f.Width()) + " x " +
                          std::to_string(f.Height()) + " is too large to draw");
          status = kFailed;
        } else if (!write("raw", i, gifx::RawFrame(f))) {
          return kFailed;
        }
      }
    }
  } catch (const std::exception& e) {
    // What the program would show as an error when it draws the picture.
    Error(name, std::string("cannot draw: ") + e.what());
    status = kFailed;
  }
  std::printf("%d %s written\n", written, written == 1 ? "picture" : "pictures");
  return Worst(status, Verdict(name, load, options.strict));
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
    } else if (a == "--strict") {
      options.strict = true;
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
      status = Worst(status, Info(operands[i], options.strict));
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
    status = Worst(status, Frames(name, target, options));
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
