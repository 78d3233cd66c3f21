// Selecting entries by mask and the per-entry loop that extracts or tests
// them.
#include <algorithm>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>

#include "archive/archiver.h"
#include "archive/mask.h"
#include "decode_ahead.h"
#include "decoder.h"
#include "extract_fidelity.h"
#include "output_ahead.h"
#include "paths.h"
#include "sys/codepage.h"
#include "sys/thread.h"
#include "sys/wide_file.h"

namespace za {

namespace {

// Folder, hidden, system and volume: the attributes a search may refuse.
constexpr std::uint32_t kRefusableAttributes = 0x1E;

// Those of them the search does not take.
bool AttributesRefused(const TDirItem& item, std::uint32_t searchAttr) {
  return item.Header.ExternalAttributes & ~searchAttr & kRefusableAttributes;
}

// Whether a search refuses no entry for its attributes.
bool RefusesNoAttributes(std::uint32_t searchAttr) { return !(~searchAttr & kRefusableAttributes); }

}  // namespace

std::recursive_mutex& ZAEngineLock() {
  static std::recursive_mutex lock;
  return lock;
}

void TZABaseArchiver::CheckReadyForOperation() const {
  if (!open_ || !dirManager_) throw EZAException(neArchiveNotOpen, this);
  if (updateLevel_ > 0) throw EZAException(neUpdateNotEnded, this);
}

template <class F>
void TZABaseArchiver::ForEachFound(std::u16string_view fileMask, std::u16string_view exclusionMask,
                                   std::int32_t searchAttr, F&& f) {
  TInternalSearchRec s;
  if (!StartSearch(fileMask, s, exclusionMask, searchAttr)) return;
  if (TakesEveryName(s)) {
    // One walk, without setting up a search again for each entry found.
    const TZADirArray& items = dirManager_->Items;
    for (std::int32_t i = 0; i < items.Count(); ++i)
      if (!AttributesRefused(items.GetItem(i), s.SearchAttr)) f(i);
    return;
  }
  for (std::int32_t i = SearchFrom(s); i >= 0; i = SearchFrom(s)) {
    f(i);
    ++s.Index;
  }
}

void TZABaseArchiver::SelectByMask(std::u16string_view fileMask, std::int32_t searchAttr,
                                   std::u16string_view exclusionMask) {
  // No list of what was found: a million indexes only to be walked once.
  ForEachFound(fileMask, exclusionMask, searchAttr, [this](std::int32_t i) { dirManager_->Items.ItemAt(i).Selected = true; });
}

std::vector<std::int32_t> TZABaseArchiver::FindIndexes(std::u16string_view fileMask,
                                                       std::u16string_view exclusionMask, std::int32_t searchAttr) {
  std::vector<std::int32_t> found;
  ForEachFound(fileMask, exclusionMask, searchAttr, [&found](std::int32_t i) { found.push_back(i); });
  return found;
}

std::int32_t TZABaseArchiver::CountFound(std::u16string_view fileMask, std::u16string_view exclusionMask,
                                         std::int32_t searchAttr) {
  // Every attribute taken and every name: every entry, without a walk
  // over a million of them.
  TInternalSearchRec s;
  if (!StartSearch(fileMask, s, exclusionMask, searchAttr)) return 0;
  if (TakesEveryName(s) && RefusesNoAttributes(s.SearchAttr)) return dirManager_->Items.Count();
  std::int32_t found = 0;
  ForEachFound(fileMask, exclusionMask, searchAttr, [&found](std::int32_t) { ++found; });
  return found;
}

void TZABaseArchiver::SelectByMaskLists() {
  for (const std::u16string& mask : fileMasks_) SelectByMask(mask, options_.SearchAttr, u"");
  if (exclusionMasks_.empty()) return;
  TZADirArray& items = dirManager_->Items;
  std::u16string scratch;
  for (std::int32_t i = 0; i < items.Count(); ++i) {
    TDirItem& item = items.ItemAt(i);
    if (!item.Selected) continue;
    std::u16string_view n = paths::WithoutTrailingSeparator(item.EntryName.ViewIn(scratch));
    for (const std::u16string& exclusion : exclusionMasks_)
      if (MatchesMask(n, exclusion)) item.Selected = false;
  }
}

bool TZABaseArchiver::SelectOnlyByEveryName(std::u16string_view fileMask, std::int32_t searchAttr,
                                            std::u16string_view exclusionMask, bool& every) {
  TInternalSearchRec s;
  every = false;
  if (!StartSearch(fileMask, s, exclusionMask, searchAttr) || !TakesEveryName(s)) return false;
  TZADirArray& items = dirManager_->Items;
  every = true;
  for (std::int32_t i = 0; i < items.Count(); ++i) {
    TDirItem& item = items.ItemAt(i);
    item.Selected = !AttributesRefused(item, s.SearchAttr);
    every = every && item.Selected;
  }
  return true;
}

void TZABaseArchiver::RunOperation(TZAProcessOperation operation, const std::u16string_view* mask,
                                   std::int32_t searchAttr, std::u16string_view exclusionMask) {
  CheckReadyForOperation();
  // A million entries are walked once for the selection, not cleared first.
  bool every = false;
  bool selected = mask ? SelectOnlyByEveryName(*mask, searchAttr, exclusionMask, every)
                       : fileMasks_.size() == 1 && exclusionMasks_.empty() &&
                             SelectOnlyByEveryName(fileMasks_[0], options_.SearchAttr, u"", every);
  if (selected) {
    ProcessFiles(operation, every);
    return;
  }
  dirManager_->Items.ClearSelection();
  if (mask)
    SelectByMask(*mask, searchAttr, exclusionMask);
  else
    SelectByMaskLists();
  ProcessFiles(operation);
}

void TZABaseArchiver::ExtractFiles(std::u16string_view fileMask, std::int32_t searchAttr,
                                   std::u16string_view exclusionMask) {
  RunOperation(poExtract, &fileMask, searchAttr, exclusionMask);
}

void TZABaseArchiver::ExtractFiles() { RunOperation(poExtract, nullptr, 0, u""); }

void TZABaseArchiver::TestFiles(std::u16string_view fileMask, std::int32_t searchAttr,
                                std::u16string_view exclusionMask) {
  RunOperation(poTest, &fileMask, searchAttr, exclusionMask);
}

void TZABaseArchiver::TestFiles() { RunOperation(poTest, nullptr, 0, u""); }

bool TZABaseArchiver::StartSearch(std::u16string_view fileMask, TInternalSearchRec& s,
                                  std::u16string_view exclusionMask, std::int32_t searchAttr) {
  std::u16string mask(fileMask);
  std::size_t drive = paths::DriveLength(mask, paths::kBackslash);
  if (drive && options_.StorePath != spFullPathWithDrive) mask.erase(0, drive);
  std::replace(mask.begin(), mask.end(), u'\\', u'/');
  s.FileMask = mask;
  s.SearchAttr = static_cast<std::uint32_t>(searchAttr);
  s.ExclusionMask = exclusionMask;
  s.Index = 0;
  // A mask longer than the search record holds selects nothing rather than
  // being cut into a wider one.
  if (mask.size() > TInternalSearchRec::kMaxMask) {
    s.Index = Count();
    return false;
  }
  return true;
}

bool TZABaseArchiver::FindFirst(std::u16string_view fileMask, TZAArchiveItem& rec, std::u16string_view exclusionMask,
                                std::int32_t searchAttr) {
  return StartSearch(fileMask, rec.SearchState, exclusionMask, searchAttr) && SearchStep(rec);
}

bool TZABaseArchiver::FindNext(TZAArchiveItem& rec) {
  ++rec.SearchState.Index;
  return SearchStep(rec);
}

bool TZABaseArchiver::SearchStep(TZAArchiveItem& rec) {
  if (!dirManager_) return false;
  TInternalSearchRec& s = rec.SearchState;
  std::int32_t i = SearchFrom(s);
  if (i < 0) return false;
  FillArchiveItem(dirManager_->Items.GetItem(i), rec);
  return true;
}

// The masks that take every name, and no exclusion: only the attributes
// decide, for each of a million entries.
bool TZABaseArchiver::TakesEveryName(const TInternalSearchRec& s) const {
  return dirManager_ && options_.Recurse && (s.FileMask == u"*" || s.FileMask == u"*.*") && s.ExclusionMask.empty();
}

std::int32_t TZABaseArchiver::SearchFrom(TInternalSearchRec& s) {
  if (!dirManager_) return -1;
  TZADirArray& items = dirManager_->Items;
  std::u16string maskFolder;
  if (!options_.Recurse) {
    maskFolder = paths::FolderPart(paths::Backslashed(s.FileMask), paths::kEventCuts);
    sys::WideLowerInPlace(maskFolder);
  }
  const bool everyName = TakesEveryName(s);
  std::u16string scratch;
  for (std::int32_t i = std::max(s.Index, 0); i < items.Count(); ++i) {
    const TDirItem& item = items.GetItem(i);
    if (everyName) {
      if (AttributesRefused(item, s.SearchAttr)) continue;
      s.Index = i;
      return i;
    }
    std::u16string_view n = paths::WithoutTrailingSeparator(item.EntryName.ViewIn(scratch));
    if (!options_.Recurse) {
      std::u16string folder(paths::FolderPart(paths::Backslashed(n), paths::kEventCuts));
      sys::WideLowerInPlace(folder);
      if (folder != maskFolder) continue;
    }
    // The name part as an event's name is cut, found in the stored name
    // (its "/" among the cuts) without a copy of it.
    if (!MatchesMask(n, s.FileMask) && !MatchesMask(paths::NamePart(n, paths::kAnyCuts), s.FileMask)) continue;
    if (MatchesMask(n, s.ExclusionMask)) continue;
    if (AttributesRefused(item, s.SearchAttr)) continue;
    s.Index = i;
    return i;
  }
  s.Index = items.Count();
  return -1;
}

TZAAction TZABaseArchiver::DefaultFailureAnswer(const EZAException& e) {
  if (e.NativeError == neVolumeRefused) return fxaAbort;
  if (e.NativeError == neNameTooLong) return Dialogs().ConfirmFailure(e.Message(), false);
  return Dialogs().ConfirmFailure(ZAFormat(u"%s. File processing error, possibly disk is full", {e.Message()}), true);
}

void TZABaseArchiver::ProcessEntry(std::int32_t i, const std::u16string& fileName, TZAProcessOperation operation,
                                   TZADecodeAhead* decodeAhead, const std::vector<std::int32_t>& selected) {
  bool reports = operation == poExtract || operation == poTest;
  bool confirm = true;
  if (OnConfirmProcessFile) OnConfirmProcessFile(this, fileName, operation, confirm);
  if (!confirm) return;
  if (reports && OnFileProgress) OnFileProgress(this, fileName, 0.0, operation, ppStart, cancel_);
  if (cancel_) return;
  if (operation == poExtract) {
    if (decodeAhead) ReadAhead(*decodeAhead, selected, entryOrdinal_, true);
    if (cachedCurrentDir_.empty()) cachedCurrentDir_ = sys::WideCurrentDirectory();
    std::u16string destDir = baseDir_.empty() ? cachedCurrentDir_ : baseDir_;
    if (destDir.empty() || destDir.back() != u'\\') destDir += u'\\';
    ExtractItem(i, fileName, std::move(destDir));
  } else if (operation == poTest && !dirManager_->Items.GetItem(i).IsFolder()) {
    if (decodeAhead) ReadAhead(*decodeAhead, selected, entryOrdinal_, false);
    if (!decodeAhead || !PassedAhead(*decodeAhead, entryOrdinal_, i)) {
      TNullStream nothing;
      DecodeItem(i, nothing);
    }
  }
  bool kept = cancel_;
  bool cancel = cancel_;
  if (reports && OnFileProgress) OnFileProgress(this, fileName, 100.0, operation, ppEnd, cancel);
  cancel_ = cancel || kept;
  if (!cancel_) ++processedCount_;
}

void TZABaseArchiver::ProcessFiles(TZAProcessOperation operation, bool everyEntry) {
  std::lock_guard<std::recursive_mutex> lock(ZAEngineLock());
  struct BatchScope {
    bool& flag;
    bool saved = flag;
    ~BatchScope() { flag = saved; }
  } batch{inBatch_};
  inBatch_ = true;
  operation_ = operation;
  processedCount_ = 0;
  selectedCount_ = 0;
  cancel_ = false;
  progressEnabled_ = true;
  foldersReady_.clear();
  outputFailure_ = {};
  bool reports = operation == poExtract || operation == poTest;
  // The work done ahead overlaps the batch's only on a second processor;
  // on one it would only add thread switches.
  const bool helperPays =
      (outputAheadEnabled_ || testAheadEnabled_ || extractAheadEnabled_) && sys::ProcessorsAvailable() > 1;
  std::optional<TZAFidelityBatch> fidelity;
  if (operation == poExtract && (fidelity_.ExactTimes || fidelity_.MakeLinks)) fidelity.emplace();
  struct FidelityScope {
    TZAFidelityBatch*& member;
    ~FidelityScope() { member = nullptr; }
  } fidelityScope{fidelityBatch_};
  fidelityBatch_ = fidelity ? &*fidelity : nullptr;
  // Every entry in its order needs no walk to be found; links go last.
  std::vector<std::int32_t> order;
  if (everyEntry && !fidelityBatch_) {
    order.resize(static_cast<std::size_t>(dirManager_->Items.Count()));
    std::iota(order.begin(), order.end(), 0);
  } else {
    order = BatchOrder();
  }
  selectedCount_ = static_cast<std::int32_t>(order.size());
  // Whether the archive shows its bytes decides which entries the helper
  // takes, from the first one on.
  if (stream_) stream_->SetViewed(mappedReads_);
  std::unique_ptr<TZAOutputAhead> ahead;
  if (operation == poExtract && outputAheadEnabled_ && helperPays) ahead = MakeOutputAhead(order);
  struct AheadScope {
    TZAOutputAhead*& member;
    ~AheadScope() { member = nullptr; }
  } aheadScope{outputAhead_};
  outputAhead_ = ahead.get();
  std::unique_ptr<TZADecodeAhead> decodeAhead;
  const bool keep = operation == poExtract;
  // A helper with nothing to take would still cost its bookkeeping for
  // each of a million small entries: it is made once the next entry is
  // worth handing over, as the batch comes to it, not by a walk of its own
  // over every entry first.
  const bool aheadAllowed = (keep ? extractAheadEnabled_ : operation == poTest && testAheadEnabled_) &&
                            helperPays && !volumes_ && order.size() > 1;
  struct DecodeAheadScope {
    TZADecodeAhead*& member;
    ~DecodeAheadScope() { member = nullptr; }
  } decodeAheadScope{decodeAhead_};
  struct EntryScope {
    std::int32_t& entry;
    ~EntryScope() { entry = -1; }
  } entryScope{batchEntry_};
  std::size_t ordinal = 0;
  if (reports && OnOverallProgress) OnOverallProgress(this, 0.0, operation, ppStart, cancel_);
  TZAAction action = fxaIgnore;
  // One buffer for every entry's name: a million entries make no million
  // strings.
  std::u16string fileName;
  for (std::int32_t i : order) {
    if (cancel_ || !dirManager_ || i >= dirManager_->Items.Count()) break;
    if (!dirManager_->Items.GetItem(i).Selected) continue;
    entryOrdinal_ = ordinal++;
    batchEntry_ = i;
    if (aheadAllowed && !decodeAhead && ordinal < order.size() && WorthAheadAt(order[ordinal], keep)) {
      decodeAhead = std::make_unique<TZADecodeAhead>(order.size());
      if (keep) decodeAhead_ = decodeAhead.get();
    }
    do {
      action = fxaIgnore;
      dirManager_->Items.GetItem(i).EntryName.CopyBackslashedTo(fileName);
      currentFileName_ = fileName;
      auto failed = [&](const EZAException& e, const std::u16string& message) {
        action = fxaIgnore;
        if (OnProcessFileFailure)
          OnProcessFileFailure(this, fileName, operation, e.NativeError, e.ErrorCode, message, action);
        else
          action = DefaultFailureAnswer(e);
      };
      lastEntryDamaged_ = false;
      try {
        ProcessEntry(i, fileName, operation, decodeAhead.get(), order);
      } catch (const EZAException& e) {
        failed(e, e.Message());
      } catch (const EReadError& e) {
        if (!readErrorFailsEntry_) throw;
        failed(EZAException(neCorruptedEntry, this), e.Message());
      }
    } while (action == fxaRetry);
    if (action == fxaAbort || cancel_) break;
  }
  if (fidelity) {
    // Past every entry: what is said now is of the folders named.
    batchEntry_ = -1;
    fidelity->SetFolderTimes([this](const std::u16string& name, int error) {
      if (OnExtractNotice) OnExtractNotice(this, name, enTimeNotSet, u"", error);
    });
  }
  bool cancel = cancel_;
  if (reports && OnOverallProgress) OnOverallProgress(this, 100.0, operation, ppEnd, cancel);
  cancel_ = cancel || cancel_;
  if (cancel_ || action == fxaAbort) updateLevel_ = 0;
  progressEnabled_ = false;
  if (decoder_) decoder_->Release();
}

void TZABaseArchiver::ExtractItemToStream(std::int32_t index, TZAStream& stream) {
  std::lock_guard<std::recursive_mutex> lock(ZAEngineLock());
  if (!inBatch_ && dirManager_ && index >= 0 && index < dirManager_->Items.Count()) {
    operation_ = poExtract;
    selectedCount_ = 1;
    processedCount_ = 0;
    progressEnabled_ = true;
    currentFileName_ = paths::Backslashed(dirManager_->Items.GetItem(index).EntryName.str());
  }
  DecodeItem(index, stream);
}

}  // namespace za
