#pragma once
// An archiver whose volume files are bytes in memory, and the content of
// test entries: the volume tests run alike natively and under Wine.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/archiver.h"

namespace za::testing {

class MemoryVolumes : public za::TZipArchiver {
 public:
  std::map<std::u16string, std::string> files;
  bool removable = false;
  std::vector<std::u16string> opened;  // volume files opened, in order
  std::u16string unreadable;           // there, but it cannot be opened

  // Every entry decoded into memory, in directory order.
  std::vector<std::string> Contents() {
    std::vector<std::string> out;
    for (std::int32_t i = 0; i < Count(); ++i) {
      za::TZAMemoryStream s;
      ExtractItemToStream(i, s);
      out.emplace_back(s.Data().begin(), s.Data().end());
    }
    return out;
  }

 protected:
  bool VolumeExists(const std::u16string& name) override { return files.count(name) != 0; }
  std::unique_ptr<za::TZAStream> OpenVolume(const std::u16string& name, std::uint16_t) override {
    auto it = files.find(name);
    if (it == files.end() || name == unreadable) throw za::EFOpenError(u"Cannot open file");
    opened.push_back(name);
    auto s = std::make_unique<za::TZAMemoryStream>();
    s->Data().assign(it->second.begin(), it->second.end());
    return s;
  }
  bool OnRemovableMedia(const std::u16string&) override { return removable; }
};

// Bytes that deflate hardly shrinks, so deflated entries span volumes too.
inline std::string Noise(std::size_t n, std::uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  return s;
}

// Volumes under the names of the ".z01" scheme: "<base>.z01", ..., "<base>.zip".
inline std::map<std::u16string, std::string> ZipNamed(const std::u16string& base,
                                                      const std::vector<std::string>& volumes) {
  std::map<std::u16string, std::string> files;
  for (std::size_t i = 0; i + 1 < volumes.size(); ++i) {
    std::u16string number = i + 1 < 10 ? u"0" : u"";
    for (char c : std::to_string(i + 1)) number.push_back(static_cast<char16_t>(c));
    files[base + u".z" + number] = volumes[i];
  }
  files[base + u".zip"] = volumes.back();
  return files;
}

// Volumes under numbered names: "<name>.001", "<name>.002", ...
inline std::map<std::u16string, std::string> Numbered(const std::u16string& name,
                                                      const std::vector<std::string>& volumes) {
  std::map<std::u16string, std::string> files;
  for (std::size_t i = 0; i < volumes.size(); ++i) {
    std::string n = std::to_string(i + 1);
    n.insert(0, n.size() < 3 ? 3 - n.size() : 0, '0');
    files[name + u"." + std::u16string(n.begin(), n.end())] = volumes[i];
  }
  return files;
}

}  // namespace za::testing
