// zarc test and extract: the selected entries through the engine's
// per-entry loop, and extract -p: each entry to standard output. What
// happens to each entry is followed through the engine's events, so that
// every entry ends counted as written, kept, failed or not reached.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <unordered_map>
#include <string>

#include "archive/time_blocks.h"
#include "commands.h"
#include "console.h"
#include "sys/codepage.h"
#include "sys/wide_file.h"
#include "progress.h"

namespace zarc {

namespace {

// Whether zarc has a codec for the method: stored, deflate and those the
// engine is given.
bool Decodes(std::uint16_t method) { return method == 0 || method == 8 || za::ZAExtraMethodDecodes(method); }

// Standard output as the destination of -p; it cannot seek, and the engine
// never asks it to once zarc gives up a failed write.
class StdoutStream : public za::TZAStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (count <= 0) return 0;
    errno = 0;
    std::size_t n = std::fwrite(buffer, 1, static_cast<std::size_t>(count), stdout);
    if (n != static_cast<std::size_t>(count)) error_ = errno ? errno : EIO;
    position_ += static_cast<std::int64_t>(n);
    return static_cast<std::int64_t>(n);
  }
  std::int64_t Seek(std::int64_t offset, za::TZASeekOrigin origin) override {
    return origin == za::TZASeekOrigin::soBeginning ? offset : position_ + offset;
  }
  void SetSize(std::int64_t) override {}
  int LastError() const override { return error_; }
  // Buffered output fails late: on the flush.
  bool Finish() {
    errno = 0;
    if (std::fflush(stdout) != 0 && !error_) error_ = errno ? errno : EIO;
    return error_ == 0;
  }

 private:
  std::int64_t position_ = 0;
  int error_ = 0;
};

class Session {
 public:
  Session(za::TZipArchiver& zip, const Settings& settings)
      : zip_(zip), settings_(settings), report_(settings.Named()), overwrite_(settings.overwrite),
        ask_(!settings.givenPassword && IsTerminal(StdStream::Input)),
        bar_(settings.progress && !settings.toStdout && IsTerminal(StdStream::Error)) {}

  int Run() {
    if (!Open(zip_, settings_, report_, outcome_)) return outcome_.Final(false);
    za::TZAWideStrings unmatched;
    // A test names its entries as the engine reaches them: a count does.
    if (settings_.command == Settings::kTest && !settings_.toStdout)
      selectedCount_ = CountSelected(zip_, settings_, unmatched);
    else
      selectedCount_ = (selected_ = Select(zip_, settings_, unmatched)).size();
    if (ReportUnmatched(unmatched, selectedCount_ == 0, EmptyArchive(zip_), report_, outcome_)) {
      zip_.CloseArchive();
      return outcome_.Final(false);
    }
    // Entries the rebuild could not take in were reported by Open; they
    // count as failed ones.
    dropped_ = zip_.DirManager()->RebuildDropped.size();
    FindSharedDestinations();
    Hook();
    try {
      if (settings_.toStdout)
        ToStdout();
      else if (settings_.command == Settings::kExtract)
        zip_.ExtractFiles();
      else
        zip_.TestFiles();
    } catch (const za::Exception& e) {
      // The archive could not be read on: the rest of it is not reached.
      bar_.Clear();
      report_.Entry(CurrentName(), EngineText(e.Message()));
      outcome_.Note(kSevere);
      ++failed_;
      stopped_ = true;
    }
    bar_.Clear();
    zip_.CloseArchive();
    std::size_t handled = files_ + folders_ + kept_ + failed_;
    // However it was stopped, entries left out make it a failure.
    if (stopped_) outcome_.Note(kWarning);
    if (stopped_ && handled < selectedCount_)
      report_.Archive("stopped: " + std::to_string(selectedCount_ - handled) + " more selected " +
                      (selectedCount_ - handled == 1 ? "entry was" : "entries were") + " not processed");
    if (!settings_.toStdout && !settings_.quiet) Summary();
    return outcome_.Final(files_ + folders_ + kept_ > 0);
  }

 private:
  bool Extracting() const { return settings_.command == Settings::kExtract && !settings_.toStdout; }

  const za::TDirItem* Current() const { return current_ < 0 ? nullptr : &zip_.Item(current_); }
  std::u16string CurrentName() const { return current_ < 0 ? std::u16string() : Current()->EntryName; }

  // A rebuilt directory takes every empty entry without a data descriptor
  // for a folder: an empty file, or one whose sizes were only in the lost
  // central directory. It is not a folder anyone stored.
  bool TakenForFolder(const za::TDirItem& item) const {
    return zip_.DirManager()->Rebuilt && (item.Header.ExternalAttributes & 0x10) &&
           (item.EntryName.empty() || item.EntryName.back() != u'/');
  }

  void Fail(Status status, const std::string& text) {
    bar_.Clear();
    report_.Entry(CurrentName(), text);
    outcome_.Note(status);
    if (!entryFailed_) ++failed_;
    entryFailed_ = true;
  }

  // Where an entry lands, as the file system compares names; made in one
  // buffer, valid until the next call: a million entries need no million
  // keys.
  std::u16string_view DestinationKey(const za::TDirItem& item) const {
    item.EntryName.CopyTo(keyBuffer_);
    std::replace(keyBuffer_.begin(), keyBuffer_.end(), u'/', u'\\');
    std::u16string_view key = keyBuffer_;
    if (settings_.junkPaths) key = za::ZAFileNamePart(key);
    if (!NamesIgnoreCase()) return key;
    std::size_t from = keyBuffer_.size() - key.size();
    keyBuffer_.erase(0, from);
    sys::WideLowerInPlace(keyBuffer_);
    return keyBuffer_;
  }
  std::size_t DestinationHash(const za::TDirItem& item) const {
    return std::hash<std::u16string_view>{}(DestinationKey(item));
  }

  // The destinations that more than one selected entry goes to, by hash:
  // only an entry bound for one of them is remembered once written, so a
  // million entries bound for a million places keep nothing.
  void FindSharedDestinations() {
    if (!Extracting()) return;
    std::vector<std::size_t> hashes;
    hashes.reserve(selected_.size());
    for (std::int32_t i : selected_) hashes.push_back(DestinationHash(zip_.Item(i)));
    std::sort(hashes.begin(), hashes.end());
    for (std::size_t k = 0; k + 1 < hashes.size(); ++k)
      if (hashes[k] == hashes[k + 1] && (shared_.empty() || shared_.back() != hashes[k])) shared_.push_back(hashes[k]);
  }
  bool Shared(std::size_t hash) const { return std::binary_search(shared_.begin(), shared_.end(), hash); }

  bool WrittenBefore(const za::TDirItem& item, std::size_t hash) const {
    if (!Shared(hash)) return false;
    const std::u16string key(DestinationKey(item));
    auto [from, to] = written_.equal_range(hash);
    for (auto it = from; it != to; ++it)
      if (DestinationKey(zip_.Item(it->second)) == key) return true;
    return false;
  }

  // Starts an entry; false when it is not to be processed.
  bool Begin(std::int32_t index) {
    current_ = index;
    entryFailed_ = keptNow_ = false;
    const za::TDirItem& item = zip_.Item(index);
    if (TakenForFolder(item)) {
      Fail(kDamaged, "cannot be read: the rebuilt directory takes this empty or cut-off entry for a folder");
      return false;
    }
    // What --keep-damaged keeps is what a codec decoded: with none there is
    // nothing to keep, and an empty file must not stand for the entry or
    // replace a file of the user's.
    if (settings_.keepDamaged && !item.IsFolder() && !Decodes(item.ActualMethod)) {
      Fail(kUnsupported, "unsupported compression method " + MethodName(item) + " (" +
                             std::to_string(item.ActualMethod) + ")");
      return false;
    }
    destinationHash_ = Extracting() ? DestinationHash(item) : 0;
    if (Extracting() && !item.IsFolder() && WrittenBefore(item, destinationHash_)) {
      Fail(kWarning, "not extracted: an earlier entry of this archive was written under the same file name");
      return false;
    }
    return true;
  }

  void End(bool cancelled) {
    if (cancelled || entryFailed_ || current_ < 0) return;
    const za::TDirItem& item = *Current();
    // Only -v shows the name; a million entries need not be converted.
    std::string shown = settings_.verbose ? Shown(item.EntryName) : std::string();
    if (item.IsFolder()) {
      if (settings_.command == Settings::kTest) return;  // nothing to test
      ++folders_;
      if (settings_.verbose) std::printf("   creating: %s\n", shown.c_str());
    } else if (zip_.LastEntryDamaged()) {
      // Written as --keep-damaged asks: it counts as failed, and says so.
      bar_.Clear();
      std::string why = DecodeDetail();
      report_.Entry(item.EntryName, "damaged: written as decoded, but " +
                                        (why.empty() ? std::string("its size or CRC-32 does not match") : why));
      outcome_.Note(kDamaged);
      ++failed_;
    } else if (keptNow_) {
      ++kept_;
      if (settings_.verbose) std::printf("   skipping: %s (exists)\n", shown.c_str());
    } else {
      ++files_;
      if (Extracting() && Shared(destinationHash_)) written_.emplace(destinationHash_, current_);
      if (!settings_.verbose) return;
      if (settings_.command == Settings::kTest)
        std::printf("    testing: %s   OK\n", shown.c_str());
      else
        std::printf("%s: %s\n", item.ActualMethod == 0 ? " extracting" : "  inflating", shown.c_str());
    }
  }

  // Without folders from the archive the engine makes none at all, not
  // even the destination; -d names one that is made when missing, as unzip
  // makes it.
  void MakeDestination() {
    const std::u16string& dir = zip_.BaseDir();
    for (std::size_t i = 1; i <= dir.size(); ++i) {
      if (i < dir.size() && dir[i] != u'/' && dir[i] != u'\\') continue;
      std::u16string_view prefix(dir.data(), i);
      if (prefix.back() == u':' || sys::WideDirectoryExists(prefix)) continue;
      sys::WideCreateDirectory(prefix);
    }
  }

  void Hook() {
    zip_.Options().CreateDirs = !settings_.junkPaths;
    if (settings_.junkPaths && Extracting()) MakeDestination();
    // Every replacement is decided here, so that a file kept is known.
    zip_.Options().OverwriteMode = za::omPrompt;
    zip_.SetFileMasks(settings_.masks.empty() ? za::TZAWideStrings{u"*.*"} : settings_.masks);
    zip_.SetExclusionMasks(settings_.exclusions);
    zip_.OnConfirmProcessFile = [this](za::TZABaseArchiver*, const std::u16string&, za::TZAProcessOperation,
                                       bool& confirm) {
      if (std::int32_t index = zip_.BatchEntry(); index >= 0) confirm = Begin(index);
    };
    zip_.OnOverallProgress = [this](za::TZABaseArchiver*, double percent, za::TZAProcessOperation,
                                    za::TZAProgressPhase phase, bool& cancel) {
      bar_.Update(percent);
      if (phase == za::ppEnd && cancel) stopped_ = true;
    };
    zip_.OnFileProgress = [this](za::TZABaseArchiver*, const std::u16string&, double, za::TZAProcessOperation,
                                 za::TZAProgressPhase phase, bool& cancel) {
      if (phase == za::ppEnd) End(cancel);
    };
    zip_.OnProcessFileFailure = [this](za::TZABaseArchiver*, const std::u16string&, za::TZAProcessOperation,
                                       std::int32_t native, std::int32_t, const std::u16string& message,
                                       za::TZAAction& action) {
      Failure(native, message);
      // A volume that cannot be had ends the work, as the engine's own
      // answer does: every entry after it would ask for it again.
      action = native == za::neVolumeRefused ? za::fxaAbort : za::fxaIgnore;
    };
    zip_.OnDiskFull = [this](za::TZABaseArchiver*, std::int32_t, const std::u16string&, bool& cancel) {
      int code = zip_.LastOutputFailure().SystemError;
      std::string where = settings_.toStdout ? "writing to standard output failed" : "writing failed";
      Fail(kDiskFull, where + (code ? ": " + SystemReason(code) : std::string()));
      stopped_ = true;
      cancel = true;
    };
    zip_.OnConfirmOverwrite = [this](za::TZABaseArchiver*, const std::u16string&, std::u16string& path,
                                     bool& confirm) {
      confirm = Replace(path);
      keptNow_ = !confirm;
    };
    zip_.OnExtractNotice = [this](za::TZABaseArchiver*, const std::u16string& name, za::TZAExtractNotice notice,
                                  const std::u16string& detail, std::int32_t error) {
      // Folder times are set once every entry is written: the engine names
      // the folder.
      Notice(zip_.BatchEntry() < 0 ? name : CurrentName(), notice, detail, error);
    };
    zip_.OnPassword = [this](za::TZABaseArchiver*, const std::u16string& name, std::string& password, bool& skip) {
      Password(name, password, skip);
    };
  }

  void Failure(std::int32_t native, const std::u16string& message) {
    const za::TDirItem* item = Current();
    const za::TZACodecFault& fault = zip_.LastDecodeFault();
    if (native == za::neDeflate64 ||
        (native == za::neCorruptedEntry && item && !Decodes(item->ActualMethod))) {
      Fail(kUnsupported, "unsupported compression method " + MethodName(*item) + " (" +
                             std::to_string(item->ActualMethod) + ")");
    } else if (native == za::neCorruptedEntry && fault.Limit) {
      Fail(kUnsupported, "unsupported: " + fault.Text);
    } else if (native == za::neCorruptedEntry && !fault.Text.empty()) {
      Fail(kDamaged, "damaged: " + fault.Text);
    } else if (native == za::neCorruptedEntry && item && (item->Header.Flags & 1) &&
               item->CryptoAlgorithm != za::caPkzipClassic &&
               item->Header.VersionNeeded >= za::kNoAesVersion) {
      Fail(kUnsupported, "unsupported encryption");
    } else if (native == za::neCorruptedEntry && message == za::EReadError().Message()) {
      Fail(kDamaged, "damaged: its data cannot be read (its local header lies past the end of the archive or is "
                     "cut off)");
    } else if (native == za::neCorruptedEntry) {
      std::string why = DecodeDetail();
      Fail(kDamaged, "damaged: " + (why.empty() ? EngineText(message) : why));
    } else if (native == za::neCannotCreateFile && zip_.LastOutputFailure().NameRefused) {
      Fail(kWarning, "refused: the name leaves the destination");
    } else if (native == za::neCannotCreateFile || native == za::neCannotCreateFolder) {
      Fail(kWarning, EngineText(message, zip_.LastOutputFailure().SystemError));
    } else {
      Fail(native == za::neVolumeRefused ? kSevere : kWarning, EngineText(message));
    }
    if (native == za::neVolumeRefused) stopped_ = true;
  }

  // Written, but not as asked: a warning, and the run says so in its status.
  void Notice(const std::u16string& name, za::TZAExtractNotice notice, const std::u16string& detail,
              std::int32_t error) {
    bar_.Clear();
    std::string text;
    switch (notice) {
      case za::enLinkUnsafe:
        text = detail.empty() ? "link text too long: written as a file holding it"
                              : "link to '" + Printable(detail) + "' leads out of the destination: written as a file "
                                "holding its text (--unsafe-links makes it)";
        break;
      case za::enNoLinks:
        text = "link to '" + Printable(detail) + "' written as a file holding its text: this system makes no links";
        break;
      case za::enOwnerNotSet: text = "owner not set: " + SystemReason(error); break;
      case za::enTimeNotSet:
        text = error ? "time not set: " + SystemReason(error)
                     : std::string("time not set: the archive gives no valid date for it");
        break;
    }
    report_.Entry(name, text);
    outcome_.Note(kWarning);
    ++warned_;
  }

  // What was wrong with the data of the entry that failed last; empty when
  // the engine does not know.
  std::string DecodeDetail() const {
    using F = za::TZABaseArchiver::TZADecodeFailure;
    const F& f = zip_.LastDecodeFailure();
    char text[64];
    switch (f.Kind) {
      case F::dfCrc:
        std::snprintf(text, sizeof text, "bad CRC-32 %08x (should be %08x)", f.Crc32, f.DeclaredCrc32);
        return text;
      case F::dfSize:
        return "size differs: " + std::to_string(f.Produced) + " bytes decoded, " + std::to_string(f.Declared) +
               " declared";
      case F::dfOverlap: return "overlaps another entry (possible zip bomb)";
      case F::dfLocalHeader: return "no local header at offset " + std::to_string(f.LocalOffset);
      case F::dfData: return "invalid compressed data";
      case F::dfNone: break;
    }
    return {};
  }

  bool Replace(std::u16string& path) {
    const za::TDirItem& item = *Current();
    switch (overwrite_) {
      case Overwrite::Always: return true;
      case Overwrite::Never:
        // Nobody was asked and nobody said -n: as unzip and 7z do without an
        // answer, the file stays, and the run says so rather than pass
        // silently over what it did not write.
        if (!settings_.overwriteGiven && settings_.overwrite == Overwrite::Never) {
          bar_.Clear();
          report_.Entry(Current()->EntryName,
                        "not replaced: " + Shown(path) + " exists and there is no terminal to ask (-o replaces it, "
                        "-n keeps it quietly)");
          outcome_.Note(kWarning);
        }
        return false;
      case Overwrite::IfNewer: {
        // As the engine's "only newer": equal times keep the file. A time
        // kept in UTC compares as such, at the precision the entry keeps.
        za::TZAEntryTimes exact = za::ZAReadEntryTimes(item.ExtraFields);
        sys::FileTime onDisk;
        if (exact.Modified && sys::WideGetFileTime(path, onDisk))
          return za::ZALaterAt(*exact.Modified, onDisk, exact.ResolutionNs);
        std::int32_t archived = static_cast<std::int32_t>(
            (static_cast<std::uint32_t>(item.Header.ModDate) << 16) | item.Header.ModTime);
        return sys::WideGetDosDateTime(path) < archived;
      }
      case Overwrite::Ask: break;
    }
    bar_.Clear();
    for (;;) {
      std::string answer;
      if (!ReadLine("replace " + Shown(path) + "? [y]es, [n]o, [A]ll, [N]one, [r]ename: ", answer)) {
        std::fputc('\n', stderr);
        overwrite_ = Overwrite::Never;  // no more answers: keep what is there
        return false;
      }
      if (answer == "y" || answer == "Y" || answer == "yes") return true;
      if (answer == "n" || answer == "no") return false;
      if (answer == "A") return (overwrite_ = Overwrite::Always), true;
      if (answer == "N") return (overwrite_ = Overwrite::Never), false;
      if (answer == "r" || answer == "R") {
        std::string name;
        if (!ReadLine("new name: ", name) || name.empty()) continue;
        std::u16string folder(path.substr(0, path.size() - za::ZAFileNamePart(path).size()));
        path = folder + sys::Utf8ToWide(name);
        // A name that is taken as well is asked about in turn.
        if (!sys::WideFileExists(path) && !sys::WideDirectoryExists(path)) return true;
      }
    }
  }

  void Password(const std::u16string& name, std::string& password, bool& skip) {
    bar_.Clear();
    std::string shown = Shown(name);
    std::string typed;
    if (ask_) {
      // Asked again for the same entry: the answer before was wrong.
      if (asked_ && name == lastAsked_) report_.Entry(name, "wrong password");
      bool got = ReadSecretLine("[" + report_.ArchiveName() + "] " + shown + " password: ", typed);
      asked_ = true;
      lastAsked_ = name;
      // Without an answer there is nothing more to ask: the rest are skipped
      // at once rather than prompted for at a closed input.
      if (!got) ask_ = false;
    }
    if (typed.empty()) {
      Fail(kBadPassword, "skipped, wrong or missing password");
      skip = true;
      return;
    }
    password = sys::WideToAnsi(sys::Utf8ToWide(typed));
  }

  void ToStdout() {
    SetBinaryOutput();
    StdoutStream out;
    for (std::int32_t index : selected_) {
      if (zip_.Item(index).IsFolder() && !TakenForFolder(zip_.Item(index))) continue;
      if (!Begin(index)) continue;
      try {
        zip_.ExtractItemToStream(index, out);
      } catch (const za::EZAException& e) {
        Failure(e.NativeError, e.Message());
      } catch (const za::EReadError& e) {
        Failure(za::neCorruptedEntry, e.Message());
      }
      if (stopped_) break;
      if (!entryFailed_ && zip_.LastEntryDamaged()) {
        std::string why = DecodeDetail();
        Fail(kDamaged, "damaged: " + (why.empty() ? std::string("its size or CRC-32 does not match") : why));
      }
      if (!entryFailed_) ++files_;
    }
    if (!out.Finish() && !stopped_) {
      Fail(kDiskFull, "writing to standard output failed: " + SystemReason(out.LastError()));
      stopped_ = true;
    }
  }

  void Summary() {
    std::string line = report_.ArchiveName() + ": " + std::to_string(files_) + (files_ == 1 ? " file " : " files ") +
                       (settings_.command == Settings::kTest ? "tested" : "extracted");
    if (folders_) line += ", " + std::to_string(folders_) + (folders_ == 1 ? " folder" : " folders");
    if (kept_) line += ", " + std::to_string(kept_) + " kept";
    line += ", " + std::to_string(failed_ + dropped_) + " failed";
    // Written otherwise than asked: not a failure, but no clean run either.
    if (warned_) line += ", " + std::to_string(warned_) + (warned_ == 1 ? " warning" : " warnings");
    std::printf("%s\n", line.c_str());
  }

  za::TZipArchiver& zip_;
  const Settings& settings_;
  Reporter report_;
  Outcome outcome_;
  Overwrite overwrite_;
  bool ask_;
  ProgressBar bar_;
  std::vector<std::int32_t> selected_;  // but for a test
  std::size_t selectedCount_ = 0;
  std::int32_t current_ = -1;
  bool entryFailed_ = false, keptNow_ = false, stopped_ = false;
  std::size_t files_ = 0, folders_ = 0, kept_ = 0, failed_ = 0, dropped_ = 0, warned_ = 0;
  // The entries written to a shared destination, by the hash of where they
  // landed: a million destinations kept as strings would cost more than
  // the entries.
  std::vector<std::size_t> shared_;  // sorted
  std::size_t destinationHash_ = 0;  // of the entry begun last
  mutable std::u16string keyBuffer_;
  std::unordered_multimap<std::size_t, std::int32_t> written_;
  bool asked_ = false;
  std::u16string lastAsked_;
};

}  // namespace

int Process(za::TZipArchiver& zip, const Settings& settings) { return Session(zip, settings).Run(); }

}  // namespace zarc
