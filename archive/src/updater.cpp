// The steps of the writing operations: new entries from files and folders
// on disk or from streams, selection and removal in the directory.
#include <algorithm>
#include <ctime>
#include <vector>

#include "updater.h"
#include "archive/mask.h"
#include "archive/time_blocks.h"
#include "sys/codepage.h"
#include "source_paths.h"
#include "sys/dos_time.h"
#include "sys/wide_dir.h"
#include "sys/wide_file.h"

namespace za {

namespace {

constexpr std::uint32_t kFolderAttribute = 0x10;

using paths::Backslashed;
using paths::DriveLength;
using paths::IsAbsolute;
using paths::Slashed;

// Now as a local MS-DOS date and time (an entry from a stream has no
// time of its own; zip tools stamp it with the time it was made).
std::uint32_t DosNow() {
  std::time_t t = std::time(nullptr);
  const std::tm* local = std::localtime(&t);
  const std::uint32_t now = local ? sys::DosDateTimeOf(*local) : 0;
  // A clock outside what the format holds: the earliest time it has.
  return now ? now : 0x00210000u;
}

std::u16string_view NameWithoutSlash(std::u16string_view name) {
  if (paths::EndsWithSlash(name)) name.remove_suffix(1);
  return name;
}

}  // namespace

void TZAUpdater::AddFromDisk(std::u16string_view fileMask, std::int32_t searchAttr, std::u16string_view exclusionMask,
                             TZAProcessOperation operation) {
  operation_ = operation;
  searchAttr_ = static_cast<std::uint32_t>(searchAttr);
  exclusion_ = exclusionMask;
  std::u16string base = a_.BaseDir().empty() ? sys::WideCurrentDirectory() : a_.BaseDir();
  base_ = ZANormalizePath(base);
  // The archive never goes into itself, as zip leaves its own file out.
  const std::u16string& archive = a_.FileName();
  self_ = archive.empty() || a_.InMemory()
              ? std::u16string()
              : ZANormalizePath(IsAbsolute(archive) ? archive : ZAJoinPath(sys::WideCurrentDirectory(), archive));
  std::u16string full = ZANormalizePath(IsAbsolute(fileMask) ? std::u16string(fileMask) : ZAJoinPath(base, fileMask));
  if (full.empty()) return;
  sys::WideDirEntry entry;
  // A folder named by the mask comes with its contents; a file by itself.
  bool wild = full.find_first_of(u"*?") != std::u16string::npos;
  if (!wild && sys::WideStat(full, entry, a_.Fidelity().LinksAsLinks)) {
    std::size_t cut = full.find_last_of(u'/');
    maskFolder_ = cut == std::u16string::npos ? std::u16string() : full.substr(0, cut);
    if (entry.IsLink) {
      AddLink(full, entry);
    } else if (entry.Attributes & kFolderAttribute) {
      AddFolder(full, entry);
      Walk(full, u"*");
    } else {
      AddFile(full, entry);
    }
    return;
  }
  if (!wild) return;  // names nothing
  std::size_t cut = full.find_last_of(u'/');
  maskFolder_ = cut == std::u16string::npos ? std::u16string() : full.substr(0, cut);
  std::u16string pattern = cut == std::u16string::npos ? full : full.substr(cut + 1);
  Walk(maskFolder_.empty() ? std::u16string(u"/") : maskFolder_, pattern.empty() ? u"*" : pattern);
}

void TZAUpdater::AddEntry(std::u16string name, std::uint32_t attributes, std::int32_t dosTime,
                          const std::u16string& sourceFile, std::unique_ptr<TZAStream> stream,
                          const sys::WideDirEntry* info) {
  std::u16string shown = Backslashed(name);
  bool confirm = true;
  if (a_.OnConfirmProcessFile) a_.OnConfirmProcessFile(&a_, shown, operation_, confirm);
  if (!confirm) return;
  std::string comment;
  if (a_.OnStoreFile) {
    a_.OnStoreFile(&a_, shown, attributes, comment, sourceFile.empty() ? shown : Backslashed(sourceFile));
    name = Slashed(shown);
  }
  bool folder = attributes & kFolderAttribute;
  while (!name.empty() && name[0] == u'/') name.erase(0, 1);
  if (folder && !name.empty() && !paths::EndsWithSlash(name)) name += u'/';
  if (name.empty()) return;
  TZADirArray& items = state_.Directory().Items;
  std::int32_t index = items.IndexOfName(name);
  if (index >= 0 && operation_ == poUpdate && !items.GetItem(index).IsNew) {
    const TDirItem& old = items.GetItem(index);
    std::int32_t stored = static_cast<std::int32_t>((static_cast<std::uint32_t>(old.Header.ModDate) << 16) |
                                                    old.Header.ModTime);
    // An exact time compares in UTC, at the precision the entry keeps.
    TZAEntryTimes exact;
    if (a_.Fidelity().ExactTimes && info) exact = ZAReadEntryTimes(old.ExtraFields);
    if (exact.Modified ? !ZALaterAt(info->Modified, *exact.Modified, exact.ResolutionNs) : dosTime <= stored) return;
  }
  TDirItem item;
  item.IsNew = true;
  TZAEntrySource& source = item.SetSource();
  source.SourceFileName = sourceFile;
  item.Comment = comment;
  source.EntryPassword = a_.Password();
  item.Header.ExternalAttributes = attributes;
  std::uint32_t dos = dosTime < 0 ? DosNow() : static_cast<std::uint32_t>(dosTime);
  item.Header.ModDate = static_cast<std::uint16_t>(dos >> 16);
  item.Header.ModTime = static_cast<std::uint16_t>(dos);
  item.CompressionSetting = folder || NoCompression(name) ? 0 : a_.CompressionMode();
  item.CryptoAlgorithm = state_.NewEntryCipher();
  source.SourceStream = std::move(stream);
  item.EntryName = name;
  if (info) AddBlocks(item, *info);
  if (index < 0) {
    index = items.Count();
    items.SetCount(index + 1);
    items.ItemAt(index) = TDirItem();
  }
  items.SetItem(index, item);  // the entry takes over the stream
  state_.MarkPending();
  if (operation_ == poMove && !sourceFile.empty()) state_.MoveLater(sourceFile);
}

void TZAUpdater::Select(std::u16string_view fileMask, std::int32_t searchAttr, std::u16string_view exclusionMask) {
  TZADirArray& items = state_.Directory().Items;
  items.ClearSelection();
  state_.SelectByMask(fileMask, searchAttr, exclusionMask);
  // The component's exclusion list holds for every operation by mask.
  if (a_.ExclusionMasks().empty()) return;
  for (std::int32_t i = 0; i < items.Count(); ++i) {
    TDirItem& item = items.ItemAt(i);
    if (item.Selected && Excluded(NameWithoutSlash(item.EntryName.str()))) item.Selected = false;
  }
}

void TZAUpdater::Compact() {
  TZADirArray& items = state_.Directory().Items;
  std::vector<TDirItem> kept;
  kept.reserve(static_cast<std::size_t>(items.Count()));
  for (std::int32_t i = 0; i < items.Count(); ++i) {
    TDirItem& item = items.ItemAt(i);
    if (!(item.PendingFlags & kRemoved)) kept.push_back(std::move(item));
    // The stream is the kept copy's now (or gone): not the slot's.
    item.DropSource();
  }
  items.Clear();
  items.SetCount(static_cast<std::int32_t>(kept.size()));
  for (std::size_t i = 0; i < kept.size(); ++i) items.SetItem(static_cast<std::int32_t>(i), kept[i]);
}
bool TZAUpdater::NoCompression(std::u16string_view name) const {
  std::u16string_view last = name;
  std::size_t cut = last.find_last_of(u'/');
  if (cut != std::u16string_view::npos) last = last.substr(cut + 1);
  for (const std::u16string& mask : a_.NoCompressionMasks())
    if (MatchesMask(name, mask) || MatchesMask(last, mask)) return true;
  return false;
}

bool TZAUpdater::Excluded(std::u16string_view stored) const {
  std::u16string_view last = stored;
  std::size_t cut = last.find_last_of(u'/');
  if (cut != std::u16string_view::npos) last = last.substr(cut + 1);
  if (!exclusion_.empty() && (MatchesMask(stored, exclusion_) || MatchesMask(last, exclusion_))) return true;
  for (const std::u16string& mask : a_.ExclusionMasks())
    if (MatchesMask(stored, mask) || MatchesMask(last, mask)) return true;
  return false;
}

// The stored name of a file or folder by its full (normalised) path.
std::u16string TZAUpdater::StoredName(const std::u16string& full) const {
  std::u16string rest;
  switch (a_.Options().StorePath) {
    case spNoPath: {
      std::size_t cut = full.find_last_of(u'/');
      return cut == std::u16string::npos ? full : full.substr(cut + 1);
    }
    case spRelativePath:
      if (ZAPathBelow(full, base_, rest) || ZAPathBelow(full, maskFolder_, rest)) return rest;
      [[fallthrough]];
    case spFullPath: {
      std::size_t drive = DriveLength(full);
      rest = full.substr(drive);
      while (!rest.empty() && rest[0] == u'/') rest.erase(0, 1);
      return rest;
    }
    case spFullPathWithDrive: {
      std::u16string s = full;
      while (!s.empty() && s[0] == u'/') s.erase(0, 1);
      return s;
    }
  }
  return full;
}

void TZAUpdater::AddFile(const std::u16string& full, const sys::WideDirEntry& entry) {
  if (!self_.empty() && ZALowerEqual(full, self_)) return;
  std::u16string stored = StoredName(full);
  if (Excluded(stored) || !Admitted(entry.Attributes)) return;
  AddEntry(stored, (entry.Attributes & ~kFolderAttribute) | UnixBits(entry), entry.DosDateTime, Backslashed(full),
           nullptr, &entry);
}

void TZAUpdater::AddFolder(const std::u16string& full, const sys::WideDirEntry& entry) {
  // With spNoPath folders have no place in the archive.
  if (a_.Options().StorePath == spNoPath) return;
  // The folder the names are relative to ("." as zip is given it) is where
  // the entries go, not an entry of its own.
  if (a_.Options().StorePath == spRelativePath && full == base_) return;
  std::u16string stored = StoredName(full);
  if (stored.empty() || Excluded(stored) || !Admitted(entry.Attributes)) return;
  AddEntry(stored, entry.Attributes | kFolderAttribute | UnixBits(entry), entry.DosDateTime, Backslashed(full),
           nullptr, &entry);
}

void TZAUpdater::AddLink(const std::u16string& full, const sys::WideDirEntry& entry) {
  if (!self_.empty() && ZALowerEqual(full, self_)) return;
  std::u16string stored = StoredName(full);
  if (Excluded(stored) || !Admitted(entry.Attributes)) return;
  auto text = std::make_unique<TZAMemoryStream>();
  std::string bytes = sys::WideToUtf8(entry.LinkTarget);
  text->Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  text->SetPosition(0);
  AddEntry(stored, entry.Attributes | ((entry.UnixMode & 0xFFFF) << 16), entry.DosDateTime, Backslashed(full),
           std::move(text), &entry);
}

void TZAUpdater::AddBlocks(TDirItem& item, const sys::WideDirEntry& info) const {
  const TZAFidelity& f = a_.Fidelity();
  auto add = [&item](std::uint16_t tag, const std::vector<std::uint8_t>& data) {
    item.ExtraFields.Add(tag, data.data(), static_cast<std::uint16_t>(data.size()));
  };
  // The modification time only: reading a file moves its access time, so
  // an archive of the same files would come out different every time.
  if (f.TimeBlocksOnWrite) add(kExtendedTimeExtraTag, ZAExtendedTimeBlock(info.Modified, nullptr));
  if (f.NtfsTimesOnWrite) add(kNtfsExtraTag, ZANtfsTimeBlock(info.Modified, info.Modified));
  if (f.OwnersOnWrite && info.UnixMode) add(kUnixOwnerExtraTag, ZAUnixOwnerBlock({info.User, info.Group}));
}

std::uint32_t TZAUpdater::UnixBits(const sys::WideDirEntry& entry) const {
  return a_.UnixModesOnWrite() ? (entry.UnixMode & 0xFFFF) << 16 : 0;
}

void TZAUpdater::Walk(const std::u16string& folder, std::u16string_view pattern) {
  std::vector<sys::WideDirEntry> entries;
  int error = 0;
  if (!sys::WideListDirectory(folder, entries, error, {}, a_.Fidelity().LinksAsLinks)) return;
  // Names in a stable order: what is archived does not depend on the
  // order the file system lists them in.
  std::sort(entries.begin(), entries.end(), [](const auto& x, const auto& y) { return x.Name < y.Name; });
  std::vector<std::u16string> folders;
  for (const sys::WideDirEntry& entry : entries) {
    std::u16string full = folder == u"/" ? u"/" + entry.Name : ZAJoinPath(folder, entry.Name);
    if (entry.IsLink) {
      if (MatchesMask(entry.Name, pattern)) AddLink(full, entry);
    } else if (entry.Attributes & kFolderAttribute) {
      if (!a_.Options().Recurse || entry.LinkedFolder) continue;
      std::u16string stored = StoredName(full);
      if (Excluded(stored) || !Admitted(entry.Attributes)) continue;
      // A pattern that takes every file takes the folders too, the empty
      // ones included; a narrower one takes only the files it matches.
      if (pattern == u"*" || pattern == u"*.*") AddFolder(full, entry);
      folders.push_back(full);
    } else if (MatchesMask(entry.Name, pattern)) {
      AddFile(full, entry);
    }
  }
  for (const std::u16string& sub : folders) Walk(sub, pattern);
}

}  // namespace za
