// zarc: lists, tests and extracts zip archives through the archive engine
// (TZipArchiver).
//
//   zarc list [options] ARCHIVE
//   zarc test [options] ARCHIVE [MASK...] [-x EXCLUDE]...
//   zarc extract [options] ARCHIVE [-d DIR] [MASK...] [-x EXCLUDE]... [-n]
//
// list: one line per entry (length, method, size, ratio, date, time, CRC-32,
// attributes, encryption, name) and a summary, in the manner of `unzip -v`.
// test and extract: a progress bar on a terminal for long work, one line per
// failed entry. An entry whose password is rejected is asked for on the
// terminal (unless -P gave one: a wrong -P skips, as unzip and 7z do); an
// empty answer skips it, and a skipped entry is a failed one. Exit status 0
// on success, 1 when the archive cannot be opened (the engine's message on
// stderr) or any entry failed, 2 for a usage error.
#include <charconv>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/archiver.h"
#include "console.h"
#include "sys/codepage.h"
#include "sys/wide_file.h"

namespace zarc {

namespace {

const char kUsage[] =
    "usage: zarc list    [options] ARCHIVE\n"
    "       zarc test    [options] ARCHIVE [MASK...] [-x EXCLUDE]...\n"
    "       zarc extract [options] ARCHIVE [-d DIR] [MASK...] [-x EXCLUDE]... [-n]\n"
    "  -d DIR        extract into DIR (default: the current folder)\n"
    "  -x MASK       leave out entries whose stored name matches MASK\n"
    "  -n            never replace an existing file (default: replace)\n"
    "  -P PASSWORD   password of encrypted entries (test, extract); without it\n"
    "                a password is asked for on the terminal\n"
    "  -q            no progress bar\n"
    "  --no-oem      stored names are in the ANSI code page (Options.OEMFileNames off)\n"
    "  --oem-cp N    OEM code page of stored names (POSIX default 866)\n"
    "  --ansi-cp N   ANSI code page (POSIX default 1251; 65001 for UTF-8 names)\n";

// A one-line bar on stderr, drawn once the work has taken half a second.
class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled), start_(Clock::now()) {}
  void Update(double percent) {
    if (!enabled_) return;
    auto now = Clock::now();
    if (now - start_ < std::chrono::milliseconds(500)) return;
    int whole = static_cast<int>(percent);
    if (shown_ && whole == last_ && now - drawn_ < std::chrono::milliseconds(200)) return;
    int filled = whole / 4;
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "#########################", 25 - filled, "", whole);
    std::fflush(stderr);
    shown_ = true;
    last_ = whole;
    drawn_ = now;
  }
  void Clear() {
    if (!shown_) return;
    std::fprintf(stderr, "\r%*s\r", 40, "");
    shown_ = false;
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled_, shown_ = false;
  int last_ = -1;
  Clock::time_point start_, drawn_;
};

std::string MethodName(const za::TDirItem& item) {
  unsigned m = item.ActualMethod;
  switch (m) {
    case 0: return "Stored";
    case 8: {
      static const char* const kinds[] = {"Defl:N", "Defl:X", "Defl:F", "Defl:S"};
      return kinds[(item.Header.Flags >> 1) & 3];
    }
    case 9: return "Def64";
    case 12: return "BZip2";
    case 14: return "LZMA";
    case 93: return "Zstd";
    case 95: return "XZ";
    case 98: return "PPMd";
    case 99: return "AES";
    default: {
      char buf[16];
      std::snprintf(buf, sizeof buf, "Unk:%03u", m);
      return buf;
    }
  }
}

std::string Attributes(std::uint32_t a) {
  std::string s = ".....";
  if (a & 0x01) s[0] = 'R';
  if (a & 0x02) s[1] = 'H';
  if (a & 0x04) s[2] = 'S';
  if (a & 0x10) s[3] = 'D';
  if (a & 0x20) s[4] = 'A';
  return s;
}

// The name for a terminal: UTF-8, control characters shown as ^X.
std::string PrintableName(const std::u16string& name) {
  std::string out;
  for (char c : sys::WideToUtf8(name)) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      out.push_back('^');
      out.push_back(static_cast<char>(u ^ 0x40));
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// Listing lines are put together by hand: with many entries, printf's
// parsing of the format is most of what a listing costs.
class Line {
 public:
  Line& Number(std::uint64_t v, int width) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    int n = static_cast<int>(r.ptr - buf);
    if (n < width) s_.append(static_cast<std::size_t>(width - n), ' ');
    s_.append(buf, static_cast<std::size_t>(n));
    return *this;
  }
  Line& Two(unsigned v) {
    s_.push_back(static_cast<char>('0' + v / 10 % 10));
    s_.push_back(static_cast<char>('0' + v % 10));
    return *this;
  }
  Line& Hex(std::uint32_t v) {
    for (int shift = 28; shift >= 0; shift -= 4) s_.push_back("0123456789abcdef"[(v >> shift) & 15]);
    return *this;
  }
  Line& Text(std::string_view t, std::size_t width = 0) {
    s_.append(t);
    if (t.size() < width) s_.append(width - t.size(), ' ');
    return *this;
  }
  // A ratio in whole percent, rounded as printf's "%3.0f" does.
  Line& Percent(double ratio) { return Number(static_cast<std::uint64_t>(std::nearbyint(ratio)), 3).Text("%"); }
  void Flush() {
    std::fwrite(s_.data(), 1, s_.size(), stdout);
    s_.clear();
  }
  std::size_t Size() const { return s_.size(); }

 private:
  std::string s_;
};

double Ratio(std::uint64_t packed, std::uint64_t unpacked) {
  if (unpacked == 0) return 0;
  double r = (1.0 - static_cast<double>(packed) / static_cast<double>(unpacked)) * 100.0;
  return r < 0 ? 0 : r;
}

// A volume of a split archive that is not there is named, and refused (the
// engine's own answer only refuses). Disks of a spanned set on removable
// media are left to the engine's dialogs, which ask for them to be inserted.
void ReportMissingVolumes(za::TZipArchiver& zip, const std::u16string& fileName) {
  if (sys::WideIsRemovableDrive(fileName)) return;
  auto check = [](const std::u16string& volume, bool& cancel) {
    if (sys::WideFileExists(volume)) return;
    std::fflush(stdout);
    std::fprintf(stderr, "zarc: cannot find volume %s\n", sys::WideToUtf8(volume).c_str());
    cancel = true;
  };
  zip.OnRequestFirstVolume = [check](za::TZABaseArchiver*, std::u16string& volume, bool& cancel) {
    check(volume, cancel);
  };
  zip.OnRequestLastVolume = zip.OnRequestFirstVolume;
  zip.OnRequestMiddleVolume = [check](za::TZABaseArchiver*, std::int32_t, std::u16string& volume, bool& cancel) {
    check(volume, cancel);
  };
}

int List(za::TZipArchiver& zip, const std::u16string& fileName) {
  ReportMissingVolumes(zip, fileName);
  zip.SetFileName(fileName);
  zip.OpenArchive(za::kZAModeReadOnly);  // never creates a file
  const za::TZADirManager& dir = *zip.DirManager();
  if (dir.Rebuilt) std::fprintf(stderr, "zarc: warning: no usable central directory; entries found from local headers\n");
  std::printf("Archive:  %s\n", sys::WideToUtf8(fileName).c_str());
  std::printf("    Length  Method       Size Cmpr    Date     Time     CRC-32  Attr  Enc  Name\n");
  std::printf("----------  ------ ---------- ---- ---------- -------- --------  ----- ---  ----\n");
  std::fflush(stdout);
  std::uint64_t totalLength = 0, totalSize = 0;
  Line line;
  for (std::int32_t i = 0; i < zip.Count(); ++i) {
    const za::TDirItem& item = zip.Item(i);
    std::uint64_t packed = item.PackedSize(), unpacked = item.UnpackedSize();
    std::uint16_t d = item.Header.ModDate, t = item.Header.ModTime;
    line.Number(unpacked, 10).Text("  ").Text(MethodName(item), 6).Text(" ").Number(packed, 10).Text(" ");
    line.Percent(Ratio(packed, unpacked)).Text(" ").Number((d >> 9) + 1980u, 4).Text("-").Two((d >> 5) & 15u);
    line.Text("-").Two(d & 31u).Text(" ").Two(t >> 11u).Text(":").Two((t >> 5) & 63u).Text(":").Two((t & 31u) * 2u);
    line.Text(" ").Hex(item.Header.Crc32).Text("  ").Text(Attributes(item.Header.ExternalAttributes)).Text(" ");
    line.Text(item.Header.Flags & 1 ? "Yes" : "No ").Text("  ").Text(PrintableName(item.EntryName)).Text("\n");
    if (line.Size() > 1 << 16) line.Flush();
    totalLength += unpacked;
    totalSize += packed;
  }
  line.Flush();
  std::printf("----------         ---------- ----                                           -------\n");
  Line summary;
  summary.Number(totalLength, 10).Text("         ").Number(totalSize, 10).Text(" ").Percent(Ratio(totalSize, totalLength));
  summary.Text("                                           ").Number(static_cast<std::uint64_t>(zip.Count()), 0);
  summary.Text(zip.Count() == 1 ? " file\n" : " files\n").Flush();
  zip.CloseArchive();
  return 0;
}

// The component's password is text in the ANSI code page (--ansi-cp), as
// the default dialog makes it; what is typed or given arrives in Unicode.
std::string ComponentPassword(const std::u16string& text) { return sys::WideToAnsi(text); }

// test and extract: the selected entries through the per-entry loop.
// `ask`: a rejected password is asked for on the terminal.
int Process(za::TZipArchiver& zip, const std::u16string& fileName, bool extract, bool progress, bool ask) {
  ReportMissingVolumes(zip, fileName);
  zip.SetFileName(fileName);
  zip.OpenArchive(za::kZAModeReadOnly);
  if (zip.DirManager()->Rebuilt)
    std::fprintf(stderr, "zarc: warning: no usable central directory; entries found from local headers\n");
  ProgressBar bar(progress && IsTerminal(StdStream::Error));
  int done = 0, failed = 0;
  zip.OnOverallProgress = [&](za::TZABaseArchiver*, double percent, za::TZAProcessOperation, za::TZAProgressPhase,
                              bool&) { bar.Update(percent); };
  zip.OnFileProgress = [&](za::TZABaseArchiver*, const std::u16string&, double, za::TZAProcessOperation,
                           za::TZAProgressPhase phase, bool& cancel) {
    if (phase == za::ppEnd && !cancel) ++done;
  };
  zip.OnProcessFileFailure = [&](za::TZABaseArchiver*, const std::u16string& name, za::TZAProcessOperation,
                                 std::int32_t nativeError, std::int32_t, const std::u16string& message,
                                 za::TZAAction& action) {
    bar.Clear();
    std::fprintf(stderr, "zarc: %s: %s\n", PrintableName(name).c_str(), sys::WideToUtf8(message).c_str());
    ++failed;
    // A volume that cannot be had ends the work, as the engine's own answer
    // does: every entry after it would ask for it again.
    action = nativeError == 45 ? za::fxaAbort : za::fxaIgnore;
  };
  const std::string archiveName = sys::WideToUtf8(fileName);
  std::u16string lastAsked;
  bool asked = false;
  zip.OnPassword = [&](za::TZABaseArchiver*, const std::u16string& name, std::string& password, bool& skip) {
    bar.Clear();
    std::string shown = PrintableName(name);
    std::string typed;
    if (ask) {
      // Asked again for the same entry: the answer before was wrong.
      if (asked && name == lastAsked) std::fprintf(stderr, "zarc: %s: wrong password\n", shown.c_str());
      bool got = ReadSecretLine("[" + archiveName + "] " + shown + " password: ", typed);
      asked = true;
      lastAsked = name;
      // Without an answer there is nothing more to ask: the rest are skipped
      // at once rather than prompted for at a closed input.
      if (!got) ask = false;
    }
    if (typed.empty()) {
      std::fprintf(stderr, "zarc: %s: skipped, wrong or missing password\n", shown.c_str());
      ++failed;
      skip = true;
      return;
    }
    password = ComponentPassword(sys::Utf8ToWide(typed));
  };
  if (extract)
    zip.ExtractFiles();
  else
    zip.TestFiles();
  bar.Clear();
  zip.CloseArchive();
  std::printf("%s: %d %s %s, %d failed\n", sys::WideToUtf8(fileName).c_str(), done, done == 1 ? "entry" : "entries",
              extract ? "extracted" : "tested", failed);
  return failed ? 1 : 0;
}

int Run(const std::vector<std::u16string>& args) {
  if (args.empty() || args[0] == u"-h" || args[0] == u"--help") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  const std::u16string& command = args[0];
  if (command != u"list" && command != u"test" && command != u"extract") {
    std::fprintf(stderr, "zarc: unknown command '%s'\n%s", sys::WideToUtf8(command).c_str(), kUsage);
    return 2;
  }
  bool list = command == u"list", extract = command == u"extract";
  za::TZipArchiver zip;
  zip.SetName(u"zarc");
  std::u16string archive;
  za::TZAWideStrings masks, exclusions;
  bool progress = true, givenPassword = false;
  std::u16string password;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::u16string& a = args[i];
    bool more = i + 1 < args.size();
    if (!list && a == u"-x" && more) {
      exclusions.push_back(args[++i]);
    } else if (extract && a == u"-d" && more) {
      zip.SetBaseDir(args[++i]);
    } else if (extract && a == u"-n") {
      zip.Options().OverwriteMode = za::omNever;
    } else if (!list && a == u"-P" && more) {
      password = args[++i];
      givenPassword = true;
    } else if (!list && a == u"-q") {
      progress = false;
    } else if (a == u"--no-oem") {
      zip.Options().OEMFileNames = false;
    } else if ((a == u"--oem-cp" || a == u"--ansi-cp") && i + 1 < args.size()) {
      unsigned cp = static_cast<unsigned>(std::strtoul(sys::WideToUtf8(args[++i]).c_str(), nullptr, 10));
      if (cp == 0) {
        std::fprintf(stderr, "zarc: bad code page\n");
        return 2;
      }
      if (a == u"--oem-cp")
        sys::SetOemCodePage(cp);
      else
        sys::SetAnsiCodePage(cp);
    } else if (a.size() > 1 && a[0] == u'-') {
      std::fprintf(stderr, "zarc: unknown option '%s'\n%s", sys::WideToUtf8(a).c_str(), kUsage);
      return 2;
    } else if (archive.empty()) {
      archive = a;
    } else if (!list) {
      masks.push_back(a);
    } else {
      std::fprintf(stderr, "zarc: one archive at a time\n%s", kUsage);
      return 2;
    }
  }
  if (archive.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (list) return List(zip, archive);
  if (masks.empty()) masks.push_back(u"*.*");
  zip.SetFileMasks(masks);
  zip.SetExclusionMasks(exclusions);
  // After all options: --ansi-cp may come after -P.
  if (givenPassword) zip.SetPassword(ComponentPassword(password));
  return Process(zip, archive, extract, progress, !givenPassword && IsTerminal(StdStream::Input));
}

}  // namespace

int Main(const std::vector<std::u16string>& args) {
  try {
    return Run(args);
  } catch (const za::Exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", e.what());
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fprintf(stderr, "zarc: Out of memory\n");
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "zarc: %s\n", e.what());
  }
  return 1;
}

}  // namespace zarc
