#include "app/payload.h"

#include "app/form1.h"
#include "sys/system.h"
#include "sys/text.h"

namespace app {

void SavePayload(sys::System& system, const std::string& folder) {
  system.ForceFolders(folder);
  auto resource = system.FindModuleResource(kPayloadType, kPayloadName);
  if (!resource) throw EResNotFound(std::string("Resource ") + kPayloadName + " not found");
  const std::string path = folder + "tempEE.zip";
  if (int error = system.WriteNewFile(path, *resource); error != 0)
    throw EFCreateError("Cannot create file \"" + sys::NativeToUtf8(path) + "\". " +
                        sys::NativeToUtf8(system.ErrorMessage(error)));
}

void TForm1::UnpackPayload(const std::string& appDataPath) {
  // Without an application-data folder the working folder would be
  // "\tempEE\" in the root of the current drive, which is not ours to delete.
  workingFolderSetUp_ = !appDataPath.empty();
  const std::string folder = appDataPath + "\\tempEE\\";
  system_.CreateFolder(folder);
  // The doubled backslash in the archive's path is harmless to the system.
  SavePayload(system_, folder + "\\");
  ZipArchiver1->SetFileName(sys::NativeToWide(folder + "\\tempEE.zip"));
  ZipArchiver1->OpenArchive();
  ZipArchiver1->SetBaseDir(sys::NativeToWide(folder));
  // 0x28BF: every attribute an entry can carry, so every entry is taken.
  ZipArchiver1->ExtractFiles(u"*.*", 0x28BF, u"");
  ZipArchiver1->CloseArchive();
}

}  // namespace app
