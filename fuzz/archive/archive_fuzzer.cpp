// Opens an archive from memory, walks every item as a lister would, then
// tests every entry into nothing. Encrypted seeds are made with the password
// set here, so decryption, the AES code and the CRC checks get inputs that
// pass the password check; a rejected password skips the entry.
#include <cstddef>
#include <cstdint>

#include "archive/archiver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  za::TZABufferStream stream(data, size);
  za::TZipArchiver zip;
  // The last byte picks the name decoding, so both paths get exercised.
  zip.Options().OEMFileNames = size == 0 || (data[size - 1] & 1) == 0;
  try {
    zip.OpenArchive(stream);
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
    if (dir.Items.IndexOfName(item.EntryName) < 0) __builtin_trap();  // every name is indexed
  }
  if (dir.Items.NameIndex().Count() != dir.Items.Count()) __builtin_trap();
  zip.OnProcessFileFailure = [](za::TZABaseArchiver*, const std::u16string&, za::TZAProcessOperation, std::int32_t,
                                std::int32_t, const std::u16string&, za::TZAAction& action) { action = za::fxaIgnore; };
  zip.SetPassword("fuzz");
  zip.OnPassword = [](za::TZABaseArchiver*, const std::u16string&, std::string&, bool& skip) { skip = true; };
  try {
    zip.TestFiles(u"*.*", 10431, u"");
  } catch (const za::Exception&) {
    // a stream read error ends the test of the archive
  }
  zip.CloseArchive();
  return static_cast<int>(sum & 0);
}
