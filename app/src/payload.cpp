#include "app/payload.h"

#include <vector>

#include "app/form1.h"
#include "sys/system.h"
#include "sys/codepage.h"

namespace app {
namespace {

// The key of a file in the working folder: its name, letters A to Z in lower
// case, as Windows finds it whatever their case.
std::u16string FileKey(std::u16string_view path) {
  std::u16string name(path.substr(path.find_last_of(u"\\/") + 1));
  for (char16_t& c : name)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return name;
}

EFCreateError CreateError(sys::System& system, const std::string& path, int code) {
  return EFCreateError("Cannot create file \"" + path + "\". " + system.ErrorMessage(code));
}

// What the system answers for a place that is not a folder of ours.
constexpr int kAccessDenied = 5;

}  // namespace

void SavePayload(sys::System& system, const std::string& folder) {
  system.ForceFolders(folder);
  auto resource = system.FindModuleResource(kPayloadType, kPayloadName);
  if (!resource) throw EResNotFound(std::string("Resource ") + kPayloadName + " not found");
  const std::string path = folder + "tempEE.zip";
  if (int error = system.WriteNewFile(path, *resource); error != 0) throw CreateError(system, path, error);
}

void TForm1::UnpackPayload(const std::string& appDataPath) {
  // Without an application-data folder the working folder would be
  // "\tempEE\" in the root of the current drive, which is not ours to delete.
  workingFolderSetUp_ = !appDataPath.empty();
  const std::string folder = appDataPath + "\\tempEE\\";
  unpacked_.clear();
  // A link in its place, put there by anyone who can write to the user's
  // folder, would send what the program writes and later deletes elsewhere.
  system_.RemoveLink(folder);
  system_.CreateFolder(folder);
  // Held until all is unpacked, so that it cannot be swapped for a link
  // meanwhile. Where it could not be made, the folders above it may be
  // missing too.
  std::unique_ptr<sys::HeldFolder> held = system_.HoldFolder(folder);
  if (!held && system_.ForceFolders(folder)) held = system_.HoldFolder(folder);
  if (!held) throw CreateError(system_, folder + "\\tempEE.zip", kAccessDenied);
  // The doubled backslash in the archive's path is harmless to the system.
  SavePayload(system_, folder + "\\");
  ZipArchiver1->SetFileName(sys::Utf8ToWide(folder + "\\tempEE.zip"));
  ZipArchiver1->OpenArchive();
  ZipArchiver1->SetBaseDir(sys::Utf8ToWide(folder));
  ZipArchiver1->OnFileExtracted = [this](za::TZABaseArchiver*, const std::u16string& path, std::uint64_t size,
                                         const za::TZASha256::Digest& digest) {
    unpacked_[FileKey(path)] = {size, digest};
  };
  // 0x28BF: every attribute an entry can carry, so every entry is taken.
  ZipArchiver1->ExtractFiles(u"*.*", 0x28BF, u"");
  ZipArchiver1->CloseArchive();
}

std::unique_ptr<sys::HeldFile> TForm1::HoldUnpacked(const std::string& name) {
  return HoldAsUnpacked(WorkingFolder() + name, name);
}

std::unique_ptr<sys::HeldFile> TForm1::HoldAsUnpacked(const std::string& path, const std::string& name) {
  const auto expected = unpacked_.find(FileKey(sys::Utf8ToWide(name)));
  if (expected == unpacked_.end()) return nullptr;
  std::unique_ptr<sys::HeldFile> held = system_.HoldFile(path);
  if (!held) return nullptr;
  // Read through the held file: what is checked is what will be used.
  za::TZASha256 hash;
  std::vector<std::uint8_t> buffer(1 << 16);
  std::uint64_t size = 0;
  for (;;) {
    const std::int64_t n = held->Read(buffer);
    if (n < 0) return nullptr;
    if (n == 0) break;
    size += static_cast<std::uint64_t>(n);
    if (size > expected->second.size) return nullptr;
    hash.Update(buffer.data(), static_cast<std::size_t>(n));
  }
  za::TZASha256::Digest digest;
  if (size != expected->second.size || !hash.Final(digest) || digest != expected->second.digest) return nullptr;
  return held;
}

}  // namespace app
