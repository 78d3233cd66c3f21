// The writing operations of the component: the transaction, adding files
// from disk, streams and buffers, deleting, renaming and changing entries.
// They change the directory in memory; CommitUpdate (commit.cpp) writes it.
#include <algorithm>
#include <ctime>

#include "archive/archiver.h"
#include "archive/mask.h"
#include "entry_reader.h"
#include "paths.h"
#include "source_paths.h"
#include "write_state.h"
#include "sys/codepage.h"
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

}  // namespace

// The steps of the writing operations, on the component's write state.
class TZAUpdater {
 public:
  explicit TZAUpdater(TZABaseArchiver& a) : a_(a), state_(a) {}

  // One transaction around an operation outside a transaction: committed
  // when the operation ends normally, dropped (the directory read again)
  // when it throws.
  template <class F>
  void Run(TZAProcessOperation operation, F&& work) {
    state_.CheckWritable();
    bool outer = state_.UpdateLevel() == 0;
    if (outer) state_.SetOperation(operation);
    a_.BeginUpdate();
    try {
      work();
    } catch (...) {
      state_.LeaveLevel(outer);
      if (outer) state_.ReloadDirectory();
      throw;
    }
    a_.EndUpdate();
  }

  void AddFromDisk(std::u16string_view fileMask, std::int32_t searchAttr, std::u16string_view exclusionMask,
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
    if (!wild && sys::WideStat(full, entry)) {
      std::size_t cut = full.find_last_of(u'/');
      maskFolder_ = cut == std::u16string::npos ? std::u16string() : full.substr(0, cut);
      if (entry.Attributes & kFolderAttribute) {
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

  // A new entry (or a replaced one of the same name) for `source`.
  void AddEntry(std::u16string name, std::uint32_t attributes, std::int32_t dosTime,
                const std::u16string& sourceFile, std::unique_ptr<TZAStream> stream) {
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
      if (dosTime <= stored) return;
    }
    TDirItem item;
    item.IsNew = true;
    item.SourceFileName = sourceFile;
    item.Comment = comment;
    item.EntryPassword = a_.Password();
    item.Header.Signature = kCentralHeaderSignature;
    item.Header.ExternalAttributes = attributes;
    std::uint32_t dos = dosTime < 0 ? DosNow() : static_cast<std::uint32_t>(dosTime);
    item.Header.ModDate = static_cast<std::uint16_t>(dos >> 16);
    item.Header.ModTime = static_cast<std::uint16_t>(dos);
    item.CompressionSetting = folder || NoCompression(name) ? 0 : a_.CompressionMode();
    item.CryptoAlgorithm = state_.NewEntryCipher();
    item.SourceStream = std::move(stream);
    item.EntryName = name;
    if (index < 0) {
      index = items.Count();
      items.SetCount(index + 1);
      items.ItemAt(index) = TDirItem();
    }
    items.SetItem(index, item);  // the entry takes over the stream
    state_.MarkPending();
    if (operation_ == poMove && !sourceFile.empty()) state_.MoveLater(sourceFile);
  }

  void Select(std::u16string_view fileMask, std::int32_t searchAttr, std::u16string_view exclusionMask) {
    TZADirArray& items = state_.Directory().Items;
    items.ClearSelection();
    state_.SelectByMask(fileMask, searchAttr, exclusionMask);
    // The component's exclusion list holds for every operation by mask.
    if (a_.ExclusionMasks().empty()) return;
    for (std::int32_t i = 0; i < items.Count(); ++i) {
      TDirItem& item = items.ItemAt(i);
      if (item.Selected && Excluded(NameWithoutSlash(item.EntryName))) item.Selected = false;
    }
  }

  // Takes out every entry marked kRemoved in one pass: deleting entries
  // one by one moves the rest and rebuilds the name index each time.
  void Compact() {
    TZADirArray& items = state_.Directory().Items;
    std::vector<TDirItem> kept;
    kept.reserve(static_cast<std::size_t>(items.Count()));
    for (std::int32_t i = 0; i < items.Count(); ++i) {
      TDirItem& item = items.ItemAt(i);
      if (!(item.PendingFlags & kRemoved)) kept.push_back(std::move(item));
      // The stream is the kept copy's now (or gone): not the slot's.
      item.SourceStream.reset();
    }
    items.Clear();
    items.SetCount(static_cast<std::int32_t>(kept.size()));
    for (std::size_t i = 0; i < kept.size(); ++i) items.SetItem(static_cast<std::int32_t>(i), kept[i]);
  }
  static constexpr std::uint8_t kRemoved = 1;  // in PendingFlags

  // Each selected entry in turn, with OnConfirmProcessFile; `work` gets
  // its index and answers whether it removed the entry.
  template <class F>
  void ForSelected(TZAProcessOperation operation, F&& work) {
    TZADirArray& items = state_.Directory().Items;
    for (std::int32_t i = 0; i < items.Count();) {
      if (!items.GetItem(i).Selected) {
        ++i;
        continue;
      }
      bool confirm = true;
      if (a_.OnConfirmProcessFile)
        a_.OnConfirmProcessFile(&a_, Backslashed(items.GetItem(i).EntryName), operation, confirm);
      bool removed = confirm && work(i);
      if (confirm) state_.MarkPending();
      if (!removed) ++i;
    }
  }

 private:
  bool NoCompression(std::u16string_view name) const {
    std::u16string_view last = name;
    std::size_t cut = last.find_last_of(u'/');
    if (cut != std::u16string_view::npos) last = last.substr(cut + 1);
    for (const std::u16string& mask : a_.NoCompressionMasks())
      if (MatchesMask(name, mask) || MatchesMask(last, mask)) return true;
    return false;
  }

  static std::u16string_view NameWithoutSlash(std::u16string_view name) {
    if (paths::EndsWithSlash(name)) name.remove_suffix(1);
    return name;
  }

 public:
  bool Excluded(std::u16string_view stored) const {
    std::u16string_view last = stored;
    std::size_t cut = last.find_last_of(u'/');
    if (cut != std::u16string_view::npos) last = last.substr(cut + 1);
    if (!exclusion_.empty() && (MatchesMask(stored, exclusion_) || MatchesMask(last, exclusion_))) return true;
    for (const std::u16string& mask : a_.ExclusionMasks())
      if (MatchesMask(stored, mask) || MatchesMask(last, mask)) return true;
    return false;
  }

 private:
  // Hidden, system and folder entries only when the search admits them.
  bool Admitted(std::uint32_t attributes) const { return (attributes & ~searchAttr_ & 0x16) == 0; }

  // The stored name of a file or folder by its full (normalised) path.
  std::u16string StoredName(const std::u16string& full) const {
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

  void AddFile(const std::u16string& full, const sys::WideDirEntry& entry) {
    if (!self_.empty() && ZALowerEqual(full, self_)) return;
    std::u16string stored = StoredName(full);
    if (Excluded(stored) || !Admitted(entry.Attributes)) return;
    AddEntry(stored, (entry.Attributes & ~kFolderAttribute) | UnixBits(entry), entry.DosDateTime, Backslashed(full),
             nullptr);
  }

  void AddFolder(const std::u16string& full, const sys::WideDirEntry& entry) {
    // With spNoPath folders have no place in the archive.
    if (a_.Options().StorePath == spNoPath) return;
    std::u16string stored = StoredName(full);
    if (stored.empty() || Excluded(stored) || !Admitted(entry.Attributes)) return;
    AddEntry(stored, entry.Attributes | kFolderAttribute | UnixBits(entry), entry.DosDateTime, Backslashed(full),
             nullptr);
  }

  std::uint32_t UnixBits(const sys::WideDirEntry& entry) const {
    return a_.UnixModesOnWrite() ? (entry.UnixMode & 0xFFFF) << 16 : 0;
  }

  void Walk(const std::u16string& folder, std::u16string_view pattern) {
    std::vector<sys::WideDirEntry> entries;
    int error = 0;
    if (!sys::WideListDirectory(folder, entries, error)) return;
    // Names in a stable order: what is archived does not depend on the
    // order the file system lists them in.
    std::sort(entries.begin(), entries.end(), [](const auto& x, const auto& y) { return x.Name < y.Name; });
    std::vector<std::u16string> folders;
    for (const sys::WideDirEntry& entry : entries) {
      std::u16string full = folder == u"/" ? u"/" + entry.Name : ZAJoinPath(folder, entry.Name);
      if (entry.Attributes & kFolderAttribute) {
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

  TZABaseArchiver& a_;
  TZABaseArchiver::TZAWriteState state_;
  TZAProcessOperation operation_ = poAdd;
  std::uint32_t searchAttr_ = 10431;
  std::u16string exclusion_, base_, maskFolder_, self_;
};

// ---- the transaction

void TZABaseArchiver::CheckWritable() const {
  if (!open_ || !dirManager_) throw EZAException(neArchiveNotOpen, this);
  // A set of volumes is written whole or not at all.
  if (volumes_ || dirManager_->VolumeInfo.LastVolumeNumber > 0) throw EZAException(neMultiVolumeUpdate, this);
  if (openMode_ == kZAModeReadOnly && !stream_.Borrowed() && !inMemory_) throw EZAException(neReadOnlyUpdate, this);
}

void TZABaseArchiver::BeginUpdate() {
  CheckWritable();
  if (updateLevel_ == 0) {
    updatePending_ = false;
    moveSources_.clear();
  }
  ++updateLevel_;
}

void TZABaseArchiver::EndUpdate() {
  if (updateLevel_ <= 0) return;
  if (--updateLevel_ > 0) return;
  if (!updatePending_) return;
  updatePending_ = false;
  std::vector<std::u16string> moved;
  moved.swap(moveSources_);
  CommitUpdate();
  for (const std::u16string& file : moved)
    if (!sys::WideDeleteFile(file) && sys::WideFileExists(file)) throw EZAException(neCannotDeleteFile, this, {file});
}

void TZABaseArchiver::ReloadDirectory() {
  if (entryReader_) entryReader_->Forget();
  bool empty = !stream_ || stream_->Size() == 0;
  dirManager_ = MakeDirManager(empty, stream_.Borrowed());
  if (!empty) dirManager_->LoadDirectory();
}

// ---- adding

void TZABaseArchiver::AddFiles(std::u16string_view fileMask, std::int32_t searchAttr,
                               std::u16string_view exclusionMask) {
  TZAUpdater u(*this);
  u.Run(poAdd, [&] { u.AddFromDisk(fileMask, searchAttr, exclusionMask, poAdd); });
}

void TZABaseArchiver::AddFiles() {
  TZAUpdater u(*this);
  u.Run(poAdd, [&] {
    for (const std::u16string& mask : fileMasks_) u.AddFromDisk(mask, options_.SearchAttr, u"", poAdd);
  });
}

void TZABaseArchiver::UpdateFiles(std::u16string_view fileMask, std::int32_t searchAttr,
                                  std::u16string_view exclusionMask) {
  TZAUpdater u(*this);
  u.Run(poUpdate, [&] { u.AddFromDisk(fileMask, searchAttr, exclusionMask, poUpdate); });
}

void TZABaseArchiver::MoveFiles(std::u16string_view fileMask, std::int32_t searchAttr,
                                std::u16string_view exclusionMask) {
  TZAUpdater u(*this);
  u.Run(poMove, [&] { u.AddFromDisk(fileMask, searchAttr, exclusionMask, poMove); });
}

void TZABaseArchiver::AddFromStream(std::u16string_view fileName, TZAStream& stream, bool copyToBuffer) {
  TZAUpdater u(*this);
  u.Run(poAdd, [&] {
    std::unique_ptr<TZAStream> source;
    if (copyToBuffer) {
      auto copy = std::make_unique<TZAMemoryStream>();
      std::int64_t left = stream.Size() - stream.Position();
      if (left > 0) copy->CopyFrom(stream, left);
      copy->SetPosition(0);
      source = std::move(copy);
    } else {
      // Not ours: a view that reads the caller's stream from where it is now.
      struct Borrowed : TZAStream {
        Borrowed(TZAStream& s) : s(s), start(s.Position()) {}
        std::int64_t Read(void* b, std::int64_t n) override { return s.Read(b, n); }
        std::int64_t Write(const void*, std::int64_t) override { return 0; }
        std::int64_t Seek(std::int64_t o, TZASeekOrigin origin) override {
          if (origin == TZASeekOrigin::soBeginning) return s.Seek(start + o, origin) - start;
          return s.Seek(o, origin) - start;
        }
        std::int64_t Size() override { return s.Size() - start; }
        void SetSize(std::int64_t) override { throw EWriteError(); }
        TZAStream& s;
        std::int64_t start;
      };
      source = std::make_unique<Borrowed>(stream);
    }
    u.AddEntry(Slashed(fileName), 0x20, -1, u"", std::move(source));
  });
}

void TZABaseArchiver::AddFromBuffer(std::u16string_view fileName, const void* data, std::size_t size) {
  TZABufferStream view(data, size);
  AddFromStream(fileName, view, true);
}

// ---- deleting and changing

void TZABaseArchiver::DeleteFiles(std::u16string_view fileMask, std::int32_t searchAttr,
                                  std::u16string_view exclusionMask) {
  TZAUpdater u(*this);
  u.Run(poDelete, [&] {
    u.Select(fileMask, searchAttr, exclusionMask);
    u.ForSelected(poDelete, [&](std::int32_t i) {
      dirManager_->Items.ItemAt(i).PendingFlags |= TZAUpdater::kRemoved;
      return false;
    });
    u.Compact();
  });
}

void TZABaseArchiver::DeleteItem(std::int32_t index) {
  if (updateLevel_ <= 0) throw EZAException(neDeleteNoUpdate, this);
  if (!dirManager_ || index < 0 || index >= dirManager_->Items.Count()) throw EZAException(neDeleteIndex, this);
  dirManager_->Items.Delete(index);
  updatePending_ = true;
}

namespace {

void CheckChange(const TZABaseArchiver& a, const TZADirManager* dir, std::int32_t index, std::int32_t level) {
  if (level <= 0) throw EZAException(neChangeNoUpdate, &a);
  if (!dir || index < 0 || index >= dir->Items.Count()) throw EZAException(neChangeIndex, &a);
}

}  // namespace

void TZABaseArchiver::RenameItem(std::int32_t index, std::u16string_view newName) {
  CheckChange(*this, dirManager_.get(), index, updateLevel_);
  dirManager_->Items.SetName(index, Slashed(newName));
  updatePending_ = true;
}

void TZABaseArchiver::ChangeItemAttr(std::int32_t index, std::uint32_t attributes) {
  CheckChange(*this, dirManager_.get(), index, updateLevel_);
  dirManager_->Items.ItemAt(index).Header.ExternalAttributes = attributes;
  updatePending_ = true;
}

void TZABaseArchiver::ChangeItemComment(std::int32_t index, std::string_view comment) {
  CheckChange(*this, dirManager_.get(), index, updateLevel_);
  dirManager_->Items.ItemAt(index).Comment = comment.substr(0, 0xFFFF);
  updatePending_ = true;
}

bool TZABaseArchiver::RenameFile(std::u16string_view oldName, std::u16string_view newName) {
  bool done = false;
  TZAUpdater u(*this);
  u.Run(poRename, [&] {
    TZADirArray& items = dirManager_->Items;
    std::u16string from = Slashed(oldName), to = Slashed(newName);
    std::int32_t index = items.IndexOfName(from);
    if (index < 0 || to.empty()) return;
    std::int32_t taken = items.IndexOfName(to);
    if (taken >= 0 && taken != index) return;
    // A folder keeps its trailing slash.
    if (paths::EndsWithSlash(from) && !paths::EndsWithSlash(to)) to += u'/';
    bool confirm = true;
    if (OnConfirmProcessFile) OnConfirmProcessFile(this, Backslashed(from), poRename, confirm);
    if (!confirm) return;
    items.SetName(index, to);
    updatePending_ = done = true;
  });
  return done;
}

namespace {

// Each entry the mask selects changed in place, in one transaction.
template <class F>
void ChangeEach(TZABaseArchiver& a, TZAUpdater& u, TZAProcessOperation operation, std::u16string_view fileMask,
                F&& change) {
  u.Run(operation, [&] {
    u.Select(fileMask, a.Options().SearchAttr, u"");
    u.ForSelected(operation, [&](std::int32_t i) {
      change(i);
      return false;
    });
  });
}

}  // namespace

void TZABaseArchiver::ChangeFilesAttr(std::u16string_view fileMask, std::uint32_t attributes) {
  TZAUpdater u(*this);
  ChangeEach(*this, u, poChangeAttr, fileMask, [&](std::int32_t i) {
    TDirItem& item = dirManager_->Items.ItemAt(i);
    // A folder stays a folder whatever the new attributes say.
    item.Header.ExternalAttributes = attributes | (item.Header.ExternalAttributes & kFolderAttribute);
  });
}

void TZABaseArchiver::ChangeFilesComment(std::u16string_view fileMask, std::string_view comment) {
  TZAUpdater u(*this);
  ChangeEach(*this, u, poChangeComment, fileMask,
             [&](std::int32_t i) { dirManager_->Items.ItemAt(i).Comment = comment.substr(0, 0xFFFF); });
}

std::string TZABaseArchiver::ZipComment() const { return dirManager_ ? dirManager_->ZipComment : std::string(); }

void TZABaseArchiver::SetZipComment(std::string_view comment) {
  TZAUpdater u(*this);
  u.Run(poChangeComment, [&] {
    dirManager_->ZipComment = comment.substr(0, 0xFFFF);
    updatePending_ = true;
  });
}

}  // namespace za
