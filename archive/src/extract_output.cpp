// The output of one extracted entry: where it goes, whether a file there
// may be replaced, and the file put in place only once the entry passed.
#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <unordered_map>
#include <unordered_set>

#include "archive/archiver.h"
#include "archive/time_blocks.h"
#include "extract_fidelity.h"
#include "output_ahead.h"
#include "paths.h"
#include "sys/codepage.h"
#include "sys/wide_file.h"

namespace za {

namespace {

// A ".." component (also ".. " and "..." which Windows reads as "..").
bool HasParentComponent(std::u16string_view name) {
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find(u'\\', start);
    if (end == std::u16string_view::npos) end = name.size();
    std::u16string_view part = name.substr(start, end - start);
    std::size_t dots = static_cast<std::size_t>(std::count(part.begin(), part.end(), u'.'));
    if (dots >= 2 && part.find_first_not_of(u". ") == std::u16string_view::npos) return true;
    start = end + 1;
  }
  return false;
}

// A name for a file of our own that no entry is likely to carry; taken
// names are passed over anyway.
std::u16string TempName() {
  static std::atomic<std::uint32_t> next{std::random_device{}()};
  std::uint32_t v = next.fetch_add(0x9E3779B9u);
  v ^= v >> 16;
  v *= 0x7FEB352Du;
  v ^= v >> 15;
  std::u16string name = u"~za";
  for (int i = 0; i < 5; ++i) name += u"0123456789abcdef"[(v >> (4 * i)) & 15];
  return name + u".tmp";
}

// A new file of our own in `folder`; `error` gets the system's reason when
// there is none.
bool MakeTempFile(std::u16string_view folder, std::u16string& name, sys::WideFile& file, int* error) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    name = std::u16string(folder) + TempName();
    if (file.CreateNew(name)) return true;
    if (error) *error = file.LastError();
    // Only a name already taken is worth another try.
    if (!sys::WideFileExists(name) && !sys::WideDirectoryExists(name)) return false;
  }
  return false;
}

// The output of one entry. Where no file is, it is made at its place, and
// removed again when the entry does not pass. Where a file (or anything
// else) is, the entry is decoded into a new file of our own beside it,
// which takes its place only once the entry has decoded and passed its
// checks: a failed, skipped or cancelled entry never costs the user the
// file it was to replace. What is not put in place is removed.
class PendingOutput {
 public:
  PendingOutput() = default;
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;
  ~PendingOutput() {
    Close();
    if (!name_.empty()) sys::WideDeleteFile(name_);
  }

  // False when no file can be made. `file` is one made at `path` already.
  bool Create(std::u16string_view path, sys::WideFile file) {
    direct_ = file.IsOpen() || (!sys::WideFileExists(path) && !sys::WideDirectoryExists(path) &&
                                file.CreateNew(path));
    std::u16string name;
    if (direct_)
      name.assign(path);
    else if (sys::WideDirectoryExists(path) || !MakeTempFile(paths::FolderPart(path), name, file, &error_))
      return false;
    file.SetFreshPages(true);
    stream_.emplace(std::move(file), name, true);
    name_ = std::move(name);
    return true;
  }
  TZAFileStream& Stream() { return *stream_; }
  // Made at its place: what is set on it now is set on what the user gets.
  bool InPlace() const { return direct_; }
  // The system's error code of the last failed creation.
  int Error() const { return error_; }
  void Close() { stream_.reset(); }
  // Puts the file in the place of `path`. Windows replaces no read-only
  // file, so one there loses that attribute first, and gets it back when
  // the file stays.
  bool Commit(std::u16string_view path) {
    Close();
    if (direct_) {
      name_.clear();
      return true;
    }
    std::uint32_t old = sys::WideGetAttributes(path);
    bool cleared = old != sys::kInvalidAttributes && (old & 0x01) && sys::WideSetAttributes(path, old & ~0x01u);
    if (!sys::WideReplaceFile(name_, path)) {
      if (cleared) sys::WideSetAttributes(path, old);
      return false;
    }
    name_.clear();
    return true;
  }

 private:
  std::u16string name_;
  bool direct_ = false;
  std::optional<TZAFileStream> stream_;
  int error_ = 0;
};

// The first folder of `folders` (FolderPart of a name, below `destDir`)
// that is a link, or empty. The engine makes no links, so one there was put
// by someone else, and what is written through it lands outside the
// destination.
std::u16string LinkOnTheWay(const std::u16string& destDir, std::u16string_view folders) {
  for (std::size_t end = folders.find(u'\\'); end != std::u16string_view::npos; end = folders.find(u'\\', end + 1)) {
    std::u16string folder = destDir + std::u16string(folders.substr(0, end));
    if (end > 0 && sys::WideIsLink(folder)) return folder;
  }
  return {};
}

// Creates every missing folder of `path` (separators "\" or "/"); `error`
// gets the system's reason when one cannot be made.
bool ForceDirectories(std::u16string_view path, int& error) {
  std::size_t skip = paths::DriveLength(path, paths::kBackslash);
  for (std::size_t i = skip; i <= path.size(); ++i) {
    if (i < path.size() && !paths::IsSeparator(path[i])) continue;
    std::u16string_view prefix = path.substr(0, i);
    if (prefix.empty() || prefix.size() <= skip || paths::EndsWithSeparator(prefix)) continue;
    if (sys::WideDirectoryExists(prefix)) continue;
    if (!sys::WideCreateDirectory(prefix, &error) && !sys::WideDirectoryExists(prefix)) return false;
  }
  return true;
}

// Folders known to be ready at most, so that a million entries each in a
// folder of its own keep no million names.
constexpr std::size_t kFoldersKept = 4096;

}  // namespace

std::unique_ptr<TZAOutputAhead> TZABaseArchiver::MakeOutputAhead(const std::vector<std::int32_t>& order) {
  const std::uint64_t from = outputAheadFrom_;
  auto worthAhead = [this, from](std::int32_t index) {
    return dirManager_->Items.GetItem(index).UnpackedSize() >= from;
  };
  // No helpers, and no walk over a million names, for a batch of entries
  // that are all made here.
  if (from > 0 && std::none_of(order.begin(), order.end(), worthAhead)) return nullptr;
  // Where each selected entry goes unless a handler says otherwise, as
  // ExtractItem works it out.
  if (cachedCurrentDir_.empty()) cachedCurrentDir_ = sys::WideCurrentDirectory();
  std::u16string destDir = baseDir_.empty() ? cachedCurrentDir_ : baseDir_;
  if (destDir.empty() || destDir.back() != u'\\') destDir += u'\\';
  // Paths that two entries go to are left to the batch, which decides
  // between them in order; a folder's case does not count on Windows. They
  // are told apart by hash, which costs little for a million entries: two
  // paths of the same hash are only left to the batch as well.
  auto pathOf = [this, destDir](std::int32_t index) {
    const TDirItem& item = dirManager_->Items.GetItem(index);
    std::u16string name = paths::Backslashed(item.EntryName.str());
    if (fidelity_.DropEmptyComponents) name = ZADropEmptyComponents(name);
    if (!options_.CreateDirs) name = std::u16string(paths::NamePart(name, paths::kEventCuts));
    bool plain = !item.IsFolder() && !(fidelity_.MakeLinks && ZAIsLinkEntry(item)) && name.find(u':') == std::u16string::npos &&
                 name.find(u"\\\\") == std::u16string::npos && !HasParentComponent(name);
    return plain ? destDir + name : std::u16string();
  };
  auto hashOf = [](std::u16string path) {
    sys::WideLowerInPlace(path);
    return std::hash<std::u16string>{}(path);
  };
  // In the batch's order, so that the ordinals the batch asks for match;
  // the batch keeps its order for longer than the files made ahead live.
  const std::vector<std::int32_t>* selected = &order;
  std::vector<std::size_t> hashes;
  hashes.reserve(order.size());
  for (std::int32_t i : *selected) {
    std::u16string path = pathOf(i);
    if (!path.empty()) hashes.push_back(hashOf(std::move(path)));
  }
  std::sort(hashes.begin(), hashes.end());
  auto shared = std::make_shared<std::vector<std::size_t>>();
  for (std::size_t k = 0; k + 1 < hashes.size(); ++k)
    if (hashes[k] == hashes[k + 1] && (shared->empty() || shared->back() != hashes[k])) shared->push_back(hashes[k]);
  hashes.clear();
  hashes.shrink_to_fit();
  // The paths that entries made here go to count among those two entries
  // share, above: one made ahead must not be taken for one of them.
  auto pathOfOrdinal = [selected, shared, pathOf, hashOf, worthAhead](std::size_t k) {
    if (!worthAhead((*selected)[k])) return std::u16string();
    std::u16string path = pathOf((*selected)[k]);
    if (!path.empty() && std::binary_search(shared->begin(), shared->end(), hashOf(path))) path.clear();
    return path;
  };
  // Nothing is made through a link on the way, which the batch refuses. A
  // folder is looked at until a file is made in it, as the batch does.
  struct Checked {
    std::mutex lock;
    std::unordered_set<std::u16string> folders;
  };
  auto checked = std::make_shared<Checked>();
  return std::make_unique<TZAOutputAhead>(selected->size(), pathOfOrdinal,
                                          [destDir, checked](std::u16string_view path, sys::WideFile& file) {
    std::u16string folders(paths::FolderPart(path.substr(destDir.size()), paths::kEventCuts));
    bool known;
    {
      std::lock_guard<std::mutex> hold(checked->lock);
      known = checked->folders.count(folders) > 0;
    }
    if (!known && !LinkOnTheWay(destDir, folders).empty()) return false;
    if (!file.CreateNew(path)) return false;
    if (!known) {
      std::lock_guard<std::mutex> hold(checked->lock);
      if (checked->folders.size() >= kFoldersKept) checked->folders.clear();
      checked->folders.insert(std::move(folders));
    }
    return true;
  }, outputAheadAlways_);
}

bool TZABaseArchiver::ConfirmOverwrite(const std::u16string& fileName, std::u16string& path) {
  if (OnConfirmOverwrite) {
    bool confirm = true;
    OnConfirmOverwrite(this, fileName, path, confirm);
    return confirm;
  }
  switch (Dialogs().ConfirmOverwrite(ZAFormat(u"Overwrite file \"%s\" with \"%s\"", {path, fileName}))) {
    case TZAUserDialogs::oaYes: return true;
    case TZAUserDialogs::oaNoToAll: options_.OverwriteMode = omNever; return false;
    case TZAUserDialogs::oaYesToAll: options_.OverwriteMode = omAlways; return true;
    default: return false;
  }
}

bool TZABaseArchiver::MayReplace(const TDirItem& item, const std::u16string& fileName, std::u16string& path) {
  if (!options_.ReplaceReadOnly) {
    std::uint32_t attr = sys::WideGetAttributes(path);
    if (attr != sys::kInvalidAttributes && (attr & 0x01)) return false;
  }
  std::int32_t archived = static_cast<std::int32_t>((static_cast<std::uint32_t>(item.Header.ModDate) << 16) |
                                                    item.Header.ModTime);
  // An exact time compares in UTC, at the precision the entry keeps.
  TZAEntryTimes exact;
  sys::FileTime onDisk;
  if (fidelity_.ExactTimes && (options_.OverwriteMode == omIfNewer || options_.OverwriteMode == omIfOlder))
    exact = ZAReadEntryTimes(item.ExtraFields);
  if (exact.Modified && sys::WideGetFileTime(path, onDisk)) {
    bool newer = ZALaterAt(*exact.Modified, onDisk, exact.ResolutionNs);
    bool older = ZALaterAt(onDisk, *exact.Modified, exact.ResolutionNs);
    return options_.OverwriteMode == omIfNewer ? newer : older;
  }
  switch (options_.OverwriteMode) {
    case omPrompt:
      if (!ConfirmOverwrite(fileName, path)) return false;
      break;
    case omAlways: break;
    case omNever: return false;
    case omIfNewer:
      if (sys::WideGetDosDateTime(path) >= archived) return false;
      break;
    case omIfOlder:
      if (sys::WideGetDosDateTime(path) <= archived) return false;
      break;
  }
  return true;
}

void TZABaseArchiver::ExtractItem(std::int32_t index, std::u16string fileName, std::u16string destDir) {
  const TDirItem& item = dirManager_->Items.GetItem(index);
  std::uint32_t fileAttr = item.Header.ExternalAttributes;
  bool fromArchive = true;
  if (OnExtractFile) {
    const std::u16string stored = fileName;
    OnExtractFile(this, fileName, fileAttr, item.Comment.str());
    fromArchive = fileName == stored;
  }
  outputFailure_ = {};
  if (fromArchive && fidelity_.DropEmptyComponents && fileName.find(u"\\\\") != std::u16string::npos)
    fileName = ZADropEmptyComponents(fileName);
  const bool noPlaceBelow =
      fileName.find(u':') != std::u16string::npos || fileName.find(u"\\\\") != std::u16string::npos;
  // What is judged is where a name from the archive ends up, not how it is
  // spelt: "\abs.txt" lands inside the destination, "..\up.txt" does too
  // once its folders are dropped. A name set by the handler is the caller's
  // choice.
  const std::u16string_view placed =
      options_.CreateDirs ? std::u16string_view(fileName) : paths::NamePart(fileName, paths::kEventCuts);
  if (fromArchive && (noPlaceBelow || destDir.empty() || HasParentComponent(placed))) {
    outputFailure_.NameRefused = true;
    throw EZAException(neCannotCreateFile, this, {destDir + fileName});
  }
  if (noPlaceBelow) destDir.clear();
  if (!options_.CreateDirs) fileName = std::u16string(placed);
  // A folder is made and looked at once per operation: a million entries in
  // a hundred folders cost a hundred checks, not a million. Should one have
  // gone meanwhile (a handler may remove it), the file cannot be made there,
  // and the folder is made and looked at again before anything else is
  // decided.
  auto prepareFolders = [&](bool lookAgain) {
    if (!options_.CreateDirs) return;
    std::u16string folder = destDir + std::u16string(paths::FolderPart(fileName, paths::kEventCuts));
    if (foldersReady_.count(folder) && (!lookAgain || sys::WideDirectoryExists(folder))) return;
    foldersReady_.erase(folder);
    bool made;
    try {
      made = ForceDirectories(folder, outputFailure_.SystemError);
    } catch (...) {
      made = false;
    }
    if (!made) throw EZAException(neCannotCreateFolder, this, {folder});
    if (std::u16string link = LinkOnTheWay(destDir, paths::FolderPart(fileName, paths::kEventCuts)); !link.empty())
      throw EZAException(neCannotCreateFolder, this, {link});
    // Entries that each have a folder of their own are not worth keeping.
    if (foldersReady_.size() >= kFoldersKept) foldersReady_.clear();
    foldersReady_.insert(folder);
  };
  prepareFolders(false);
  if (item.IsFolder()) {
    if (fidelityBatch_ && fidelity_.ExactTimes && options_.CreateDirs)
      fidelityBatch_->NoteFolder(destDir + fileName, fileName, ZATimesOf(item, true, LocalAccessTime(index)));
    if (options_.CreateDirs) FinishOutput(item, fileName, destDir + fileName);
    return;
  }

  std::u16string path = destDir + fileName;
  // A file made ahead, or made here where nothing was, needs nothing
  // decided: the new file is the one check of the place. Only where that
  // fails is it looked at.
  sys::WideFile madeAhead;
  const bool link = fidelity_.MakeLinks && ZAIsLinkEntry(item);
  if (outputAhead_) outputAhead_->Take(entryOrdinal_, path, madeAhead);
  if (!madeAhead.IsOpen() && !link && !madeAhead.CreateNew(path)) prepareFolders(true);
  if (!madeAhead.IsOpen() && sys::WideFileExists(path) && !MayReplace(item, fileName, path)) return;
  if (link && ExtractLink(index, fileName, path, destDir)) return;

  PendingOutput out;
  if (!out.Create(path, std::move(madeAhead))) {
    outputFailure_.SystemError = out.Error();
    throw EZAException(neCannotCreateFile, this, {path});
  }
  std::unique_ptr<TZASha256> hash = OnFileExtracted ? std::make_unique<TZASha256>() : nullptr;
  outputHash_ = hash.get();
  outputHashed_ = 0;
  // Read before the data, where the archive is at its local header anyway.
  const std::optional<sys::FileTime> accessed = LocalAccessTime(index);
  std::exception_ptr failure;
  bool skipped = false;
  try {
    if (!decodeAhead_ || !WriteDecodedAhead(*decodeAhead_, entryOrdinal_, index, out.Stream()))
      skipped = DecodeItem(index, out.Stream());
  } catch (...) {
    failure = std::current_exception();
  }
  outputHash_ = nullptr;
  const std::optional<int> timeNotSet = ZASetOutputTimes(out.Stream().File(), item, fidelity_.ExactTimes, accessed);
  if (options_.FlushBuffers && sys::WideIsRemovableDrive(path)) out.Stream().File().Flush();
  // Set through the file itself, a link put at its name meanwhile is not
  // followed. Only a file that stays: one made read-only could not be
  // removed again on Windows. A file put in place by name is set by name.
  const bool stays = !failure && !skipped && !cancel_;
  const bool attributesSet = stays && options_.SetAttributes && out.InPlace() &&
                             out.Stream().File().SetAttributes(fileAttr);
  out.Close();
  if (failure) std::rethrow_exception(failure);
  if (skipped || cancel_) return;
  if (!out.Commit(path)) throw EZAException(neCannotCreateFile, this, {path});
  if (options_.SetAttributes && !attributesSet) sys::WideSetAttributes(path, fileAttr);
  // The file is what the entry holds: a time it lacks is a warning, not a
  // failed entry.
  if (timeNotSet && OnExtractNotice) OnExtractNotice(this, fileName, enTimeNotSet, u"", *timeNotSet);
  FinishOutput(item, fileName, path);
  TZASha256::Digest digest;
  // A hash that failed reports nothing, so the file never passes for checked.
  if (hash && hash->Final(digest)) OnFileExtracted(this, path, outputHashed_, digest);
}

}  // namespace za
