#pragma once
// Directory loading: TZADirManager finds the end of the central
// directory, follows the Zip64 end structures, reads every central header
// into its TZADirArray, detects a prefix (a self-extractor stub) and, when
// the directory cannot be read, rebuilds it from the local headers.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/items.h"
#include "archive/records.h"
#include "archive/types.h"

namespace za {

class TZAStream;

// Whether the local headers of the entries with data come in the order of
// the directory, each after the one before, as an archive written in one go
// has them: the loader finds it as it reads the headers, so that no reader
// walks a million entries again to learn it. Keys as the entry reader makes
// them: by offset alone, and by volume and offset.
struct TZAHeaderOrder {
  bool Known = false;
  bool ByOffset = true, ByVolume = true;
  std::uint64_t Changes = 0;  // of the entries it holds for (TZADirArray::Changes)
  std::uint64_t LastOffset = 0, LastVolume = 0;
  bool Any = false;
  void Take(std::uint64_t offsetKey, std::uint64_t volumeKey) {
    if (Any) {
      ByOffset = ByOffset && offsetKey > LastOffset;
      ByVolume = ByVolume && volumeKey > LastVolume;
    }
    LastOffset = offsetKey;
    LastVolume = volumeKey;
    Any = true;
  }
};

// What the loader is told by the component that opens the archive; the
// defaults are the setup program's.
struct TZADirOptions {
  bool OemNames = true;         // names without flag bit 11 are in the OEM code page
  bool Utf8FlagNames = false;   // names with flag bit 11 are UTF-8
  bool PaddedEndRecord = false;  // zero bytes may follow the end record
  bool Repair = true;           // a damaged directory is rebuilt from the local headers
  bool MultiVolume = false;     // the archive is read volume by volume
  // Of the central directory's entries only those whose name this keeps
  // are loaded (every header is still read and checked); empty: all.
  std::function<bool(std::u16string_view name)> KeepEntry;
};

// Makes volume `number` the current one of the archive stream and returns
// the stream (a refusal raises native error 45).
using TZAVolumeSwitch = std::function<TZAStream*(std::int32_t number)>;

struct TZAVolumeNumberInfo {
  enum Kind : std::uint8_t { vnFirst, vnLast, vnNumbered, vnUndetermined };
  Kind VolumeKind = vnUndetermined;
  std::int32_t VolumeNumber = -1;
  std::int32_t LastVolumeNumber = -1;
};

class TZADirManager {
 public:
  // `switchVolume` is asked for the volume that holds the directory when
  // the archive is read volume by volume.
  TZADirManager(TZAStream* archiveStream, const TZADirOptions& options, bool createMode, bool isCustomStream = false,
                TZAVolumeSwitch switchVolume = {});

  void LoadDirectory();
  bool CheckEndRecord();
  // The number of the last volume as the end record found by CheckEndRecord
  // gives it (from the Zip64 locator when the record holds 0xFFFF); 0 for
  // an archive in one file or when no end record was found.
  std::int32_t EndRecordLastVolume();
  // Backward search of the record with `signature` that ends, with its
  // comment, exactly at the end of the stream.
  bool FindEndRecord(std::uint32_t signature, std::int64_t& position, EndOfCentralDirectory& record,
                     std::string& comment);
  void RebuildFromLocalHeaders();
  void DetectPrefix(std::int64_t position);
  void ApplyPrefixOffset();
  // Forward searches; -1 when there is none. The stream position stays.
  std::int64_t SearchSignature(std::uint32_t signature, std::int64_t from);
  std::int64_t FindLocalHeader(std::int64_t from);
  bool FindDataDescriptor(std::int64_t from, DataDescriptor& descriptor);
  void ResetEndRecord();

  TZAStream* ArchiveStream;
  bool CreateMode;
  bool IsCustomStream;
  TZADirOptions Options;
  TZAVolumeSwitch SwitchVolume;
  TZADirArray SavedItems;
  TZADirArray Items;
  std::string ZipComment;
  Zip64EndOfCentralDirectoryLocator Zip64Locator;
  Zip64EndOfCentralDirectory Zip64EndRecord;
  EndOfCentralDirectory EndRecord;
  std::int64_t PrefixLength = 0;
  bool HasZip64End = false;
  std::int64_t DirectoryStart = 0;
  TZAVolumeNumberInfo VolumeInfo;
  bool Modified = false;  // the further flag member; unused by reading
  // Entries of the central directory that Options.KeepEntry left out.
  std::uint32_t EntriesLeftOut = 0;
  // Whether the last LoadDirectory had to rebuild from local headers.
  bool Rebuilt = false;
  // As the last LoadDirectory found the local headers; holds while the
  // entries' Changes are those it names.
  TZAHeaderOrder HeaderOrder;
  // Where CheckEndRecord found the end record (-1: nowhere).
  std::int64_t EndRecordPosition = -1;
  // Local headers the rebuild passed over although their name could be read,
  // because their data cannot lie in the archive (cut off by its end): the
  // names, decoded as an entry's would be. Nothing else reads it.
  std::vector<std::u16string> RebuildDropped;

 private:
  bool Spanning() const;
  // One entry's name rule and block walk over bytes in memory.
  // `madeBy` is the central header's VersionMadeBy (0 where only a local
  // header is known).
  void DecodeStoredName(std::int32_t index, const std::uint8_t* name, std::size_t length, std::uint16_t flags,
                        std::uint16_t madeBy = 0);
  // Whether the stored bytes of a name are its units whatever the flags
  // and the code page say.
  bool ReadsAsItsBytes(const std::uint8_t* name, std::size_t length) const;
  void DecodeName(const std::uint8_t* name, std::size_t length, std::uint16_t flags,
                  std::uint16_t madeBy = 0);  // into wideName_
  void WalkExtraField(std::int32_t index, const std::uint8_t* extra, std::size_t length);
  void ReadCentralDirectory(std::int64_t start, std::uint32_t count);
  std::int64_t ScanForward(std::uint32_t signature, std::int64_t from);
  bool ReadAt(std::int64_t position, void* buffer, std::size_t count);
  // Zip64EndRecord from the bytes at `position`; false when they cannot be read.
  bool ReadZip64EndRecord(std::int64_t position);
  // The Zip64 locator and end record in front of the end record at `p`;
  // `p` becomes where the end structures begin.
  void FindZip64End(std::int64_t& p);
  // Where the central directory starts and how many headers it holds; false
  // when the count cannot fit the bytes in front of the end structures at
  // `p` (or, spread over volumes, the directory's stated size).
  bool LocateDirectory(std::int64_t p, std::int64_t& start, std::uint64_t& count);

  // Names from Unix without the UTF-8 flag are read as UTF-8 only when
  // all of them are well-formed UTF-8: one archive, one encoding. The
  // entries read so far as UTF-8 on that guess, and whether a name has
  // proved it wrong.
  void ReadGuessesThroughCodePages();
  enum class NameGuess { None, Utf8, NotUtf8 } lastGuess_ = NameGuess::None;
  std::vector<std::int32_t> guessedUtf8_;
  bool notUtf8_ = false;

  // Whether the code pages the names are read through give printable ASCII
  // back as it is (asked once a load): such names then need no conversion.
  bool PrintableAsciiKept();
  bool printableKept_ = false;
  std::vector<char> nameBuffer_;
  std::u16string wideName_;
  // Cached block of the forward searches.
  std::vector<std::uint8_t> scan_;
  std::int64_t scanStart_ = -1;
};

}  // namespace za
