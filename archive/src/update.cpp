// The writing operations of the component: the transaction, adding files
// from disk, streams and buffers, deleting, renaming and changing entries,
// each through the updater's steps (updater.cpp). They change the directory
// in memory; CommitUpdate (commit.cpp) writes it.
#include "archive/archiver.h"
#include "paths.h"
#include "updater.h"
#include "sys/wide_file.h"

namespace za {

namespace {

constexpr std::uint32_t kFolderAttribute = 0x10;

using paths::Backslashed;
using paths::Slashed;

}  // namespace

// ---- the transaction

void TZABaseArchiver::CheckWritable() const {
  if (!open_ || !dirManager_) throw EZAException(neArchiveNotOpen, this);
  // A set of volumes is written whole or not at all.
  if (volumes_ || dirManager_->VolumeInfo.LastVolumeNumber > 0) throw EZAException(neMultiVolumeUpdate, this);
  if (openMode_ == kZAModeReadOnly && !stream_.Borrowed() && !inMemory_) throw EZAException(neReadOnlyUpdate, this);
  // Written back, a directory loaded in part would lose the rest.
  if (loadFilter_) throw EZAException(neReadOnlyUpdate, this);
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
  // The files go only once the new archive holding them is in place; the
  // commit takes back those whose entries it left out.
  bool installed;
  try {
    installed = CommitUpdate();
  } catch (...) {
    moveSources_.clear();
    throw;
  }
  std::vector<std::u16string> moved;
  moved.swap(moveSources_);
  if (!installed) return;
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
