#pragma once
// The entry writer: one header planner for every entry a commit writes
// (made-by, version needed, flags, the Zip64 plan, the blocks both headers
// carry, the local header), and the three ways an entry's data gets into
// the new archive: copied as the old archive stores it, encoded from its
// source, or written as a helper thread compressed it ahead.
#include <cstdint>
#include <string>
#include <vector>

#include "archive/dir_manager.h"
#include "archive/items.h"
#include "archive/methods.h"
#include "archive/records.h"
#include "archive/types.h"
#include "archive/writer.h"
#include "compress_ahead.h"
#include "entry_reader.h"

namespace za {

class TZABaseArchiver;

// An entry as the central directory will hold it.
struct TZAPlannedEntry {
  CentralDirectoryHeader Header;
  std::string Name;
  std::vector<std::uint8_t> Extra;
  std::string Comment;
};

// How entries are written: the component's settings for the commit.
struct TZAWriteSettings {
  TZip64Mode Zip64 = zmAuto;
  bool OemNames = true;           // Options.OEMFileNames: else the ANSI code page
  bool UnicodeNameBlocks = true;  // UnicodeFilenames
  bool Utf8Names = false;         // Utf8NamesOnWrite
  bool Utf8FlagNames = false;     // names were read as UTF-8 by flag bit 11
  bool UnixModes = false;         // UnixModesOnWrite
  bool Zip64MadeByVersion = false;  // Fidelity().Zip64MadeByVersion
  const TZAMethods* Methods = nullptr;  // ExtraMethods
  std::uint16_t Method = 8;             // NewEntryMethod
  bool FastDeflate = false;             // FastDeflate
};

// Hears where each local header begins and how long it is: volumes cut
// between records start a new volume where one would not fit.
class TZARecordSink {
 public:
  virtual ~TZARecordSink() = default;
  virtual void BeginRecord(std::uint64_t at, std::uint64_t size) = 0;
};

class TZAEntryWriter {
 public:
  // `owner` names the component in messages.
  TZAEntryWriter(const TZABaseArchiver& owner, const TZAWriteSettings& settings)
      : owner_(owner), settings_(settings) {}

  // Local headers from now on are announced to `records` (null: to none).
  void AnnounceRecords(TZARecordSink* records) { records_ = records; }

  // The made-by of the end records and of entries without a Unix mode.
  std::uint16_t MadeBy() const { return settings_.OemNames ? 20 : 0x0B14; }

  // Each writes the entry at the output's position and plans its central
  // header into `entry`; the size of the local header is returned.
  // An old entry of `dir` from the old archive `old`, its data found by
  // `reader`; an entry whose data the directory does not account for is
  // refused as corrupted.
  std::uint32_t CopyOld(TZAOutput& out, TZAStream& old, TZAEntryReader& reader, const TZADirManager& dir,
                        const TDirItem& item, TZAPlannedEntry& entry) const;
  // From `source` (null for a folder), read from its position to its end;
  // 0 when `progress` stopped it (the caller drops what was written).
  std::uint32_t WriteNew(TZAOutput& out, TDirItem& item, TZAStream* source, const std::u16string& shown,
                         TZAEncodeProgress progress, void* context, TZAPlannedEntry& entry) const;
  std::uint32_t WritePrepared(TZAOutput& out, TDirItem& item, const TZACompressAhead::Result& result,
                              const std::u16string& shown, TZAPlannedEntry& entry) const;

 private:
  std::uint16_t MadeBy(const CentralDirectoryHeader& h) const;
  // The central header of a new entry: made-by, version needed, flags.
  CentralDirectoryHeader NewHeader(const TDirItem& item, std::uint16_t needed) const;
  std::string EncodeName(const std::u16string& name, std::uint16_t& flags, bool isNew, std::uint16_t madeBy) const;
  // `centralOfNew`: for the central header of a new entry, whose blocks
  // are kept as its local header has them.
  void AddCommonBlocks(TZAExtraWriter& extra, const TZAExtraFields* kept, const std::u16string& name,
                       std::uint16_t flags, bool centralOfNew = false) const;
  void Plan(TZAPlannedEntry& entry, const TDirItem& item, CentralDirectoryHeader h, std::uint64_t offset,
            std::uint64_t packed, std::uint64_t unpacked, const TZAExtraFields* kept,
            const std::u16string& shown) const;
  LocalFileHeader Local(const CentralDirectoryHeader& h, const std::string& name, bool zip64, std::uint64_t packed,
                        std::uint64_t unpacked, const std::vector<std::uint8_t>& tail,
                        std::vector<std::uint8_t>& extra) const;
  // The planner: both headers of an entry at the output's position with
  // the sizes planned for the central one and those the local one says
  // now, the local one written. `central` and `kept` are the blocks each
  // header keeps; `tail` gets the local header's blocks
  // beyond Zip64, `extra` its whole extra field.
  struct TZAEntrySizes {
    std::uint64_t Packed = 0, Unpacked = 0;
  };
  std::uint32_t PutHeaders(TZAOutput& out, TZAPlannedEntry& entry, const TDirItem& item,
                           const CentralDirectoryHeader& h, TZAEntrySizes planned, TZAEntrySizes local,
                           bool localZip64, const TZAExtraFields* central, const TZAExtraFields* kept,
                           const std::u16string& shown, std::vector<std::uint8_t>& tail,
                           std::vector<std::uint8_t>& extra) const;

  const TZABaseArchiver& owner_;
  TZAWriteSettings settings_;
  TZARecordSink* records_ = nullptr;
};

}  // namespace za
