// The POSIX stand-in's registry hive is a text file anyone can edit: it is
// read on every open and write. The input becomes the hive; a key is opened,
// made and written, as the browser task does.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "sys/system.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string hive = [] {
    char folder[] = "/tmp/rovend-registry-fuzz-XXXXXX";
    std::string file = std::string(mkdtemp(folder)) + "/registry.reg";
    setenv("ROVEND_REGISTRY", file.c_str(), 1);
    return file;
  }();
  if (std::FILE* f = std::fopen(hive.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  sys::System& system = sys::Platform();
  if (sys::RegistryKey key = system.OpenUserKey("Software\\Microsoft\\Windows", false)) system.CloseUserKey(key);
  if (sys::RegistryKey key = system.OpenUserKey("Software\\Rovend\\Zones\\2", true)) {
    system.SetDwordValue(key, "1001", 0);
    system.SetDwordValue(key, "http", 2);
    system.CloseUserKey(key);
  }
  return 0;
}
