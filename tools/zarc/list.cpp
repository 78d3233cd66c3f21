// zarc list: one line per entry in the manner of `unzip -v`, with the
// archive comment first and each entry's comment under its line.
#include <cerrno>
#include <charconv>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "archive/time_blocks.h"
#include "commands.h"
#include "sys/codepage.h"

namespace zarc {

namespace {

std::string Attributes(std::uint32_t a, bool link) {
  std::string s = ".....";
  if (a & 0x01) s[0] = 'R';
  if (a & 0x02) s[1] = 'H';
  if (a & 0x04) s[2] = 'S';
  if (a & 0x10) s[3] = 'D';
  if (link) s[3] = 'l';
  if (a & 0x20) s[4] = 'A';
  return s;
}

bool IsUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 4;
    if (n == 4 || n > s.size() - i - 1) return false;
    for (std::size_t k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

// Comments carry no mark of their encoding: UTF-8 when they are valid
// UTF-8 (plain ASCII included), else the code pages that names go through.
std::u16string CommentText(std::string_view bytes, const za::TZipArchiver& zip) {
  if (IsUtf8(bytes)) return sys::Utf8ToWide(bytes);
  std::string s(bytes);
  if (zip.Options().OEMFileNames) sys::OemToAnsiInPlace(s.data(), s.size());
  return sys::AnsiToWide(s);
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
  // A name as Printable shows it; one kept in bytes (Latin-1) goes to UTF-8
  // straight from them, so that a million names make no strings.
  Line& Name(const za::TZAEntryName& name) {
    if (!name.Narrow()) return Text(Printable(name.str()));
    for (char c : name.NarrowView()) {
      unsigned char u = static_cast<unsigned char>(c);
      if (u < 0x80) {
        AppendPrintable(s_, c);
      } else {
        s_.push_back(static_cast<char>(0xC0 | (u >> 6)));
        s_.push_back(static_cast<char>(0x80 | (u & 0x3F)));
      }
    }
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

// JSON string contents: UTF-8 as it is, quotes, backslashes and control
// characters escaped.
void JsonString(Line& line, std::string_view text) {
  line.Text("\"");
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      char pair[2] = {'\\', c};
      line.Text(std::string_view(pair, 2));
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      line.Text(buf);
    } else {
      line.Text(std::string_view(&c, 1));
    }
  }
  line.Text("\"");
}

// The entry's MS-DOS time is local time where it was written; read as
// local time here, as every zip tool reads it.
std::string IsoTimeUtc(const za::TDirItem& item) {
  char buf[32];
  if (std::time_t seconds; ExactModifiedTime(item, seconds)) {
    const std::tm* utc = std::gmtime(&seconds);
    if (!utc) return {};
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", utc);
    return buf;
  }
  // The MS-DOS fields hold a local time: taken as this zone's.
  std::uint16_t d = item.Header.ModDate, t = item.Header.ModTime;
  std::tm local{};
  local.tm_year = static_cast<int>((d >> 9) + 80);
  local.tm_mon = static_cast<int>((d >> 5) & 15) - 1;
  local.tm_mday = static_cast<int>(d & 31);
  local.tm_hour = t >> 11;
  local.tm_min = (t >> 5) & 63;
  local.tm_sec = (t & 31) * 2;
  local.tm_isdst = -1;
  std::time_t when = std::mktime(&local);
  std::tm* utc = when == static_cast<std::time_t>(-1) ? nullptr : std::gmtime(&when);
  if (!utc) return {};
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", utc);
  return buf;
}

constexpr std::uint32_t kUnixTypeMask = 0170000, kUnixLink = 0120000;

std::uint32_t UnixMode(const za::TDirItem& item) {
  return za::MadeOnUnix(item.Header.VersionMadeBy) ? item.Header.ExternalAttributes >> 16 : 0;
}

// A link's target is its entry's data; a damaged or oversized one has none
// to show.
bool LinkTarget(za::TZipArchiver& zip, std::int32_t index, std::string& target) {
  const za::TDirItem& item = zip.Item(index);
  if ((UnixMode(item) & kUnixTypeMask) != kUnixLink || (item.Header.Flags & 1)) return false;
  return ReadLinkText(zip, index, target) && !zip.LastEntryDamaged();
}

void JsonEntry(za::TZipArchiver& zip, std::int32_t index, Line& line) {
  const za::TDirItem& item = zip.Item(index);
  line.Text("{\"name\":");
  JsonString(line, sys::WideToUtf8(item.EntryName.str()));
  line.Text(",\"size\":").Number(item.UnpackedSize(), 0).Text(",\"packed_size\":").Number(item.PackedSize(), 0);
  line.Text(",\"method\":");
  JsonString(line, MethodName(item));
  line.Text(",\"crc32\":\"").Hex(item.Header.Crc32).Text("\",\"time\":");
  std::string when = IsoTimeUtc(item);
  if (when.empty())
    line.Text("null");
  else
    JsonString(line, when);
  line.Text(",\"attributes\":");
  JsonString(line, Attributes(item.Header.ExternalAttributes, za::ZAIsLinkEntry(item)));
  line.Text(",\"unix_mode\":");
  if (std::uint32_t mode = UnixMode(item))
    line.Number(mode, 0);
  else
    line.Text("null");
  line.Text(",\"link_target\":");
  std::string target;
  if (LinkTarget(zip, index, target))
    JsonString(line, target);
  else
    line.Text("null");
  line.Text(",\"encrypted\":").Text(item.Header.Flags & 1 ? "true" : "false").Text(",\"comment\":");
  if (item.Comment.empty())
    line.Text("null");
  else
    JsonString(line, sys::WideToUtf8(CommentText(item.Comment.str(), zip)));
  line.Text("}\n");
}

// For scripts: one JSON object per line, or the names alone, one a line.
int ListForScripts(za::TZipArchiver& zip, const Settings& settings, const std::vector<std::int32_t>& selected) {
  Line line;
  for (std::int32_t i : selected) {
    if (settings.listing == Settings::kJson)
      JsonEntry(zip, i, line);
    else
      line.Name(zip.Item(i).EntryName).Text("\n");
    if (line.Size() > 1 << 16) line.Flush();
  }
  line.Flush();
  errno = 0;
  return std::fflush(stdout) == 0 ? 0 : errno ? errno : EIO;
}

}  // namespace

int List(za::TZipArchiver& zip, const Settings& settings) {
  Reporter report(settings.Named());
  Outcome outcome;
  if (!Open(zip, settings, report, outcome)) return outcome.Final(false);
  za::TZAWideStrings unmatched;
  std::vector<std::int32_t> selected = Select(zip, settings, unmatched);
  // An empty archive lists as empty; only a selection that comes to nothing
  // is reported.
  auto finish = [&] {
    ReportUnmatched(unmatched, selected.empty() && !EmptyArchive(zip), false, report, outcome);
    zip.CloseArchive();
    return outcome.Final(true);
  };
  if (settings.listing != Settings::kLines) {
    if (int error = ListForScripts(zip, settings, selected)) {
      report.Archive("writing to standard output failed: " + SystemReason(error));
      outcome.Note(kDiskFull);
    }
    return finish();
  }
  if (!settings.quiet) std::printf("Archive:  %s\n", report.ArchiveName().c_str());
  const std::string& comment = zip.DirManager()->ZipComment;
  if (!comment.empty() && !settings.quiet) {
    // Line breaks of the comment stay; other control characters are shown.
    std::u16string text = CommentText(comment, zip);
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t end = text.find(u'\n', start);
      if (end == std::u16string::npos) end = text.size();
      std::u16string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == u'\r') line.pop_back();
      std::printf("%s\n", Printable(line).c_str());
      start = end + 1;
    }
  }
  if (!settings.quiet) {
    std::printf("    Length  Method       Size Cmpr    Date     Time     CRC-32  Attr  Enc  Name\n");
    std::printf("----------  ------ ---------- ---- ---------- -------- --------  ----- ---  ----\n");
  }
  std::fflush(stdout);
  std::uint64_t totalLength = 0, totalSize = 0;
  Line line;
  for (std::int32_t i : selected) {
    const za::TDirItem& item = zip.Item(i);
    std::uint64_t packed = item.PackedSize(), unpacked = item.UnpackedSize();
    line.Number(unpacked, 10).Text("  ").Text(MethodName(item), 6).Text(" ").Number(packed, 10).Text(" ");
    line.Percent(Ratio(packed, unpacked)).Text(" ");
    if (item.ExtraFields.Empty()) {
      std::uint16_t d = item.Header.ModDate, t = item.Header.ModTime;
      line.Number((d >> 9) + 1980u, 4).Text("-").Two((d >> 5) & 15u).Text("-").Two(d & 31u).Text(" ");
      line.Two(t >> 11u).Text(":").Two((t >> 5) & 63u).Text(":").Two((t & 31u) * 2u);
    } else {
      line.Text(EntryTimeText(item, settings.utc));
    }
    std::string target = LinkTarget(zip, i);
    line.Text(" ").Hex(item.Header.Crc32).Text("  ");
    line.Text(Attributes(item.Header.ExternalAttributes, za::ZAIsLinkEntry(item))).Text(" ");
    // Names as stored, with "/", whatever the system's separator.
    line.Text(item.Header.Flags & 1 ? "Yes" : "No ").Text("  ").Name(item.EntryName);
    if (za::ZAIsLinkEntry(item)) line.Text(" -> ").Text(target);
    line.Text("\n");
    if (!item.Comment.empty())
      line.Text("            comment: ").Text(Printable(CommentText(item.Comment.str(), zip))).Text("\n");
    if (line.Size() > 1 << 16) line.Flush();
    totalLength += unpacked;
    totalSize += packed;
  }
  line.Flush();
  if (settings.quiet) {
    return finish();
  }
  std::printf("----------         ---------- ----                                           -------\n");
  std::uint64_t count = selected.size();
  Line summary;
  summary.Number(totalLength, 10).Text("         ").Number(totalSize, 10).Text(" ").Percent(Ratio(totalSize, totalLength));
  summary.Text("                                           ").Number(count, 0);
  summary.Text(count == 1 ? " file\n" : " files\n").Flush();
  std::fflush(stdout);
  return finish();
}

}  // namespace zarc
