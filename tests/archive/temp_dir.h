#pragma once
// The archive tests' fixture: a fresh temporary folder per test, with
// helpers to write and read files in it, and a probe for wrong passwords.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/archiver.h"
#include "support/temp_dir.h"

namespace za::testing {

// Whether a command-line tool is on the PATH.
inline bool Have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null").c_str()) == 0;
}

class TempDirTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::u16string WidePath(const std::string& name) const {
    std::string p = Path(name);
    return std::u16string(p.begin(), p.end());
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Whether every encrypted entry of the archive turns `password` away at
  // its password check. The classic check is one byte, so about one wrong
  // password in 256 passes it; a test about rejection makes its archive
  // again (new random headers) until this holds.
  bool RejectedByAll(const std::string& archive, const std::string& password) const {
    za::TZipArchiver probe;
    probe.SetFileName(WidePath(archive));
    probe.SetPassword(password);
    probe.OpenArchive();
    int encrypted = 0, rejected = 0;
    for (std::int32_t i = 0; i < probe.Count(); ++i) encrypted += probe.Item(i).Header.Flags & 1;
    probe.OnProcessFileFailure = [](za::TZABaseArchiver*, const std::u16string&, za::TZAProcessOperation,
                                    std::int32_t, std::int32_t, const std::u16string&,
                                    za::TZAAction& action) { action = za::fxaIgnore; };
    probe.OnPassword = [&](za::TZABaseArchiver*, const std::u16string&, std::string&, bool& skip) {
      ++rejected;
      skip = true;
    };
    probe.TestFiles(u"*.*", 10431, u"");
    probe.CloseArchive();
    return rejected == encrypted;
  }

 private:
  support::TempDir temp_{"zatest"};

 protected:
  const std::filesystem::path& dir_ = temp_.path();
};

}  // namespace za::testing
