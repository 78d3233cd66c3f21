#include "extract_fidelity.h"

#include <algorithm>
#include <ctime>

#include "archive/archiver.h"
#include "archive/records.h"
#include "archive/time_blocks.h"
#include "entry_reader.h"
#include "paths.h"
#include "sys/codepage.h"
#include "sys/wide_file.h"

namespace za {

namespace {

// The local time an MS-DOS date and time stand for; nothing where a field
// is out of its range (a day past the month's end is the next month's, as
// for the system).
std::optional<std::tm> DosFields(std::uint16_t date, std::uint16_t time) {
  std::tm tm{};
  tm.tm_year = (date >> 9) + 80;
  tm.tm_mon = ((date >> 5) & 15) - 1;
  tm.tm_mday = date & 31;
  tm.tm_hour = time >> 11;
  tm.tm_min = (time >> 5) & 63;
  tm.tm_sec = (time & 31) * 2;
  tm.tm_isdst = -1;
  if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 59)
    return std::nullopt;
  return tm;
}

std::optional<sys::FileTime> DosToUtc(std::uint16_t date, std::uint16_t time) {
  std::optional<std::tm> tm = DosFields(date, time);
  if (!tm) return std::nullopt;
  std::time_t t = std::mktime(&*tm);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return sys::FileTime{static_cast<std::int64_t>(t), 0};
}

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// The components of `path`, "\" or "/" between them, empty ones and "."
// left out.
std::vector<std::u16string_view> Components(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    std::u16string_view part = path.substr(start, i - start);
    if (!part.empty() && part != u".") parts.push_back(part);
    start = i + 1;
  }
  return parts;
}

// "..", and what Windows reads as it (".. ", "...").
bool IsParent(std::u16string_view part) {
  return std::count(part.begin(), part.end(), u'.') >= 2 && part.find_first_not_of(u". ") == std::u16string_view::npos;
}

std::u16string Joined(const std::vector<std::u16string>& parts) {
  std::u16string s;
  for (const std::u16string& p : parts) {
    if (!s.empty()) s += u'\\';
    s += p;
  }
  return s;
}

}  // namespace

TZATimesToSet ZATimesOf(const TDirItem& item, bool exact, std::optional<sys::FileTime> localAccessed) {
  TZATimesToSet t;
  if (exact) {
    TZAEntryTimes found = ZAReadEntryTimes(item.ExtraFields);
    t.Modified = found.Modified;
    t.Accessed = found.Accessed ? found.Accessed : localAccessed;
  }
  if (!t.Modified) t.Modified = DosToUtc(item.Header.ModDate, item.Header.ModTime);
  return t;
}

std::optional<int> ZASetOutputTimes(sys::WideFile& file, const TDirItem& item, bool exact,
                                    std::optional<sys::FileTime> localAccessed) {
  // The blocks are read once: a million small entries pay for every pass.
  if (exact) {
    TZAEntryTimes found = ZAReadEntryTimes(item.ExtraFields);
    if (!found.Accessed) found.Accessed = localAccessed;
    if (found.Modified) {
      if (file.SetTimes(&*found.Modified, found.Accessed ? &*found.Accessed : nullptr)) return std::nullopt;
      return file.LastError();
    }
  }
  // No block but the MS-DOS fields: the file's own local time. A date the
  // system refuses as well is told apart from a system that refuses.
  if (!DosFields(item.Header.ModDate, item.Header.ModTime)) return 0;
  if (file.SetDosDateTime((static_cast<std::uint32_t>(item.Header.ModDate) << 16) | item.Header.ModTime))
    return std::nullopt;
  return file.LastError();
}

bool ZALinkStaysInside(std::u16string_view name, std::u16string_view target, const std::u16string& destDir,
                       const std::set<std::u16string>& links) {
  if (target.empty() || IsSeparator(target[0]) || target.find(u':') != std::u16string_view::npos ||
      target.find(u'\0') != std::u16string_view::npos)
    return false;
  // Resolved as the system would, from the folder that holds the link;
  // a link on the way is taken for a folder, which it is only if nothing
  // climbs back out of it.
  std::vector<std::u16string> at;
  for (std::u16string_view part : Components(name)) at.emplace_back(part);
  if (at.empty()) return false;
  at.pop_back();
  std::vector<std::u16string_view> parts = Components(target);
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (IsParent(parts[k])) {
      if (at.empty()) return false;
      at.pop_back();
      continue;
    }
    at.emplace_back(parts[k]);
    bool climbsLater = std::any_of(parts.begin() + static_cast<std::ptrdiff_t>(k) + 1, parts.end(), IsParent);
    if (!climbsLater) continue;
    std::u16string sofar = Joined(at);
    if (links.count(sofar) || sys::WideIsLink(destDir + sofar)) return false;
  }
  return true;
}

std::u16string ZADropEmptyComponents(std::u16string_view name) {
  std::u16string s;
  s.reserve(name.size());
  for (char16_t c : name)
    if (!(c == u'\\' && !s.empty() && s.back() == u'\\')) s += c;
  return s;
}

void TZAFidelityBatch::NoteFolder(std::u16string path, std::u16string name, const TZATimesToSet& times) {
  while (!path.empty() && IsSeparator(path.back())) path.pop_back();
  folders_.push_back(Folder{std::move(path), std::move(name), times});
}

void TZAFidelityBatch::SetFolderTimes(const std::function<void(const std::u16string& name, int error)>& notSet) {
  // Deepest first: a folder's time is set after those of the folders in it.
  std::stable_sort(folders_.begin(), folders_.end(), [](const Folder& a, const Folder& b) {
    return std::count_if(a.Path.begin(), a.Path.end(), IsSeparator) >
           std::count_if(b.Path.begin(), b.Path.end(), IsSeparator);
  });
  for (const Folder& f : folders_) {
    // A link in the place of a folder is not ours to change.
    if (sys::WideIsLink(f.Path) || !sys::WideDirectoryExists(f.Path)) continue;
    int error = 0;
    if (!f.Times.Modified ||
        !sys::WideSetFileTimes(f.Path, &*f.Times.Modified, f.Times.Accessed ? &*f.Times.Accessed : nullptr, &error))
      notSet(f.Name, error);
  }
  folders_.clear();
}

// ---- the component's side

std::vector<std::int32_t> TZABaseArchiver::BatchOrder() {
  std::vector<std::int32_t> order, links;
  const TZADirArray& items = dirManager_->Items;
  for (std::int32_t i = 0; i < items.Count(); ++i) {
    const TDirItem& item = items.GetItem(i);
    if (!item.Selected) continue;
    if (fidelityBatch_ && fidelity_.MakeLinks && ZAIsLinkEntry(item)) {
      links.push_back(i);
      fidelityBatch_->Links.insert(paths::Backslashed(item.EntryName.str()));
    } else {
      order.push_back(i);
    }
  }
  // No later entry can be written through a link the batch made.
  order.insert(order.end(), links.begin(), links.end());
  return order;
}

bool TZABaseArchiver::ExtractLink(std::int32_t index, const std::u16string& fileName, const std::u16string& path,
                                  const std::u16string& destDir) {
  const TDirItem& item = dirManager_->Items.GetItem(index);
  auto asFile = [&](TZAExtractNotice notice, const std::u16string& text, int error) {
    if (OnExtractNotice) OnExtractNotice(this, fileName, notice, text, error);
    return false;
  };
  // Longer than any system takes: it is not a link anyone made.
  constexpr std::uint64_t kLongestLink = 4096;
  if (item.UnpackedSize() > kLongestLink) return asFile(enLinkUnsafe, u"", 0);
  TZAMemoryStream text;
  if (DecodeItem(index, text) || cancel_) return true;
  const std::vector<std::uint8_t>& bytes = text.Data();
  std::u16string target = sys::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (!sys::WideSystemHasLinks()) return asFile(enNoLinks, target, 0);
  std::u16string below = path.substr(std::min(destDir.size(), path.size()));
  if (!fidelity_.UnsafeLinks && !ZALinkStaysInside(below, target, destDir, fidelityBatch_ ? fidelityBatch_->Links
                                                                                          : std::set<std::u16string>{}))
    return asFile(enLinkUnsafe, target, 0);
  // Made beside its place and put there in one step, as a file is: what
  // was there stays until the link is made.
  int error = 0;
  std::u16string made;
  for (int attempt = 0; attempt < 16 && made.empty(); ++attempt) {
    std::u16string name = path + u".~zl" + std::u16string(1, static_cast<char16_t>(u'a' + attempt));
    if (sys::WideCreateSymbolicLink(name, target, &error)) made = name;
  }
  if (made.empty() || (sys::WideDirectoryExists(path) && !sys::WideIsLink(path)) || !sys::WideReplaceFile(made, path)) {
    if (!made.empty()) {
      error = 0;
      sys::WideDeleteFile(made);
    }
    outputFailure_.SystemError = error;
    throw EZAException(neCannotCreateFile, this, {path});
  }
  TZATimesToSet times = ZATimesOf(item, fidelity_.ExactTimes, LocalAccessTime(index));
  error = 0;
  if ((!times.Modified ||
       !sys::WideSetFileTimes(path, &*times.Modified, times.Accessed ? &*times.Accessed : nullptr, &error)) &&
      OnExtractNotice)
    OnExtractNotice(this, fileName, enTimeNotSet, u"", error);
  FinishOutput(item, fileName, path);
  return true;
}

std::optional<sys::FileTime> TZABaseArchiver::LocalAccessTime(std::int32_t index) {
  const TDirItem& item = dirManager_->Items.GetItem(index);
  if (!fidelity_.ExactTimes || !stream_ || !ZAAccessTimeIsLocal(item.ExtraFields)) return std::nullopt;
  if (volumes_ && EntryReader().EntryVolume(*dirManager_, item) != static_cast<std::uint32_t>(volumes_->Volume()))
    return std::nullopt;
  try {
    std::vector<std::uint8_t> nameAndExtra;
    TZAEntrySpan span = EntryReader().Find(*stream_, *dirManager_, item, &nameAndExtra);
    if (!span.HasSignature() || nameAndExtra.size() < span.Local.NameLength) return std::nullopt;
    return ZALocalAccessTime(nameAndExtra.data() + span.Local.NameLength,
                             nameAndExtra.size() - span.Local.NameLength);
  } catch (const EReadError&) {
    // The entry's own reading reports what is wrong with its header.
    return std::nullopt;
  }
}

void TZABaseArchiver::FinishOutput(const TDirItem& item, const std::u16string& fileName, const std::u16string& path) {
  if (!fidelity_.RestoreOwners) return;
  std::optional<TZAEntryOwner> owner = ZAReadEntryOwner(item.ExtraFields);
  int error = 0;
  if (owner && !sys::WideSetOwner(path, owner->User, owner->Group, &error) && OnExtractNotice)
    OnExtractNotice(this, fileName, enOwnerNotSet, u"", error);
}

}  // namespace za
