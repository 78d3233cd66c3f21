// Opens an archive from memory, walks every item as a lister would, then
// tests every entry into nothing, on one thread and with entries checked
// ahead, which must agree. Encrypted seeds are made with the password
// set here, so decryption, the AES code and the CRC checks get inputs that
// pass the password check; a rejected password skips the entry.
//
// The last byte also picks whether the input is one archive or, without
// that byte, is cut into volumes (of 32 to 512 bytes, the last one taking
// what is left): a split set named in either scheme, or the disks of a
// spanned set swapped in one drive as the boxes ask, so the volume probe,
// the directory spread over volumes and reads that run on into the next
// volume get the same inputs.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "archive/archiver.h"
#include "archive/time_blocks.h"

namespace {

class FuzzVolumes : public za::TZipArchiver {
 public:
  std::map<std::u16string, std::pair<const std::uint8_t*, std::size_t>> files;

 protected:
  bool VolumeExists(const std::u16string& name) override { return files.count(name) != 0; }
  std::unique_ptr<za::TZAStream> OpenVolume(const std::u16string& name, std::uint16_t) override {
    auto it = files.find(name);
    if (it == files.end()) throw za::EFOpenError(u"Cannot open file");
    return std::make_unique<za::TZABufferStream>(it->second.first, it->second.second);
  }
  bool OnRemovableMedia(const std::u16string&) override { return removable; }

 public:
  bool removable = false;
};

const char16_t kDrive[] = u"A:\\f.zip";

// One drive, one disk in it at a time: each box puts in the disk it asks
// for, or is cancelled when there is no such disk.
class FuzzDrive : public za::TZAUserDialogs {
 public:
  using Disks = std::vector<std::pair<const std::uint8_t*, std::size_t>>;
  FuzzDrive(FuzzVolumes& zip, const Disks& disks) : zip_(zip), disks_(disks) {}
  za::TZAAction ConfirmFailure(const std::u16string&, bool) override { return za::fxaIgnore; }
  TOverwriteAnswer ConfirmOverwrite(const std::u16string&) override { return oaNo; }
  bool AskPassword(const std::u16string&, std::string&) override { return false; }
  bool ConfirmVolume(const std::u16string& text) override {
    std::size_t disk = disks_.size();  // the last one, unless named
    const std::u16string numbered = u"Please insert disk #";
    if (text == u"Please insert the first disk") {
      disk = 1;
    } else if (text.compare(0, numbered.size(), numbered) == 0) {
      disk = 0;
      for (std::size_t i = numbered.size(); i < text.size() && disk <= disks_.size(); ++i)
        disk = disk * 10 + static_cast<std::size_t>(text[i] - u'0');
    }
    if (disk == 0 || disk > disks_.size()) return false;
    zip_.files[kDrive] = disks_[disk - 1];
    return true;
  }

 private:
  FuzzVolumes& zip_;
  const Disks& disks_;
};

std::u16string Digits(std::size_t n, std::size_t width) {
  std::u16string s;
  for (; n || s.size() < width; n /= 10) s.insert(s.begin(), static_cast<char16_t>(u'0' + n % 10));
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  za::TZABufferStream stream(data, size);
  FuzzVolumes zip;
  FuzzDrive::Disks disks;
  FuzzDrive drive(zip, disks);
  std::uint8_t last = size ? data[size - 1] : 0;
  // The last byte picks the name decoding, so both paths get exercised,
  // and with it what zarc asks beyond the setup program: UTF-8 flagged
  // names and zero padding after the end record.
  zip.Options().OEMFileNames = (last & 1) == 0;
  zip.SetUtf8FlagNames(last & 1);
  zip.SetPaddedEndRecord(last & 1);
  try {
    if (last & 2) {
      std::size_t volume = (((last >> 3) & 15u) + 1u) * 32u;
      bool numbered = last & 4, spanned = last & 0x80;
      std::size_t bytes = size - 1;
      std::size_t count = bytes > volume ? (bytes - 1) / volume + 1 : 1;
      for (std::size_t i = 0, at = 0; i < count; ++i, at += volume) {
        std::size_t n = i + 1 == count ? bytes - at : volume;
        std::u16string name = numbered ? u"f.zip." + Digits(i + 1, 3)
                                       : (i + 1 == count ? u"f.zip" : u"f.z" + Digits(i + 1, 2));
        if (spanned)
          disks.emplace_back(data + at, n);
        else
          zip.files[name] = {data + at, n};
      }
      if (spanned) {
        zip.SetDialogs(&drive);
        zip.removable = true;
        zip.files[kDrive] = disks.back();
      }
      zip.SetFileName(spanned ? kDrive : numbered ? u"f.zip.001" : u"f.zip");
      zip.OpenArchive(za::kZAModeReadOnly);
    } else {
      zip.OpenArchive(stream);
    }
  } catch (const za::Exception&) {
    return 0;
  }
  std::uint64_t sum = 0;
  za::TZAArchiveItem info;
  za::TZADirManager& dir = *zip.DirManager();
  for (std::int32_t i = 0; i < zip.Count(); ++i) {
    const za::TDirItem& item = zip.Item(i);
    za::FillArchiveItem(item, info);
    sum += info.PackedSize + info.UnpackedSize + item.LocalOffset() + item.Comment.size();
    for (za::ExtraBlock block : item.ExtraFields)
      for (std::uint16_t k = 0; k < block.Size; ++k) sum += block.Data[k];
    // The time and owner blocks as extraction and listing read them.
    za::TZAEntryTimes times = za::ZAReadEntryTimes(item.ExtraFields);
    if (times.Modified) sum += static_cast<std::uint64_t>(times.Modified->Seconds) + times.Modified->Nanoseconds;
    if (auto owner = za::ZAReadEntryOwner(item.ExtraFields)) sum += owner->User + owner->Group;
    if (dir.Items.IndexOfName(item.EntryName.str()) < 0) __builtin_trap();  // every name is indexed
  }
  if (dir.Items.NameIndex().Count() != dir.Items.Count()) __builtin_trap();
  std::vector<std::pair<std::u16string, std::int32_t>> log;
  zip.OnProcessFileFailure = [&](za::TZABaseArchiver*, const std::u16string& name, za::TZAProcessOperation,
                                 std::int32_t native, std::int32_t, const std::u16string&, za::TZAAction& action) {
    log.emplace_back(name, native);
    action = za::fxaIgnore;
  };
  zip.OnFileProgress = [&](za::TZABaseArchiver*, const std::u16string& name, double, za::TZAProcessOperation,
                           za::TZAProgressPhase phase, bool&) {
    if (phase == za::ppEnd) log.emplace_back(name, -1);
  };
  zip.SetPassword("fuzz");
  zip.OnPassword = [](za::TZABaseArchiver*, const std::u16string&, std::string&, bool& skip) { skip = true; };
  auto test = [&] {
    log.clear();
    try {
      zip.TestFiles(u"*.*", 10431, u"");
    } catch (const za::Exception&) {
      // a stream read error ends the test of the archive
    }
    return log;
  };
  auto alone = test();
  // Entries checked ahead on a helper thread (as zarc tests) must get the
  // verdicts the decoder gives them; volumes are never checked ahead.
  if (!(last & 2)) {
    zip.SetTestAhead(true);
    if (test() != alone) __builtin_trap();
  }
  zip.CloseArchive();
  return static_cast<int>(sum & 0);
}
