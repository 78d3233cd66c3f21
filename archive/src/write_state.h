#pragma once
// What the writing side (the updater, the commit and its transaction) may
// see and change of the component's own state: the archive stream and its
// directory, the running transaction and the write settings that are not
// published. They reach the component through this and nothing else.
#include <memory>
#include <string>
#include <vector>

#include "archive/archiver.h"
#include "entry_reader.h"

namespace za {

class TZABaseArchiver::TZAWriteState {
 public:
  explicit TZAWriteState(TZABaseArchiver& a) : a_(a) {}

  TZABaseArchiver& Component() const { return a_; }

  // ---- the archive
  TZAStream* Archive() const { return a_.stream_.get(); }
  // Whether the archive is a file of the component's own (not a stream of
  // the caller's, not an archive in memory).
  bool WritesFiles() const { return !a_.stream_.Borrowed() && !a_.inMemory_; }
  bool BorrowsArchive() const { return a_.stream_.Borrowed(); }
  TZADirManager& Directory() const { return *a_.dirManager_; }
  // Finds old entries' data as the decoder finds it.
  TZAEntryReader& EntryReader() const { return a_.EntryReader(); }
  void ReloadDirectory() const { a_.ReloadDirectory(); }
  // Lets go of the archive stream and its directory, so that its file can
  // be replaced; `closed` also ends the component's open state.
  void ReleaseArchive(bool closed) const {
    a_.dirManager_.reset();
    a_.stream_.Reset();
    if (closed) a_.open_ = false;
  }
  // The archive file `fileName` opened for reading and writing as the
  // component's archive, its directory read; when it cannot be opened the
  // component is closed.
  void Reopen(const std::u16string& fileName) const {
    try {
      a_.stream_.Own(std::make_unique<TZAFileStream>(fileName, kZAModeReadWrite));
    } catch (...) {
      a_.open_ = false;
      throw;
    }
    a_.openMode_ = kZAModeReadWrite;
    a_.ReloadDirectory();
  }
  // `stream` becomes the component's archive in place of the one it owns.
  void Adopt(std::unique_ptr<TZAStream> stream) const {
    a_.dirManager_.reset();
    a_.stream_.Own(std::move(stream));
  }

  // ---- settings of the writing side
  TZip64Mode Zip64() const { return a_.zip64Mode_; }
  bool UnicodeNameBlocks() const { return a_.unicodeFilenames_; }
  TZACryptoAlgorithm NewEntryCipher() const {
    return a_.useEncryptionMethod_ ? a_.encryptionMethod_ : caPkzipClassic;
  }

  // ---- the transaction
  TZAProcessOperation Operation() const { return a_.updateOperation_; }
  void SetOperation(TZAProcessOperation operation) const { a_.updateOperation_ = operation; }
  std::int32_t UpdateLevel() const { return a_.updateLevel_; }
  // Ends the transaction's level; the outermost also drops what it collected.
  void LeaveLevel(bool outer) const {
    if (!outer) {
      --a_.updateLevel_;
      return;
    }
    a_.updateLevel_ = 0;
    a_.updatePending_ = false;
    a_.moveSources_.clear();
  }
  void MarkPending() const { a_.updatePending_ = true; }
  void MoveLater(const std::u16string& file) const { a_.moveSources_.push_back(file); }
  void KeepSource(const std::u16string& file) const {
    std::erase(a_.moveSources_, file);
  }
  void CheckWritable() const { a_.CheckWritable(); }
  void SelectByMask(std::u16string_view mask, std::int32_t searchAttr, std::u16string_view exclusion) const {
    a_.SelectByMask(mask, searchAttr, exclusion);
  }
  TZAAction DefaultFailureAnswer(const EZAException& e) const { return a_.DefaultFailureAnswer(e); }

 private:
  TZABaseArchiver& a_;
};

}  // namespace za
