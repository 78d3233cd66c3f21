#pragma once
// The archive component: TZABaseArchiver with its published
// properties, events and the operations OpenArchive and CloseArchive, and
// TZipArchiver on top of it.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "archive/entry_cipher.h"
#include "archive/crypto_primitives.h"
#include "archive/dialogs.h"
#include "archive/dir_manager.h"
#include "archive/errors.h"
#include "archive/held_stream.h"
#include "archive/items.h"
#include "archive/methods.h"
#include "archive/stream.h"
#include "archive/types.h"
#include "archive/volumes.h"
#include "sys/wide_file.h"

namespace za {

class TZABaseArchiver;
class TZAOutputAhead;
class TZAFidelityBatch;
class TZADecodeAhead;
class TZAEntryReader;
class TZADecoder;
struct TZADecodeVerdict;
struct TZAEntrySpan;

using TZAWideStrings = std::vector<std::u16string>;

struct TZAOptions {
  bool Recurse = true;
  TZAStorePathMode StorePath = spRelativePath;
  TZAFileShareMode ShareMode = smShareDenyNone;
  TZAOverwriteMode OverwriteMode = omAlways;
  bool CreateDirs = true;
  bool ReplaceReadOnly = true;
  bool SetAttributes = true;
  std::int32_t SearchAttr = 10431;  // 0x28BF
  bool FlushBuffers = true;
  bool OEMFileNames = true;
};

// Files come back as they went in: what other zip tools keep of a file
// beyond its data and MS-DOS time. All off by default: the setup program
// reads and writes the MS-DOS fields only and makes plain files.
struct TZAFidelity {
  // Extraction, the overwrite modes that compare times and updating take
  // an entry's time from its NTFS, extended time stamp or old Unix block
  // where it has one (UTC, so the same in every time zone), and extraction
  // gives folders their times once their contents are written.
  bool ExactTimes = false;
  // New entries from files carry the extended time stamp, and the NTFS
  // block (100 ns) with NtfsTimesOnWrite.
  bool TimeBlocksOnWrite = false;
  bool NtfsTimesOnWrite = false;
  // Adding stores a symbolic link as a link (the link type in the Unix
  // mode, its text as the data) rather than what it points to.
  bool LinksAsLinks = false;
  // Extraction makes an entry of the link type a symbolic link, after the
  // other entries of the batch; one whose text is absolute or climbs out of
  // the destination is written as a file holding the text, unless
  // UnsafeLinks. Where the system makes no links, every one is.
  bool MakeLinks = false;
  bool UnsafeLinks = false;
  // New entries carry the Unix owner block; extraction gives files the
  // owner and group an entry's blocks name.
  bool OwnersOnWrite = false;
  bool RestoreOwners = false;
  // A stored name's empty components ("a//b") are dropped on extraction
  // rather than the name refused.
  bool DropEmptyComponents = false;
  // New entries that need version 4.5 or later to be read (Zip64, AES)
  // say they were made by that version.
  bool Zip64MadeByVersion = false;
};

// What extraction did otherwise than asked, for the caller to say.
enum TZAExtractNotice {
  enLinkUnsafe,    // a link whose text leaves the destination, written as a file
  enNoLinks,       // the system makes no links: written as a file
  enOwnerNotSet,   // the owner could not be given (the system's error)
  enTimeNotSet,    // the time could not be given (the system's error; 0: the entry's time is no valid moment)
};

class TZASpanningOptions {
 public:
  bool AdvancedNaming = false;
  std::int64_t FirstVolumeSize = 0;
  TZAVolumeSize VolumeSize = vsAutoDetect;
  std::int64_t CustomVolumeSize() const { return customVolumeSize_; }
  void SetCustomVolumeSize(std::int64_t size) { customVolumeSize_ = size < 65536 ? 65536 : size; }
  // The size of a volume in bytes (-1: detect the free space).
  std::int64_t VolumeSizeBytes() const;

 private:
  std::int64_t customVolumeSize_ = 0;
};

// Events (the sender is the archiver; answers come back by reference).
using TNotifyEvent = std::function<void(TZABaseArchiver* Sender)>;
using TZAFileProgressEvent =
    std::function<void(TZABaseArchiver* Sender, const std::u16string& FileName, double Progress,
                       TZAProcessOperation Operation, TZAProgressPhase ProgressPhase, bool& Cancel)>;
using TZAProgressEvent = std::function<void(TZABaseArchiver* Sender, double Progress, TZAProcessOperation Operation,
                                            TZAProgressPhase ProgressPhase, bool& Cancel)>;
using TZACopyTempFileProgressEvent =
    std::function<void(TZABaseArchiver* Sender, double Progress, TZAProgressPhase ProgressPhase, bool& Cancel)>;
using TZAConfirmOverwriteEvent = std::function<void(TZABaseArchiver* Sender, const std::u16string& SourceFileName,
                                                    std::u16string& DestFileName, bool& Confirm)>;
using TZAConfirmProcessFileEvent = std::function<void(TZABaseArchiver* Sender, const std::u16string& FileName,
                                                      TZAProcessOperation Operation, bool& Confirm)>;
using TZAOnPasswordEvent = std::function<void(TZABaseArchiver* Sender, const std::u16string& FileName,
                                              std::string& NewPassword, bool& SkipFile)>;
using TZAProcessFileFailureEvent =
    std::function<void(TZABaseArchiver* Sender, const std::u16string& FileName, TZAProcessOperation Operation,
                       std::int32_t NativeError, std::int32_t ErrorCode, const std::u16string& ErrorMessage,
                       TZAAction& Action)>;
using TZAOnRequestBlankVolumeEvent = std::function<void(TZABaseArchiver* Sender, std::int32_t VolumeNumber,
                                                        std::u16string& VolumeFileName, bool& Cancel)>;
using TZAOnRequestFirstVolumeEvent =
    std::function<void(TZABaseArchiver* Sender, std::u16string& VolumeFileName, bool& Cancel)>;
using TZAOnRequestLastVolumeEvent =
    std::function<void(TZABaseArchiver* Sender, std::u16string& VolumeFileName, bool& Cancel)>;
using TZAOnRequestMiddleVolumeEvent = std::function<void(TZABaseArchiver* Sender, std::int32_t VolumeNumber,
                                                         std::u16string& VolumeFileName, bool& Cancel)>;
using TZAOnDiskFullEvent = std::function<void(TZABaseArchiver* Sender, std::int32_t VolumeNumber,
                                              const std::u16string& VolumeFileName, bool& Cancel)>;
using TZAOnStoreFileEvent = std::function<void(TZABaseArchiver* Sender, std::u16string& FileName,
                                               std::uint32_t& FileAttr, std::string& Comment,
                                               const std::u16string& OriginalFileName)>;
// The new archive of a commit, complete in its temporary file, before it
// takes the old one's place: a handler may read it through `NewArchive`
// and refuse it, and the old archive then stays as it was (the commit
// ends as a cancelled one does). Not raised for split or spanned archives.
using TZAVerifyNewArchiveEvent =
    std::function<void(TZABaseArchiver* Sender, TZAStream& NewArchive, bool& Accept)>;
using TZAOnExtractFileEvent = std::function<void(TZABaseArchiver* Sender, std::u16string& FileName,
                                                 std::uint32_t& FileAttr, const std::string& Comment)>;
using TZAExtractNoticeEvent = std::function<void(TZABaseArchiver* Sender, const std::u16string& FileName,
                                                  TZAExtractNotice Notice, const std::u16string& Detail,
                                                  std::int32_t SystemError)>;
using TZAFileExtractedEvent = std::function<void(TZABaseArchiver* Sender, const std::u16string& FileName,
                                                 std::uint64_t Size, const TZASha256::Digest& Digest)>;

// Open modes of the component.
constexpr std::uint16_t kZAModeCreate = 0xFFFF;
constexpr std::uint16_t kZAModeReadWrite = fmOpenReadWrite | fmShareDenyWrite;  // 0x22
constexpr std::uint16_t kZAModeReadOnly = fmOpenRead | fmShareDenyNone;         // 0x40

class TZABaseArchiver {
 public:
  TZABaseArchiver();
  virtual ~TZABaseArchiver();
  TZABaseArchiver(const TZABaseArchiver&) = delete;
  TZABaseArchiver& operator=(const TZABaseArchiver&) = delete;

  // The component name (the name given on a form); prefixes messages.
  const std::u16string& Name() const { return name_; }
  void SetName(std::u16string_view name) { name_ = name; }

  // ---- published properties, in declaration order
  bool ExtractCorruptedFiles() const { return extractCorruptedFiles_; }
  void SetExtractCorruptedFiles(bool value) { extractCorruptedFiles_ = value; }
  TZACompressionLevel CompressionLevel() const { return compressionLevel_; }
  void SetCompressionLevel(TZACompressionLevel level);
  std::uint8_t CompressionMode() const { return compressionMode_; }
  void SetCompressionMode(std::uint8_t mode);  // above 9: native error 5
  std::u16string CurrentVersion() const;       // "5.01 "
  void SetCurrentVersion(std::u16string_view) {}  // accepted and ignored
  const std::string& Password() const { return password_; }
  virtual void SetPassword(std::string_view password) { password_ = password; }
  const std::u16string& FileName() const { return fileName_; }
  void SetFileName(std::u16string_view name) { fileName_ = name; }
  const std::u16string& BaseDir() const { return baseDir_; }
  void SetBaseDir(std::u16string_view dir) { baseDir_ = dir; }
  const std::u16string& TempDir() const { return tempDir_; }
  void SetTempDir(std::u16string_view dir) { tempDir_ = dir; }
  TZASpanningMode SpanningMode() const { return spanningMode_; }
  void SetSpanningMode(TZASpanningMode mode);  // refused while open
  TZASpanningOptions& SpanningOptions() { return spanningOptions_; }
  const TZASpanningOptions& SpanningOptions() const { return spanningOptions_; }
  const std::u16string& SFXStub() const { return sfxStub_; }
  void SetSFXStub(std::u16string_view stub) { sfxStub_ = stub; }
  TZAOptions& Options() { return options_; }
  TZAFidelity& Fidelity() { return fidelity_; }
  const TZAFidelity& Fidelity() const { return fidelity_; }
  const TZAOptions& Options() const { return options_; }
  const TZAWideStrings& FileMasks() const { return fileMasks_; }
  void SetFileMasks(const TZAWideStrings& masks) { fileMasks_ = masks; }
  const TZAWideStrings& ExclusionMasks() const { return exclusionMasks_; }
  void SetExclusionMasks(const TZAWideStrings& masks) { exclusionMasks_ = masks; }
  const TZAWideStrings& NoCompressionMasks() const { return noCompressionMasks_; }
  void SetNoCompressionMasks(const TZAWideStrings& masks) { noCompressionMasks_ = masks; }
  bool InMemory() const { return inMemory_; }
  void SetInMemory(bool value);

  TZAFileProgressEvent OnFileProgress;
  TZAProgressEvent OnOverallProgress;
  TZACopyTempFileProgressEvent OnCopyTempFileProgress;
  TZAConfirmOverwriteEvent OnConfirmOverwrite;
  TZAConfirmProcessFileEvent OnConfirmProcessFile;
  TNotifyEvent AfterOpen;
  TZAOnPasswordEvent OnPassword;
  TZAProcessFileFailureEvent OnProcessFileFailure;
  TZAOnRequestBlankVolumeEvent OnRequestBlankVolume;
  TZAOnRequestFirstVolumeEvent OnRequestFirstVolume;
  TZAOnRequestLastVolumeEvent OnRequestLastVolume;
  TZAOnRequestMiddleVolumeEvent OnRequestMiddleVolume;
  TZAOnDiskFullEvent OnDiskFull;
  // A handler that empties FileName leaves that file out.
  TZAOnStoreFileEvent OnStoreFile;
  TZAOnExtractFileEvent OnExtractFile;
  TZAVerifyNewArchiveEvent OnVerifyNewArchive;
  // After an entry has been written in full to the file `FileName`: its
  // size and the SHA-256 of the decoded bytes, so that the caller can tell
  // later that the file still holds them. Hashing is done only while a
  // handler is assigned.
  TZAFileExtractedEvent OnFileExtracted;
  // Extraction did otherwise than asked for the entry `FileName`, which
  // was written all the same; `Detail` is a link's text.
  TZAExtractNoticeEvent OnExtractNotice;

  // Sets a published property from the text of a stored window description
  // ("Options.OEMFileNames" = "True", "CompressionLevel" = "clFastest", ...).
  // False when the name is unknown or the value does not fit.
  bool SetPublishedProperty(std::string_view name, std::string_view value);

  // ---- operations
  void OpenArchive();                     // chooses the mode from the file
  void OpenArchive(std::uint16_t mode);   // kZAModeCreate, kZAModeReadWrite, kZAModeReadOnly, ...
  // An archive in a stream that stays the caller's: read it, or start a new
  // empty one in it when `create` is set.
  void OpenArchive(TZAStream& stream, bool create = false);
  void CloseArchive();

  // Extracts every entry that the mask selects into BaseDir (the current
  // folder when BaseDir is empty); per-entry failures go to
  // OnProcessFileFailure. Without arguments: the entries that match any of
  // FileMasks and none of ExclusionMasks, with Options.SearchAttr.
  void ExtractFiles(std::u16string_view fileMask, std::int32_t searchAttr, std::u16string_view exclusionMask);
  void ExtractFiles();
  // Decodes the selected entries into nothing, checking sizes and CRC-32.
  void TestFiles(std::u16string_view fileMask, std::int32_t searchAttr, std::u16string_view exclusionMask);
  void TestFiles();
  bool FindFirst(std::u16string_view fileMask, TZAArchiveItem& rec, std::u16string_view exclusionMask,
                 std::int32_t searchAttr);
  bool FindNext(TZAArchiveItem& rec);
  // The indexes of the entries FindFirst and FindNext find, in their order,
  // without filling a record for each (for a tool selecting among many).
  std::vector<std::int32_t> FindIndexes(std::u16string_view fileMask, std::u16string_view exclusionMask,
                                        std::int32_t searchAttr);
  // How many entries FindIndexes finds, with no list of them.
  std::int32_t CountFound(std::u16string_view fileMask, std::u16string_view exclusionMask, std::int32_t searchAttr);
  // Decodes entry `index` into `stream`; native error 16 for a bad index,
  // 8 when the entry does not decode (unless ExtractCorruptedFiles). Called
  // on its own, it raises the progress events as for a batch of one entry.
  void ExtractItemToStream(std::int32_t index, TZAStream& stream);
  // True when the entry decoded last was written although it failed its
  // check, as ExtractCorruptedFiles lets it be: the caller can name it.
  bool LastEntryDamaged() const { return lastEntryDamaged_; }
  // The entry an extraction or test batch is at, by its index; -1 outside
  // one. A handler of the batch's events then need not find the entry by
  // the name the event gives, among a million.
  std::int32_t BatchEntry() const { return batchEntry_; }
  // Off by default: a read error of the archive stream (a local header past
  // the end of the archive) leaves the batch. On, it fails that entry alone,
  // reported to OnProcessFileFailure as native error 8 with the stream's
  // message, and the batch goes on with the next entry.
  bool ReadErrorFailsEntry() const { return readErrorFailsEntry_; }
  void SetReadErrorFailsEntry(bool value) { readErrorFailsEntry_ = value; }
  // Loads only the entries whose stored name `keep` keeps (empty: all), for
  // a tool that wants a few named entries out of very many: the whole
  // central directory is still read and checked, and the directory
  // manager counts the others in EntriesLeftOut. Off by default; an
  // archive opened with it cannot be changed.
  void SetLoadFilter(std::function<bool(std::u16string_view name)> keep) { loadFilter_ = std::move(keep); }

  // ---- writing. Operations inside BeginUpdate/EndUpdate are collected and
  // written once, when the outermost EndUpdate commits them; outside a
  // transaction each operation commits by itself. A commit writes a new
  // archive and puts it in the place of the old one only once it is
  // complete: a failure leaves the old archive as it was.
  void BeginUpdate();
  void EndUpdate();
  // Files from disk by mask (a file, a folder or a pattern; relative to
  // BaseDir), with Options.Recurse and Options.StorePath. Update replaces
  // an entry only by a newer file; Move deletes the files once committed.
  void AddFiles(std::u16string_view fileMask, std::int32_t searchAttr = 10431, std::u16string_view exclusionMask = u"");
  void AddFiles();  // by FileMasks and ExclusionMasks
  void UpdateFiles(std::u16string_view fileMask, std::int32_t searchAttr = 10431,
                   std::u16string_view exclusionMask = u"");
  void MoveFiles(std::u16string_view fileMask, std::int32_t searchAttr = 10431,
                 std::u16string_view exclusionMask = u"");
  // An entry named `fileName` from a stream (read from its current position
  // at commit; the stream must live until then unless copied) or a buffer.
  void AddFromStream(std::u16string_view fileName, TZAStream& stream, bool copyToBuffer = true);
  void AddFromBuffer(std::u16string_view fileName, const void* data, std::size_t size);
  void DeleteFiles(std::u16string_view fileMask, std::int32_t searchAttr = 10431,
                   std::u16string_view exclusionMask = u"");
  // By index, inside a transaction only (native errors 21/22, 24/25).
  void DeleteItem(std::int32_t index);
  void RenameItem(std::int32_t index, std::u16string_view newName);
  void ChangeItemAttr(std::int32_t index, std::uint32_t attributes);
  void ChangeItemComment(std::int32_t index, std::string_view comment);
  // False when no entry has the old name or another already has the new one.
  bool RenameFile(std::u16string_view oldName, std::u16string_view newName);
  void ChangeFilesAttr(std::u16string_view fileMask, std::uint32_t attributes);
  void ChangeFilesComment(std::u16string_view fileMask, std::string_view comment);
  // A self-extractor: SFXStub followed by the archive's entries, written to
  // `sfxFileName` (the archive stays as it is). Native errors 17 (no stub),
  // 49 (a multi-volume archive), 50 (a stub is there already), 56.
  void MakeSFX(std::u16string_view sfxFileName);
  std::string ZipComment() const;
  void SetZipComment(std::string_view comment);
  // Names of new entries that the code page cannot hold exactly are
  // written as UTF-8 with flag bit 11, as other zip tools write them. Off
  // by default: names go into the OEM (or ANSI) code page, with the Unicode
  // name block while UnicodeFilenames is on.
  bool Utf8NamesOnWrite() const { return utf8NamesOnWrite_; }
  void SetUtf8NamesOnWrite(bool value) { utf8NamesOnWrite_ = value; }
  // New entries from files carry the file's Unix type and permission bits
  // in the high half of their external attributes, under the Unix host
  // byte, as zip writes them on Unix, where the system has them. Off by
  // default: entries carry Windows' attributes only.
  bool UnixModesOnWrite() const { return unixModesOnWrite_; }
  void SetUnixModesOnWrite(bool value) { unixModesOnWrite_ = value; }
  // A commit's new files are named this, eight hex digits and ".tmp" until
  // they take their place ("~za" by default); a tool gives its own so that
  // a later run can tell the leftovers of a killed one.
  const std::u16string& TempFilePrefix() const { return tempFilePrefix_; }
  void SetTempFilePrefix(std::u16string_view prefix) { tempFilePrefix_ = prefix; }
  // A new archive opened in create mode gets its file from its first
  // commit, which puts it in place whole, and none when nothing is
  // committed. Off by default: the file is made, empty, when it is opened.
  bool CreateOnCommit() const { return createOnCommit_; }
  void SetCreateOnCommit(bool value) { createOnCommit_ = value; }

  // Methods beyond stored and deflate, read and written (archive/methods.h):
  // Deflate64 is then decoded rather than refused. Null by default: the
  // setup program decodes stored and deflated entries only.
  const TZAMethods* ExtraMethods() const { return extraMethods_; }
  void SetExtraMethods(const TZAMethods* methods) { extraMethods_ = methods; }
  // The method that compressed new entries get: 8 (deflate) by default;
  // another needs an encoder among ExtraMethods, else they are deflated.
  std::uint16_t NewEntryMethod() const { return newEntryMethod_; }
  void SetNewEntryMethod(std::uint16_t method) { newEntryMethod_ = method; }
  // What the codec found wrong with the last entry that did not decode
  // (empty when it said nothing more).
  const TZACodecFault& LastDecodeFault() const { return decodeFault_; }

  // The dialogs that answer events without a handler (nullptr: the
  // process-wide default).
  void SetDialogs(TZAUserDialogs* dialogs) { dialogs_ = dialogs; }
  // Where the ciphers of encrypted entries come from (nullptr: the
  // built-in ones); a test may put a stand-in in place.
  void SetCipherFactory(TZAEntryCipherFactory factory) { cipherFactory_ = factory; }
  TZAUserDialogs& Dialogs() const { return dialogs_ ? *dialogs_ : ZADefaultDialogs(); }

  bool Active() const { return open_; }
  std::uint16_t OpenMode() const { return openMode_; }
  TZADirManager* DirManager() const { return dirManager_.get(); }
  TZAStream* ArchiveStream() const { return stream_.get(); }
  // Entries of the open archive (0 when none is open).
  std::int32_t Count() const { return open_ && dirManager_ ? dirManager_->Items.Count() : 0; }
  const TDirItem& Item(std::int32_t index) const;  // native error 2 out of range; 13 when not open
  std::int32_t UpdateLevel() const { return updateLevel_; }
  // The method new entries get: deflate unless the mode stores.
  std::uint16_t CompressionMethod() const { return compressionMode_ != 0 ? 8 : 0; }

  // Names whose general-purpose flag bit 11 is set are read as UTF-8 rather
  // than through the OEM and ANSI code pages, as other zip tools read them.
  // Off by default: the setup program reads every name through the code pages.
  bool Utf8FlagNames() const { return utf8FlagNames_; }
  void SetUtf8FlagNames(bool value) { utf8FlagNames_ = value; }
  // The end record may be followed by zero bytes its comment does not
  // account for, as an archive written to a pipe in blocks is. Off by
  // default: the setup program rebuilds the directory of such an archive.
  bool PaddedEndRecord() const { return paddedEndRecord_; }
  void SetPaddedEndRecord(bool value) { paddedEndRecord_ = value; }

  // Extraction makes the output files of the next entries ahead, on helper
  // threads, while the current one decodes: on many file systems creating
  // a file costs a small entry more than decoding it. Off by default: the
  // setup program extracts on its one thread.
  // Files are made ahead only while the machine leaves a processor free
  // for the helpers, unless `always`.
  bool OutputAhead() const { return outputAheadEnabled_; }
  void SetOutputAhead(bool value, bool always = false) {
    outputAheadEnabled_ = value;
    outputAheadAlways_ = value && always;
  }
  // Only entries of at least this many bytes (as declared, unpacked) have
  // their files made ahead; the smaller ones are made by the batch as it
  // reaches them. Where making a file costs about what writing a few KiB
  // does, a tiny entry leaves the batch nothing to do meanwhile, and handing
  // its file over costs more than making it. 0, the default: every entry.
  std::uint64_t OutputAheadFrom() const { return outputAheadFrom_; }
  void SetOutputAheadFrom(std::uint64_t bytes) { outputAheadFrom_ = bytes; }
  // Testing inflates and checks the next plain entries (not encrypted,
  // stored or deflated, not too large) on a helper thread while the
  // current one is reported; what the helper did not pass is decoded as
  // without it, so the outcome of every entry stays the same. Off by
  // default: the setup program tests on its one thread.
  bool TestAhead() const { return testAheadEnabled_; }
  void SetTestAhead(bool value) { testAheadEnabled_ = value; }
  // Extraction inflates the next small deflated entries on a helper thread
  // in the same way, keeping what came out for the batch to write; what
  // the helper did not pass is decoded as without it. Off by default, as
  // testing ahead is.
  bool ExtractAhead() const { return extractAheadEnabled_; }
  void SetExtractAhead(bool value) { extractAheadEnabled_ = value; }
  // Deflated entries in the clear are inflated by a faster inflater where
  // the build has one (x86-64 with ISA-L); whatever it does not pass is
  // inflated again by zlib, whose outcome, output and events stand. Off by
  // default: the setup program inflates with zlib alone.
  bool FastInflate() const { return fastInflate_; }
  void SetFastInflate(bool value) { fastInflate_ = value; }
  // The archive is read through a mapping where the system gives one:
  // stored data is checked and written from where it lies, without a copy,
  // up to a chunk per write. Off by default: the setup program reads its small payload as always.
  bool MappedReads() const { return mappedReads_; }
  void SetMappedReads(bool value) { mappedReads_ = value; }
  // An entry whose local header signature is not where the directory puts
  // it fails as damaged (dfLocalHeader), as unzip, 7z and bsdtar fail it,
  // rather than being decoded from whatever lies there. Off by default: the
  // setup program reads its payload as it always has.
  bool LocalHeadersChecked() const { return localHeadersChecked_; }
  void SetLocalHeadersChecked(bool value) { localHeadersChecked_ = value; }
  // New entries of up to 16 MiB are deflated by a faster compressor where
  // the build has one (libdeflate's at levels 1 to 4, our own above), faster
  // than zlib at the same level and no larger (the bytes written differ
  // from zlib's). Off by default: the setup program's archives stay as zlib
  // writes them.
  bool FastDeflate() const { return fastDeflate_; }
  void SetFastDeflate(bool value) { fastDeflate_ = value; }

  // Why the last entry of the running batch that could not be written
  // failed, beyond its native error: the system's error code (0 when none
  // is known), and whether its stored name was refused because it leaves
  // the destination. Reset when a batch starts.
  struct TZAOutputFailure {
    std::int32_t SystemError = 0;
    bool NameRefused = false;
  };
  const TZAOutputFailure& LastOutputFailure() const { return outputFailure_; }
  // Why the last entry that did not decode (or was written damaged) failed
  // its check: what came out against what the directory declares.
  struct TZADecodeFailure {
    enum TKind { dfNone, dfData, dfSize, dfCrc, dfOverlap, dfLocalHeader } Kind = dfNone;
    std::uint64_t Produced = 0, Declared = 0;
    std::uint64_t LocalOffset = 0;  // dfLocalHeader: where the directory puts the header
    std::uint32_t Crc32 = 0, DeclaredCrc32 = 0;
  };
  const TZADecodeFailure& LastDecodeFailure() const { return decodeFailure_; }

  // The repair switch: on from construction; lets opening go on with a
  // damaged directory.
  bool RepairEnabled() const { return repair_; }
  void SetRepairEnabled(bool value) { repair_ = value; }
  // Whether the open archive is read volume by volume (split files or
  // spanned disks); pieces of one archive cut at arbitrary bytes are read as
  // one stream and are not.
  bool MultiVolume() const { return volumes_ != nullptr; }
  // The number of the last volume of the open archive (0 for one file).
  std::int32_t LastVolume() const { return volumes_ ? volumes_->LastVolume() : 0; }
  // Makes volume `number` the current one of the archive stream, asking for
  // it (the request events) when it is not the one open; a refusal raises
  // native error 45. The archive stream is returned.
  virtual TZAStream* SwitchVolume(std::int32_t number);

  // What the writing side may see and change of the component's state
  // (archive/src/write_state.h).
  class TZAWriteState;

 protected:
  void ReleaseArchive();
  void OpenExisting(std::uint16_t mode);
  // The volume probe: leaves stream_ and a directory manager over it on the
  // volume with the end record; false when no end record was found.
  bool ProbeVolumes(std::uint16_t mode);
  bool ProbeSplit(std::u16string lastName, std::unique_ptr<TZAStream> lastVolume);
  bool ProbeSpanned(std::unique_ptr<TZAStream> inserted);
  bool ProbeNumbered(const std::u16string& stem, std::uint32_t named);
  // A directory manager over stream_ and its end record: whether there is
  // one, and the last volume it names.
  bool CheckEnd(std::int32_t& lastVolume);
  // A directory manager over stream_, told the options that bear on
  // loading as they are now.
  std::unique_ptr<TZADirManager> MakeDirManager(bool createMode, bool customStream);
  TZADirOptions DirOptions() const;
  // stream_ becomes `stream`, owned, in place of the one before and its
  // directory manager; TakeStream hands stream_ over instead.
  void AdoptStream(std::unique_ptr<TZAStream> stream);
  std::unique_ptr<TZAStream> TakeStream();
  // stream_ becomes a volume stream whose current volume is `current`.
  void UseVolumes(std::unique_ptr<TZAStream> current, std::int32_t volume, std::int32_t lastVolume);
  std::unique_ptr<TZAStream> RequestVolume(std::int32_t number, bool last);
  std::u16string VolumeFileName(std::int32_t number, bool last) const;
  // The default answer to a volume request of a spanned archive.
  bool AskForDisk(std::int32_t number, bool last, const std::u16string& fileName, bool again);
  // Where the volumes' files come from; a test or a program may keep them
  // elsewhere.
  virtual bool VolumeExists(const std::u16string& fileName);
  virtual std::unique_ptr<TZAStream> OpenVolume(const std::u16string& fileName, std::uint16_t mode);
  virtual bool OnRemovableMedia(const std::u16string& fileName);
  void CheckReadyForOperation() const;
  void SelectByMask(std::u16string_view fileMask, std::int32_t searchAttr, std::u16string_view exclusionMask);
  template <class F>
  void ForEachFound(std::u16string_view fileMask, std::u16string_view exclusionMask, std::int32_t searchAttr, F&& f);
  void SelectByMaskLists();
  // When `fileMask` takes every name: the selection made by it alone, the
  // clearing of the one before in the same walk. False when it does not;
  // `every` tells whether it took every entry.
  bool SelectOnlyByEveryName(std::u16string_view fileMask, std::int32_t searchAttr, std::u16string_view exclusionMask,
                             bool& every);
  // Selects by the mask (by the mask lists when there is none) and runs the
  // per-entry loop.
  void RunOperation(TZAProcessOperation operation, const std::u16string_view* mask, std::int32_t searchAttr,
                    std::u16string_view exclusionMask);
  bool SearchStep(TZAArchiveItem& rec);
  // The search without its record: false when the mask selects nothing;
  // the index of the next hit from s.Index on (-1 when none).
  bool StartSearch(std::u16string_view fileMask, TInternalSearchRec& s, std::u16string_view exclusionMask,
                   std::int32_t searchAttr);
  std::int32_t SearchFrom(TInternalSearchRec& s);
  bool TakesEveryName(const TInternalSearchRec& s) const;
  // `everyEntry`: every entry is selected, in the directory's order.
  void ProcessFiles(TZAProcessOperation operation, bool everyEntry = false);
  // One entry of the batch, from its confirmation to its last report.
  void ProcessEntry(std::int32_t index, const std::u16string& fileName, TZAProcessOperation operation,
                    TZADecodeAhead* decodeAhead, const std::vector<std::int32_t>& selected);
  void ExtractItem(std::int32_t index, std::u16string fileName, std::u16string destDir);
  // Whether the file at `path` may be replaced by the entry, as the
  // overwrite mode (or the user) decides; `path` may be changed.
  bool MayReplace(const TDirItem& item, const std::u16string& fileName, std::u16string& path);
  TZAAction DefaultFailureAnswer(const EZAException& e);
  bool ConfirmOverwrite(const std::u16string& fileName, std::u16string& path);
  std::unique_ptr<TZAOutputAhead> MakeOutputAhead(const std::vector<std::int32_t>& order);
  // Whether the header found for an entry is none, where that is checked.
  bool LocalHeaderMissing(const TZAEntrySpan& span, const TDirItem& entry) const;
  // The selected entries in the order the batch takes them: links last
  // when the batch makes them (extract_fidelity.cpp, as the two below).
  std::vector<std::int32_t> BatchOrder();
  // Makes the link entry `index` at `path`; false when it is to be written
  // as a file holding its text instead (the caller was told why).
  bool ExtractLink(std::int32_t index, const std::u16string& fileName, const std::u16string& path,
                   const std::u16string& destDir);
  // The access time that only the local header of entry `index` keeps,
  // when exact times are asked for; read where the archive is at hand
  // (never a volume to be asked for).
  std::optional<sys::FileTime> LocalAccessTime(std::int32_t index);
  // The owner of the file or link `path` just written for `item`.
  void FinishOutput(const TDirItem& item, const std::u16string& fileName, const std::u16string& path);
  // Reads the data of the selected entries after the `ordinal`-th for the
  // helper, as far as it takes them; `keep` for extraction.
  void ReadAhead(TZADecodeAhead& ahead, const std::vector<std::int32_t>& selected, std::size_t ordinal, bool keep);
  // Whether ReadAhead would hand entry `index` to the helper.
  bool WorthAheadAt(std::int32_t index, bool keep);
  // Sets up what DecodeItem does for an entry decoded elsewhere and gives
  // its first report; true when that report cancels.
  bool CancelledBeforeDecoding(std::int32_t index);
  // Whether the entry passed on the helper; then it is reported as decoded.
  bool PassedAhead(TZADecodeAhead& ahead, std::size_t ordinal, std::int32_t index);
  // Whether the entry decoded on the helper; then its output is written to
  // `dest` and reported as DecodeItem would.
  bool WriteDecodedAhead(TZADecodeAhead& ahead, std::size_t ordinal, std::int32_t index, TZAStream& dest);
  // Decoding of one entry: ExtractItemToStream within a batch. True when
  // the password question was answered by skipping the entry.
  bool DecodeItem(std::int32_t index, TZAStream& stream);
  TZADecodeVerdict DecodeEntry(TZAStream& archive, TZAStream& dest, std::int32_t index);
  // Asks for the password until the cipher accepts it; false when the
  // answer skips the entry.
  bool PasswordAccepted(TZAStream& archive, TZAEntryCipher& cipher, const LocalFileHeader& local,
                        const TDirItem& entry);
  bool WriteOutput(TZAStream& dest, const std::uint8_t* buffer, std::size_t count);
  // The batch's progress report for the entry being decoded; true when it
  // cancels.
  bool RaiseDecodeProgress(std::uint64_t produced);
  class BatchSink;
  TZADecoder& Decoder();
  std::unique_ptr<TZAEntryCipher> MakeCipher(TZACryptoAlgorithm algorithm) const;
  // Where each entry's data lies in the open archive, with every check a
  // reader of it needs (the decoder's, reading ahead's and a commit's).
  TZAEntryReader& EntryReader();

  // Writes the pending changes; see commit.cpp.
  // False when the new archive did not take the old one's place (cancelled,
  // refused, or a failure answered with abort).
  bool CommitUpdate();
  // Reads the directory of the archive stream again (an empty stream is a
  // new archive).
  void ReloadDirectory();
  void CheckWritable() const;

  TZip64Mode zip64Mode_ = zmAuto;
  bool unicodeFilenames_ = true;
  TZACryptoAlgorithm encryptionMethod_ = caPkzipClassic;
  bool useEncryptionMethod_ = false;

 private:
  std::u16string name_;
  bool extractCorruptedFiles_ = false;
  bool lastEntryDamaged_ = false;
  bool readErrorFailsEntry_ = false;
  std::function<bool(std::u16string_view)> loadFilter_;
  TZACompressionLevel compressionLevel_ = clFastest;
  std::uint8_t compressionMode_ = 1;
  std::string password_;
  std::u16string fileName_, baseDir_, tempDir_, sfxStub_;
  TZASpanningMode spanningMode_ = smNone;
  TZASpanningOptions spanningOptions_;
  TZAOptions options_;
  TZAFidelity fidelity_;
  TZAWideStrings fileMasks_, exclusionMasks_, noCompressionMasks_;
  bool inMemory_ = false;
  bool utf8FlagNames_ = false;
  bool paddedEndRecord_ = false;
  bool utf8NamesOnWrite_ = false;
  bool unixModesOnWrite_ = false;
  bool createOnCommit_ = false;
  std::u16string tempFilePrefix_ = u"~za";
  // The transaction: whether anything changed, the operation it began
  // with, and the files a move deletes once committed.
  bool updatePending_ = false;
  TZAProcessOperation updateOperation_ = poAdd;
  std::vector<std::u16string> moveSources_;
  bool outputAheadEnabled_ = false;
  bool outputAheadAlways_ = false;
  std::uint64_t outputAheadFrom_ = 0;
  bool testAheadEnabled_ = false;
  bool extractAheadEnabled_ = false;
  bool fastInflate_ = false;
  bool mappedReads_ = false;
  bool localHeadersChecked_ = false;
  bool fastDeflate_ = false;
  TZAOutputAhead* outputAhead_ = nullptr;  // of the running batch
  TZAFidelityBatch* fidelityBatch_ = nullptr;  // of the running extraction
  TZADecodeAhead* decodeAhead_ = nullptr;  // of the running extraction
  std::size_t entryOrdinal_ = 0;           // of the entry the batch is at, among the selected
  std::int32_t batchEntry_ = -1;           // its index
  TZAOutputFailure outputFailure_;
  TZADecodeFailure decodeFailure_;

  bool open_ = false;
  std::uint16_t openMode_ = 0;
  TZAHeldStream stream_;  // the caller's when opened on a stream
  std::unique_ptr<TZADirManager> dirManager_;
  std::int32_t updateLevel_ = 0;
  bool repair_ = true;
  // How the volumes of the open archive are named, and the stream that
  // reads them one at a time (stream_ itself, or null).
  enum class VolumeNames { Spanned, Split, Numbered } volumeNames_ = VolumeNames::Spanned;
  std::u16string volumeBase_;  // the last volume's name (Split) or the stem (Numbered)
  TZAVolumeStream* volumes_ = nullptr;
  TZAUserDialogs* dialogs_ = nullptr;
  TZAEntryCipherFactory cipherFactory_ = nullptr;
  const TZAMethods* extraMethods_ = nullptr;
  std::uint16_t newEntryMethod_ = 8;
  TZACodecFault decodeFault_;

  // The running operation.
  bool cancel_ = false;
  bool progressEnabled_ = false;
  bool inBatch_ = false;
  std::int32_t selectedCount_ = 0;
  std::int32_t processedCount_ = 0;
  // What extraction wrote to the current file, while OnFileExtracted wants it.
  TZASha256* outputHash_ = nullptr;
  std::uint64_t outputHashed_ = 0;
  std::uint64_t expectedSize_ = 2;
  TZAProcessOperation operation_ = poExtract;
  std::u16string currentFileName_;
  std::u16string cachedCurrentDir_;
  // Within one operation: folders made or found, and no link on the way.
  std::unordered_set<std::u16string> foldersReady_;
  // The decoder, its buffers kept between entries of a batch.
  std::unique_ptr<TZADecoder> decoder_;
  std::unique_ptr<TZAEntryReader> entryReader_;
};

// The process-wide engine lock that every batch of entries holds.
std::recursive_mutex& ZAEngineLock();

class TZipArchiver : public TZABaseArchiver {
 public:
  TZipArchiver();
  TZip64Mode Zip64Mode() const { return zip64Mode_; }
  void SetZip64Mode(TZip64Mode mode) { zip64Mode_ = mode; }
  bool UnicodeFilenames() const { return unicodeFilenames_; }
  void SetUnicodeFilenames(bool value) { unicodeFilenames_ = value; }
  TZACryptoAlgorithm EncryptionMethod() const { return encryptionMethod_; }
  void SetEncryptionMethod(TZACryptoAlgorithm method) { encryptionMethod_ = method; }
  void SetPassword(std::string_view password) override;
};

// The property values stored for ZipArchiver1 in the window description
//, in the order they are applied, and a helper that names the
// component and applies them.
struct TZAStoredProperty {
  const char* Name;
  const char* Value;
};
extern const TZAStoredProperty kZipArchiver1StoredProperties[];
extern const std::size_t kZipArchiver1StoredPropertyCount;
void ApplyZipArchiver1StoredProperties(TZipArchiver& archiver);

// The text after the last backslash, slash or colon.
std::u16string_view ZAFileNamePart(std::u16string_view path);

}  // namespace za
