#pragma once
// The steps of the writing operations (a transaction around each, new
// entries from disk and from streams, selection, removal) on the
// component's write state. They change the directory in memory; the commit
// writes it.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "archive/archiver.h"
#include "paths.h"
#include "write_state.h"

namespace sys {
struct WideDirEntry;
}

namespace za {

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
                   TZAProcessOperation operation);
  // A new entry (or a replaced one of the same name) for `source`; `info`
  // describes the file on disk, when there is one.
  void AddEntry(std::u16string name, std::uint32_t attributes, std::int32_t dosTime,
                const std::u16string& sourceFile, std::unique_ptr<TZAStream> stream,
                const sys::WideDirEntry* info = nullptr);
  void Select(std::u16string_view fileMask, std::int32_t searchAttr, std::u16string_view exclusionMask);
  // Takes out every entry marked kRemoved in one pass: deleting entries
  // one by one moves the rest and rebuilds the name index each time.
  void Compact();
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
        a_.OnConfirmProcessFile(&a_, paths::Backslashed(items.GetItem(i).EntryName.str()), operation, confirm);
      bool removed = confirm && work(i);
      if (confirm) state_.MarkPending();
      if (!removed) ++i;
    }
  }

  bool Excluded(std::u16string_view stored) const;

 private:
  bool NoCompression(std::u16string_view name) const;
  // Hidden, system and folder entries only when the search admits them.
  bool Admitted(std::uint32_t attributes) const { return (attributes & ~searchAttr_ & 0x16) == 0; }
  // The stored name of a file or folder by its full (normalised) path.
  std::u16string StoredName(const std::u16string& full) const;
  void AddFile(const std::u16string& full, const sys::WideDirEntry& entry);
  void AddFolder(const std::u16string& full, const sys::WideDirEntry& entry);
  // A link as itself: its text is the entry's data, under the link type.
  void AddLink(const std::u16string& full, const sys::WideDirEntry& entry);
  // The blocks a new entry from a file carries with the fidelity options:
  // both headers get them, the central one the extended time stamp
  // without its access time.
  void AddBlocks(TDirItem& item, const sys::WideDirEntry& info) const;
  std::uint32_t UnixBits(const sys::WideDirEntry& entry) const;
  void Walk(const std::u16string& folder, std::u16string_view pattern);

  TZABaseArchiver& a_;
  TZABaseArchiver::TZAWriteState state_;
  TZAProcessOperation operation_ = poAdd;
  std::uint32_t searchAttr_ = 10431;
  std::u16string exclusion_, base_, maskFolder_, self_;
};

}  // namespace za
