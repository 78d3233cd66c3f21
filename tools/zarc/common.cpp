#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>

#include "archive/mask.h"
#include "archive/time_blocks.h"
#include "commands.h"
#include "console.h"
#include "sys/codepage.h"
#include "sys/system.h"
#include "sys/text.h"
#include "sys/wide_file.h"

namespace zarc {

int Outcome::Rank(Status status) {
  switch (status) {
    case kOk: return 0;
    case kNothingMatched: return 1;
    case kWarning: return 2;
    case kBadPassword: return 3;
    case kUnsupported: return 4;
    case kDamaged: return 5;
    case kSevere: return 6;
    case kUsage: return 7;
    case kNoArchive: return 8;
    case kDiskFull: return 9;
    case kLocked: return 10;
  }
  return 0;
}

void Outcome::Note(Status status) {
  if (Rank(status) > Rank(worst_)) worst_ = status;
}

int Outcome::Final(bool anyProcessed) const { return worst_ == kBadPassword && anyProcessed ? kWarning : worst_; }

std::string Printable(const std::u16string& text) {
  std::string out;
  for (char c : sys::WideToUtf8(text)) AppendPrintable(out, c);
  return out;
}

std::string Shown(const std::u16string& name) {
  std::string out = Printable(name);
  for (char& c : out)
    if (c == '\\' || c == '/') c = PathSeparator();
  return out;
}

Reporter::Reporter(const std::u16string& archive) : archive_(Shown(archive)) {}

void Reporter::Archive(const std::string& text) const {
  std::fflush(stdout);
  std::fprintf(stderr, "zarc: %s: %s\n", archive_.c_str(), text.c_str());
}

void Reporter::Entry(const std::u16string& name, const std::string& text) const {
  std::fflush(stdout);
  std::fprintf(stderr, "zarc: %s: %s: %s\n", archive_.c_str(), Shown(name).c_str(), text.c_str());
}

// The system gives its reasons in the ANSI code page; zarc writes UTF-8.
std::string SystemReason(int code) { return sys::NativeToUtf8(sys::Platform().ErrorMessage(code)); }

std::string EngineText(const std::u16string& message, int systemError) {
  // "TEXT - Native error: 00019" becomes "TEXT: REASON (native error 19)".
  static const std::u16string kNative = u" - Native error: ";
  std::size_t at = message.rfind(kNative);
  std::u16string text = at == std::u16string::npos ? message : message.substr(0, at);
  std::string out = Shown(text);
  if (systemError) out += ": " + SystemReason(systemError);
  if (at != std::u16string::npos) {
    std::u16string number = message.substr(at + kNative.size());
    std::size_t digit = number.find_first_not_of(u'0');
    out += " (native error " + sys::WideToUtf8(digit == std::u16string::npos ? u"0" : number.substr(digit)) + ")";
  }
  return out;
}

bool ExactModifiedTime(const za::TDirItem& item, std::time_t& seconds) {
  za::TZAEntryTimes exact = za::ZAReadEntryTimes(item.ExtraFields);
  if (!exact.Modified) return false;
  seconds = static_cast<std::time_t>(exact.Modified->Seconds);
  return true;
}

std::string EntryTimeText(const za::TDirItem& item, bool utc) {
  char text[24];
  if (std::time_t t; ExactModifiedTime(item, t)) {
    if (const std::tm* tm = utc ? std::gmtime(&t) : std::localtime(&t)) {
      std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm->tm_year + 1900, tm->tm_mon + 1,
                    tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec);
      return text;
    }
  }
  // The MS-DOS fields hold a local time of an unknown zone: shown as they
  // stand, also with --utc.
  unsigned d = item.Header.ModDate, t = item.Header.ModTime;
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", (d >> 9) + 1980u, (d >> 5) & 15u, d & 31u, t >> 11,
                (t >> 5) & 63u, (t & 31u) * 2u);
  return text;
}

bool ReadLinkText(za::TZipArchiver& zip, std::int32_t index, std::string& text) {
  // A link's text is a path: anything longer is not one to decode whole.
  if (zip.Item(index).UnpackedSize() > 4096) return false;
  za::TZAMemoryStream data;
  try {
    zip.ExtractItemToStream(index, data);
  } catch (const za::Exception&) {
    return false;
  }
  text.assign(data.Data().begin(), data.Data().end());
  return true;
}

std::string LinkTarget(za::TZipArchiver& zip, std::int32_t index) {
  if (!za::ZAIsLinkEntry(zip.Item(index))) return {};
  std::string text;
  if (!ReadLinkText(zip, index, text)) return "?";
  return Printable(sys::Utf8ToWide(text));
}

std::string MethodName(const za::TDirItem& item) {
  unsigned m = item.ActualMethod;
  switch (m) {
    case 0: return "Stored";
    case 8: {
      static const char* const kinds[] = {"Defl:N", "Defl:X", "Defl:F", "Defl:S"};
      return kinds[(item.Header.Flags >> 1) & 3];
    }
    case 9: return "Deflate64";
    case 12: return "BZip2";
    case 14: return "LZMA";
    case 20:
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

namespace {

// The one mask a selection is made by when no other mask or exclusion
// joins it: the default mask where the user gave none.
std::optional<std::u16string> SoleMask(const Settings& settings) {
  if (settings.masks.size() > 1 || !settings.exclusions.empty()) return std::nullopt;
  return settings.masks.empty() ? u"*.*" : settings.masks[0];
}

}  // namespace

std::vector<std::int32_t> Select(za::TZipArchiver& zip, const Settings& settings, za::TZAWideStrings& unmatched) {
  // One mask and no exclusion: what it finds is the selection, in order,
  // with no second list of a million entries beside it.
  if (std::optional<std::u16string> mask = SoleMask(settings)) {
    std::vector<std::int32_t> found = zip.FindIndexes(*mask, u"", zip.Options().SearchAttr);
    if (found.empty() && !settings.masks.empty()) unmatched.push_back(*mask);
    return found;
  }
  za::TZAWideStrings masks = settings.masks;
  if (masks.empty()) masks.push_back(u"*.*");
  std::vector<bool> selected(static_cast<std::size_t>(zip.Count()));
  for (const std::u16string& mask : masks) {
    bool any = false;
    for (std::int32_t i : zip.FindIndexes(mask, u"", zip.Options().SearchAttr)) {
      selected[static_cast<std::size_t>(i)] = true;
      any = true;
    }
    // The default mask is no mask of the user's: an empty archive is said
    // to be one.
    if (!any && !settings.masks.empty()) unmatched.push_back(mask);
  }
  std::vector<std::int32_t> out;
  std::u16string scratch;
  for (std::int32_t i = 0; i < zip.Count(); ++i) {
    if (!selected[static_cast<std::size_t>(i)]) continue;
    std::u16string_view name = zip.Item(i).EntryName.ViewIn(scratch);
    if (!name.empty() && name.back() == u'/') name.remove_suffix(1);
    bool excluded = false;
    for (const std::u16string& exclusion : settings.exclusions) excluded = excluded || za::MatchesMask(name, exclusion);
    if (!excluded) out.push_back(i);
  }
  return out;
}

std::size_t CountSelected(za::TZipArchiver& zip, const Settings& settings, za::TZAWideStrings& unmatched) {
  std::optional<std::u16string> mask = SoleMask(settings);
  if (!mask) return Select(zip, settings, unmatched).size();
  std::int32_t found = zip.CountFound(*mask, u"", zip.Options().SearchAttr);
  if (found == 0 && !settings.masks.empty()) unmatched.push_back(*mask);
  return static_cast<std::size_t>(found);
}

namespace {

// A volume of a split archive that is not there is named, and refused (the
// engine's own answer refuses without saying which). Disks of a spanned set
// on removable media are left to the engine's boxes, which ask for them.
void ReportMissingVolumes(za::TZipArchiver& zip, const Reporter& report) {
  auto check = [report](const std::u16string& volume, bool& cancel) {
    if (sys::WideFileExists(volume)) return;
    report.Archive("cannot find volume " + Shown(volume));
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

// The loader finds the central directory of an archive in one file in front
// of the end records, by its size, and never reads the offset the end record
// stores. An offset behind the end record is no prefix's doing (a stub puts
// the directory later than stored, not earlier): the end record is damaged,
// as unzip and 7z find it.
void ReportDirectoryOffset(const za::TZADirManager& dir, const Reporter& report, Outcome& outcome) {
  std::uint64_t stored = dir.EndRecord.CentralDirOffset;
  if (stored == 0xFFFFFFFF && dir.HasZip64End) stored = dir.Zip64EndRecord.CentralDirOffset;
  std::uint64_t end = static_cast<std::uint64_t>(dir.EndRecordPosition);
  if (stored <= end) return;
  std::uint64_t size = end + za::EndOfCentralDirectory::kSize + dir.EndRecord.CommentLength;
  outcome.Note(kDamaged);
  report.Archive("warning: the end record is damaged: it puts the central directory at offset " +
                 std::to_string(stored) + (stored >= size ? ", past the end of the archive" : ", behind itself") +
                 "; the directory was read in front of the end record, at offset " +
                 std::to_string(dir.DirectoryStart));
}

}  // namespace

void LoadOnlyNamed(za::TZipArchiver& zip, const Settings& settings) {
  // Every entry a mask without wildcards selects holds the mask's last
  // part in its name (the whole name or its last component equals the
  // mask): entries without it need not be made at all.
  std::vector<std::u16string> parts;
  for (const std::u16string& mask : settings.masks) {
    if (mask.find_first_of(u"*?") != std::u16string::npos) return;
    std::u16string part = mask.substr(mask.find_last_of(u"/\\:") == std::u16string::npos
                                          ? 0
                                          : mask.find_last_of(u"/\\:") + 1);
    while (!part.empty() && part.back() == u'.') part.pop_back();
    if (part.empty()) return;
    sys::WideLowerInPlace(part);
    parts.push_back(std::move(part));
  }
  if (parts.empty()) return;
  // Every name of a million is looked at: it is searched in place through
  // a table of each code unit's lower case, not lowered into a copy. A
  // name with surrogates is lowered whole, as the selection lowers it.
  const char16_t* lowerOf = sys::WideLowerUnits();
  zip.SetLoadFilter([parts, lowerOf, lower = std::u16string()](std::u16string_view name) mutable {
    bool surrogates = std::any_of(name.begin(), name.end(), [](char16_t c) { return c >= 0xD800 && c <= 0xDFFF; });
    if (surrogates) {
      lower.assign(name);
      sys::WideLowerInPlace(lower);
      for (const std::u16string& part : parts)
        if (lower.find(part) != std::u16string::npos) return true;
      return false;
    }
    for (const std::u16string& part : parts) {
      if (part.size() > name.size()) continue;
      const std::size_t last = part.size() - 1;
      for (std::size_t at = 0; at + part.size() <= name.size(); ++at) {
        if (lowerOf[name[at + last]] != part[last] || lowerOf[name[at]] != part[0]) continue;
        std::size_t k = 1;
        while (k < last && lowerOf[name[at + k]] == part[k]) ++k;
        if (k >= last) return true;
      }
    }
    return false;
  });
}

bool Open(za::TZipArchiver& zip, const Settings& settings, const Reporter& report, Outcome& outcome) {
  // The engine counts a folder as no file at all; say what it is.
  if (sys::WideDirectoryExists(settings.archive)) {
    outcome.Note(kNoArchive);
    report.Archive("is a folder, not an archive");
    return false;
  }
  if (!sys::WideIsRemovableDrive(settings.archive)) ReportMissingVolumes(zip, report);
  zip.SetFileName(settings.archive);
  try {
    zip.OpenArchive(za::kZAModeReadOnly);  // never creates a file
  } catch (const za::EZAException& e) {
    // Not there, or nothing in it that looks like a zip archive: unzip's 9.
    outcome.Note(e.NativeError == za::neArchiveNotFound || e.NativeError == za::neInvalidArchive ? kNoArchive : kSevere);
    report.Archive(EngineText(e.Message()));
    return false;
  } catch (const za::EStreamError& e) {
    outcome.Note(dynamic_cast<const za::EFOpenError*>(&e) ? kNoArchive : kSevere);
    report.Archive(EngineText(e.Message(), e.SystemError));
    return false;
  }
  const za::TZADirManager& dir = *zip.DirManager();
  if (dir.Rebuilt) {
    outcome.Note(kDamaged);
    report.Archive("warning: the central directory is missing or damaged; entries were found from their local "
                   "headers, and entries whose headers are lost cannot be named");
    for (const std::u16string& name : dir.RebuildDropped)
      report.Entry(name, "cannot be read: its data is cut off by the end of the archive");
  } else if (zip.LastVolume() == 0 && dir.EndRecordPosition >= 0) {
    ReportDirectoryOffset(dir, report, outcome);
  }
  return true;
}

bool ReportUnmatched(const za::TZAWideStrings& unmatched, bool nothingSelected, bool emptyArchive,
                     const Reporter& report, Outcome& outcome) {
  for (const std::u16string& mask : unmatched) report.Entry(mask, "no entry matches");
  if (!unmatched.empty()) outcome.Note(kNothingMatched);
  if (nothingSelected && unmatched.empty()) {
    // Nothing there at all is a warning, as unzip gives it; every entry
    // excluded is a selection that came to nothing.
    report.Archive(emptyArchive ? "warning: the archive holds no entries" : "no entry selected");
    outcome.Note(emptyArchive ? kWarning : kNothingMatched);
  }
  return nothingSelected;
}

}  // namespace zarc
