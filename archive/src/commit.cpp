// The commit of an update: the whole archive is written anew, entries that
// did not change copied as they are stored, new ones encoded from their
// sources, into a new file (or memory) that takes the old archive's place
// only once it is complete (transaction.cpp); a split archive is written
// straight into its volumes, a spanned one laid out over its disks once
// complete (volume_layout.cpp).
#include <algorithm>
#include <exception>

#include "archive/archiver.h"
#include "compress_ahead.h"
#include "entry_writer.h"
#include "transaction.h"
#include "volume_layout.h"
#include "write_state.h"
#include "sys/wide_dir.h"
#include "sys/wide_file.h"

namespace za {

namespace {

TZAWriteSettings SettingsOf(const TZABaseArchiver::TZAWriteState& state) {
  const TZABaseArchiver& a = state.Component();
  TZAWriteSettings s;
  s.Zip64 = state.Zip64();
  s.OemNames = a.Options().OEMFileNames;
  s.UnicodeNameBlocks = state.UnicodeNameBlocks();
  s.Utf8Names = a.Utf8NamesOnWrite();
  s.Utf8FlagNames = a.Utf8FlagNames();
  s.UnixModes = a.UnixModesOnWrite();
  s.Zip64MadeByVersion = a.Fidelity().Zip64MadeByVersion;
  s.Methods = a.ExtraMethods();
  s.Method = a.NewEntryMethod();
  s.FastDeflate = a.FastDeflate();
  return s;
}

std::uint64_t CentralHeaderSize(const TZAPlannedEntry& e) {
  return CentralDirectoryHeader::kSize + e.Name.size() + e.Extra.size() + e.Comment.size();
}

// Readers take a Zip64 locator signature 20 bytes before the end record
// for a locator. When the last central header (a comment, a name) puts
// one there by chance, only a real locator keeps the archive readable.
bool EndsLikeALocator(const std::vector<TZAPlannedEntry>& planned) {
  if (planned.empty()) return false;
  const TZAPlannedEntry& e = planned.back();
  std::string tail;
  tail.append(e.Name).append(e.Extra.begin(), e.Extra.end()).append(e.Comment);
  std::uint8_t raw[CentralDirectoryHeader::kSize];
  e.Header.Store(raw);
  std::string whole(reinterpret_cast<const char*>(raw), sizeof raw);
  whole += tail;
  const std::size_t at = whole.size() - Zip64EndOfCentralDirectoryLocator::kSize;
  return GetU32(reinterpret_cast<const std::uint8_t*>(whole.data()) + at) == kZip64LocatorSignature;
}

}  // namespace

class TZACommit {
 public:
  explicit TZACommit(TZABaseArchiver& a)
      : a_(a), state_(a), transaction_(state_), writer_(a, SettingsOf(state_)) {}

  // True once the new archive has taken the old one's place.
  bool Run() {
    const bool toFile = state_.WritesFiles();
    // A split archive is written whole, once: its volumes are not changed.
    const bool split = toFile && a_.SpanningMode() == smSplitting;
    // Spanned: written disk by disk into removable drives with the same name
    // on each; the whole archive is made first away from the drive, whose
    // disks are taken out.
    const bool spanned = toFile && a_.SpanningMode() == smSpanning;
    if ((split || spanned) && state_.Archive() && state_.Archive()->Size() > 0) {
      state_.ReloadDirectory();
      throw EZAException(neMultiVolumeUpdate, &a_);
    }
    std::u16string temp;
    std::unique_ptr<TZAStream> out;
    TZAVolumeLayout layout(state_, transaction_);
    if (split) {
      try {
        auto sink = layout.SplitSink();
        sink_ = sink.get();
        out = std::move(sink);
      } catch (...) {
        state_.ReloadDirectory();
        throw;
      }
      if (sink_->Shape().KeepRecords) writer_.AnnounceRecords(sink_);
    } else if (toFile) {
      try {
        std::u16string folder = !a_.TempDir().empty() ? a_.TempDir()
                                : spanned              ? sys::WideTempFolder()
                                                       : ZAFolderOf(a_.FileName());
        temp = transaction_.CreateTemp(folder, out);
      } catch (...) {
        state_.ReloadDirectory();
        throw;
      }
    } else {
      out = std::make_unique<TZAMemoryStream>();
    }
    bool written;
    try {
      written = WriteArchive(*out);
      if (written && toFile && !sink_) ZAFlushFile(*out);
      if (written && toFile && !split && !spanned && a_.OnVerifyNewArchive) {
        bool accept = true;
        a_.OnVerifyNewArchive(&a_, *out, accept);
        written = accept;
      }
    } catch (...) {
      // A volume that could not be made fails the commit as it was raised,
      // not as the entry being written then.
      std::exception_ptr failure = sink_ ? sink_->Failure() : nullptr;
      transaction_.Abandon(out, temp);
      if (failure) std::rethrow_exception(failure);
      throw;
    }
    if (!written) {
      transaction_.Abandon(out, temp);
      return false;
    }
    if (sink_) {
      std::unique_ptr<TZAVolumeSink> sink(static_cast<TZAVolumeSink*>(out.release()));
      sink_ = nullptr;
      if (sink->Shape().KeepRecords)
        layout.InstallSplit(std::move(sink));
      else
        layout.InstallPieces(std::move(sink));
    } else if (spanned)
      layout.InstallSpanned(std::move(out), temp, written_);
    else if (toFile)
      transaction_.InstallFile(std::move(out), temp);
    else
      transaction_.InstallStream(std::move(out));
    return true;
  }

  // Writes the stub and the archive's entries, offsets counting the stub,
  // into `target`; the archive itself stays as it is.
  void MakeSFX(const std::u16string& target) {
    stubFile_ = a_.SFXStub();
    std::unique_ptr<TZAStream> out;
    std::u16string temp = transaction_.CreateTemp(ZAFolderOf(target), out);
    try {
      if (!WriteArchive(*out)) {
        out.reset();
        sys::WideDeleteFile(temp);
        return;
      }
      ZAFlushFile(*out);
      out.reset();
      if (!sys::WideReplaceFile(temp, target)) throw EZAException(neCannotCreateFile, &a_, {target});
    } catch (const EStreamError&) {
      out.reset();
      sys::WideDeleteFile(temp);
      throw EZAException(neMakeSFX, &a_);
    } catch (...) {
      out.reset();
      sys::WideDeleteFile(temp);
      throw;
    }
  }

 private:
  // ---- the new archive

  // False when a handler cancelled or a failure was answered with abort.
  bool WriteArchive(TZAStream& stream) {
    TZAOutput out(stream);
    TZADirManager& dir = state_.Directory();
    TZAStream* old = state_.Archive();
    std::int64_t oldSize = old ? old->Size() : 0;
    if (!stubFile_.empty()) {
      CopyStub(out, stubFile_);
    } else if (oldSize > 0 && dir.PrefixLength > 0) {
      // A self-extractor's stub (or whatever lies in front) stays in front.
      old->SetPosition(0);
      ZACopyBytes(*old, static_cast<std::uint64_t>(std::min(dir.PrefixLength, oldSize)),
                  [&](const std::uint8_t* data, std::size_t n) { out.Write(data, n); });
    } else if (oldSize == 0 && !a_.SFXStub().empty()) {
      CopyStub(out, a_.SFXStub());
    }
    if (sink_ && sink_->Shape().KeepRecords) TZAVolumeLayout(state_, transaction_).CheckPrefix(*sink_, out.Position());

    TZADirArray& items = dir.Items;
    total_ = 0;
    for (std::int32_t i = 0; i < items.Count(); ++i)
      if (items.GetItem(i).IsNew) ++total_;
    done_ = 0;
    bool cancel = false;
    if (a_.OnOverallProgress) a_.OnOverallProgress(&a_, 0.0, state_.Operation(), ppStart, cancel);
    if (cancel) return false;
    StartAhead(items);
    written_.Entries.reserve(static_cast<std::size_t>(items.Count()));
    for (std::int32_t i = 0; i < items.Count(); ++i)
      if (!WriteEntry(out, i)) return false;
    return WriteDirectory(out, dir);
  }

  // Entry `index` into the new archive, offering a failure to the handler
  // (or the user) to retry, skip or abort.
  bool WriteEntry(TZAOutput& out, std::int32_t index) {
    TDirItem& item = state_.Directory().Items.ItemAt(index);
    std::u16string shown = item.EntryName;
    std::replace(shown.begin(), shown.end(), u'/', u'\\');
    TZAAction action;
    do {
      action = fxaIgnore;
      std::uint64_t start = out.Position();
      try {
        TZAPlannedEntry entry;
        TZACompressAhead::Result prepared;
        std::uint32_t header = !item.IsNew ? writer_.CopyOld(out, *state_.Archive(), state_.EntryReader(),
                                                             state_.Directory(), item, entry)
                               : TakeAhead(index, prepared) ? WritePrepared(out, item, shown, entry, prepared)
                                                            : WriteNew(out, item, shown, entry);
        if (header == 0) return false;
        written_.Entries.push_back(std::move(entry));
        written_.LocalAt.push_back(start);
        written_.LocalSize.push_back(header);
        return true;
      } catch (const EZAException& e) {
        out.Truncate(start);
        if (a_.OnProcessFileFailure)
          a_.OnProcessFileFailure(&a_, shown, item.IsNew ? state_.Operation() : poUpdate, e.NativeError,
                                  e.ErrorCode, e.Message(), action);
        else
          action = state_.DefaultFailureAnswer(e);
        if (action == fxaAbort) return false;
      }
    } while (action == fxaRetry);
    // Left out: a file that is to be moved into the archive stays where it is.
    if (item.IsNew) state_.KeepSource(item.Source().SourceFileName.str());
    return true;
  }

  bool WriteDirectory(TZAOutput& out, const TZADirManager& dir) {
    const std::vector<TZAPlannedEntry>& planned = written_.Entries;
    TZAEndOfDirectory end;
    end.DirectoryOffset = out.Position();
    for (const TZAPlannedEntry& e : planned) end.DirectorySize += CentralHeaderSize(e);
    end.Entries = planned.size();
    end.VersionMadeBy = writer_.MadeBy();
    end.Comment = dir.ZipComment;
    // An empty archive has nothing for Zip64 to describe, and readers look
    // for a Zip64 end record only behind something.
    const TZip64Mode mode = state_.Zip64();
    bool zip64 = (mode == zmAlways && end.DirectoryOffset + end.DirectorySize > 0) || end.NeedsZip64() ||
                 EndsLikeALocator(planned);
    if (zip64 && mode == zmDisabled) throw EZAException(neZip64Disabled, &a_, {a_.FileName()});
    written_.End = end;
    written_.Zip64 = zip64;
    if (sink_ && sink_->Shape().KeepRecords && TZAVolumeLayout::RunsOver(*sink_, written_)) {
      out.Flush();
      TZAVolumeLayout::WriteDirectory(*sink_, written_);
    } else {
      if (sink_ && sink_->Shape().KeepRecords) {
        out.Flush();
        sink_->KeepPlain();
      }
      for (const TZAPlannedEntry& e : planned) ZAWriteCentralHeader(out, e.Header, e.Name, e.Extra, e.Comment);
      ZAWriteEndOfDirectory(out, end, zip64);
    }
    out.Flush();
    bool cancel = false;
    if (a_.OnOverallProgress) a_.OnOverallProgress(&a_, 100.0, state_.Operation(), ppEnd, cancel);
    return !cancel;
  }

  void CopyStub(TZAOutput& out, const std::u16string& name) {
    std::unique_ptr<TZAFileStream> stub;
    try {
      stub = std::make_unique<TZAFileStream>(name, fmOpenRead | fmShareDenyWrite);
    } catch (const EStreamError&) {
      throw EZAException(neCannotOpenFile, &a_, {name});
    }
    ZACopyBytes(*stub, static_cast<std::uint64_t>(stub->Size()),
                [&](const std::uint8_t* data, std::size_t n) { out.Write(data, n); });
  }

  // ---- a new entry from its source

  struct Progress {
    TZACommit* self;
    const std::u16string* name;
    std::uint64_t size;
  };

  static bool OnProgress(void* context, std::uint64_t done) {
    auto* p = static_cast<Progress*>(context);
    TZABaseArchiver& a = p->self->a_;
    const TZAProcessOperation operation = p->self->state_.Operation();
    bool cancel = false;
    double part = p->size ? static_cast<double>(done) / static_cast<double>(p->size) : 1.0;
    if (a.OnFileProgress) a.OnFileProgress(&a, *p->name, part * 100.0, operation, ppProcess, cancel);
    if (!cancel && a.OnOverallProgress)
      a.OnOverallProgress(&a, (part + p->self->done_) / std::max(p->self->total_, 1) * 100.0, operation, ppProcess,
                          cancel);
    return !cancel;
  }

  std::uint32_t WriteNew(TZAOutput& out, TDirItem& item, const std::u16string& shown, TZAPlannedEntry& entry) {
    std::unique_ptr<TZAStream> opened;
    TZAStream* source = item.Source().SourceStream.get();
    if (!item.IsFolder() && !source) {
      try {
        // Options.ShareMode says what others may do with the file meanwhile.
        static const std::uint16_t kShare[] = {fmShareCompat, fmShareExclusive, fmShareDenyWrite, fmShareDenyRead,
                                               fmShareDenyNone};
        opened = std::make_unique<TZAFileStream>(item.Source().SourceFileName.view(),
                                                 fmOpenRead | kShare[a_.Options().ShareMode % 5]);
      } catch (const EStreamError&) {
        throw EZAException(neCannotOpenFile, &a_, {item.Source().SourceFileName.str()});
      }
      source = opened.get();
    }
    bool cancel = false;
    if (a_.OnFileProgress) a_.OnFileProgress(&a_, shown, 0.0, state_.Operation(), ppStart, cancel);
    if (cancel) return 0;
    std::uint64_t size = 0;
    if (source) {
      std::int64_t from = source->Position(), all = source->Size();
      size = all > from ? static_cast<std::uint64_t>(all - from) : 0;
    }
    Progress progress{this, &shown, size};
    std::uint32_t header = writer_.WriteNew(out, item, source, shown, &TZACommit::OnProgress, &progress, entry);
    if (header == 0) return 0;
    ++done_;
    if (a_.OnFileProgress) a_.OnFileProgress(&a_, shown, 100.0, state_.Operation(), ppEnd, cancel);
    return cancel ? 0 : header;
  }

  // ---- new entries made ahead by helper threads

  void StartAhead(TZADirArray& items) {
    std::vector<TZACompressAhead::Job> jobs;
    jobOf_.assign(static_cast<std::size_t>(items.Count()), -1);
    for (std::int32_t i = 0; i < items.Count(); ++i) {
      const TDirItem& item = items.GetItem(i);
      // Files only, in the clear (a cipher runs in the order of the data),
      // and small enough to be held whole.
      const TZAEntrySource& source = item.Source();
      if (!item.IsNew || source.SourceStream || source.SourceFileName.empty() || !source.EntryPassword.empty() ||
          item.IsFolder())
        continue;
      sys::WideDirEntry info;
      if (!sys::WideStat(source.SourceFileName.view(), info) || info.Size > TZACompressAhead::kLargest) continue;
      jobOf_[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(jobs.size());
      jobs.push_back({source.SourceFileName.str(), item.CompressionSetting, a_.NewEntryMethod(), a_.ExtraMethods(),
                      a_.FastDeflate()});
    }
    // One file is as well done by the commit itself.
    if (jobs.size() > 1) ahead_ = std::make_unique<TZACompressAhead>(std::move(jobs));
  }

  bool TakeAhead(std::int32_t index, TZACompressAhead::Result& result) {
    std::int32_t job = jobOf_.empty() ? -1 : jobOf_[static_cast<std::size_t>(index)];
    return ahead_ && job >= 0 && ahead_->Take(static_cast<std::size_t>(job), result);
  }

  std::uint32_t WritePrepared(TZAOutput& out, TDirItem& item, const std::u16string& shown, TZAPlannedEntry& entry,
                              const TZACompressAhead::Result& result) {
    bool cancel = false;
    if (a_.OnFileProgress) a_.OnFileProgress(&a_, shown, 0.0, state_.Operation(), ppStart, cancel);
    if (cancel) return 0;
    std::uint32_t header = writer_.WritePrepared(out, item, result, shown, entry);
    ++done_;
    if (a_.OnOverallProgress)
      a_.OnOverallProgress(&a_, 100.0 * done_ / std::max(total_, 1), state_.Operation(), ppProcess, cancel);
    if (!cancel && a_.OnFileProgress) a_.OnFileProgress(&a_, shown, 100.0, state_.Operation(), ppEnd, cancel);
    return cancel ? 0 : header;
  }

  TZABaseArchiver& a_;
  TZABaseArchiver::TZAWriteState state_;
  TZATransaction transaction_;
  TZAEntryWriter writer_;
  TZAWrittenArchive written_;  // for the volumes made of it
  TZAVolumeSink* sink_ = nullptr;  // a split archive's volumes, while written
  std::int32_t total_ = 0, done_ = 0;
  std::unique_ptr<TZACompressAhead> ahead_;
  std::u16string stubFile_;          // MakeSFX: the stub in place of what was in front
  std::vector<std::int32_t> jobOf_;  // of each entry: its job ahead, or -1
};

bool TZABaseArchiver::CommitUpdate() {
  std::lock_guard<std::recursive_mutex> lock(ZAEngineLock());
  return TZACommit(*this).Run();
}

void TZABaseArchiver::MakeSFX(std::u16string_view sfxFileName) {
  if (!open_ || !dirManager_) throw EZAException(neArchiveNotOpen, this);
  if (updateLevel_ > 0) throw EZAException(neUpdateNotEnded, this);
  if (volumes_ || dirManager_->VolumeInfo.LastVolumeNumber > 0) throw EZAException(neSFXOnVolumes, this);
  if (sfxStub_.empty()) throw EZAException(neNoSFXStub, this);
  if (dirManager_->PrefixLength > 0) throw EZAException(neSFXStubPresent, this);
  if (ZAFileNamePart(sfxFileName).empty()) throw EZAException(neBlankFileName, this);
  std::lock_guard<std::recursive_mutex> lock(ZAEngineLock());
  updateOperation_ = poMakeSFX;
  TZACommit(*this).MakeSFX(std::u16string(sfxFileName));
}

}  // namespace za
