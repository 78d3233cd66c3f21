// Writes archives and reads them back. The input is a little program: each
// step adds an entry (name, level and data taken from the input), deletes,
// renames or re-comments one, changes the Zip64 mode or the archive
// comment, or commits; after every commit a fresh reader must find exactly
// the entries written, with the same names and bytes.
//
// With the first byte odd the rest is taken as an existing archive
// instead, whose entries are then partly deleted and re-added: rewriting
// whatever a reader accepts must either fail cleanly, leaving the bytes as
// they were, or give an archive that reads back.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "archive/archiver.h"
#include "sys/codepage.h"

namespace {

struct Input {
  const std::uint8_t* p;
  std::size_t left;
  std::uint8_t Byte() {
    if (!left) return 0;
    --left;
    return *p++;
  }
  std::string Bytes(std::size_t n) {
    n = std::min(n, left);
    std::string s(reinterpret_cast<const char*>(p), n);
    p += n;
    left -= n;
    return s;
  }
};

void IgnoreFailures(za::TZipArchiver& zip) {
  zip.OnProcessFileFailure = [](za::TZABaseArchiver*, const std::u16string&, za::TZAProcessOperation, std::int32_t,
                                std::int32_t, const std::u16string&, za::TZAAction& action) { action = za::fxaIgnore; };
}

// The entries of the archive in `stream` as a fresh reader sees them.
std::map<std::u16string, std::string> ReadBack(za::TZAMemoryStream& stream) {
  // Nothing committed yet: the archive is written when it is closed.
  if (stream.Size() == 0) return {};
  za::TZipArchiver zip;
  stream.SetPosition(0);
  zip.OpenArchive(stream);
  if (zip.DirManager()->Rebuilt) __builtin_trap();  // what we write has its directory
  std::map<std::u16string, std::string> out;
  for (std::int32_t i = 0; i < zip.Count(); ++i) {
    za::TZAMemoryStream data;
    zip.ExtractItemToStream(i, data);
    out[zip.Item(i).EntryName] = std::string(data.Data().begin(), data.Data().end());
  }
  return out;
}

std::u16string Name(Input& in) {
  static const char16_t kChars[] = u"ab/._-\u0444\u4e2dZ9";
  std::u16string name;
  for (std::size_t n = in.Byte() % 12 + 1; n--;) name += kChars[in.Byte() % (sizeof kChars / 2 - 1)];
  // The reader takes a trailing slash as a folder, which has no data, and
  // a stored name never starts at the root.
  while (!name.empty() && name.back() == u'/') name.pop_back();
  while (!name.empty() && name.front() == u'/') name.erase(0, 1);
  return name.empty() ? u"x" : name;
}

void Program(Input in) {
  za::TZAMemoryStream stream;
  za::TZipArchiver zip;
  IgnoreFailures(zip);
  zip.SetZip64Mode(za::zmAuto);
  zip.OpenArchive(stream, true);
  std::map<std::u16string, std::string> model;
  zip.BeginUpdate();
  while (in.left) {
    switch (in.Byte() % 7) {
      case 0:
      case 1: {
        std::u16string name = Name(in);
        zip.SetCompressionMode(in.Byte() % 10);
        std::string data = in.Bytes(in.Byte() * 4u);
        zip.AddFromBuffer(name, data.data(), data.size());
        // Names compare without case: an entry of the same name is replaced.
        for (auto it = model.begin(); it != model.end();) {
          if (sys::WideLower(it->first) == sys::WideLower(name)) it = model.erase(it);
          else ++it;
        }
        model[zip.Item(zip.DirManager()->Items.IndexOfName(name)).EntryName] = data;
        break;
      }
      case 2:
        if (zip.Count() > 0) {
          std::int32_t i = in.Byte() % zip.Count();
          model.erase(zip.Item(i).EntryName);
          zip.DeleteItem(i);
        }
        break;
      case 3:
        if (zip.Count() > 0) {
          std::int32_t i = in.Byte() % zip.Count();
          std::u16string from = zip.Item(i).EntryName, to = Name(in);
          if (zip.DirManager()->Items.IndexOfName(to) < 0) {
            zip.RenameItem(i, to);
            model[to] = model[from];
            model.erase(from);
          }
        }
        break;
      case 4:
        if (zip.Count() > 0) zip.ChangeItemComment(in.Byte() % zip.Count(), in.Bytes(in.Byte() % 8));
        break;
      case 5: zip.SetZip64Mode(in.Byte() & 1 ? za::zmAlways : za::zmAuto); break;
      case 6:
        zip.EndUpdate();
        if (ReadBack(stream) != model) __builtin_trap();
        zip.BeginUpdate();
        break;
    }
  }
  zip.EndUpdate();
  zip.CloseArchive();
  if (ReadBack(stream) != model) __builtin_trap();
}

void Rewrite(Input in) {
  za::TZAMemoryStream stream;
  std::string bytes = in.Bytes(in.left);
  stream.Data().assign(bytes.begin(), bytes.end());
  za::TZipArchiver zip;
  IgnoreFailures(zip);
  zip.SetZip64Mode(za::zmAuto);
  try {
    zip.OpenArchive(stream);
  } catch (const za::Exception&) {
    return;
  }
  try {
    zip.BeginUpdate();
    for (std::int32_t i = zip.Count() - 1; i >= 0; i -= 2) zip.DeleteItem(i);
    zip.AddFromBuffer(u"added", "added data", 10);
    zip.EndUpdate();
  } catch (const za::Exception&) {
    if (std::string(stream.Data().begin(), stream.Data().end()) != bytes) __builtin_trap();
    return;
  }
  zip.CloseArchive();
  std::map<std::u16string, std::string> back;
  try {
    back = ReadBack(stream);
  } catch (const za::EZAException&) {
    // Entries copied as they were stored may hold data that never decoded.
    return;
  }
  if (back.count(u"added") && back[u"added"] != "added data") __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{data, size};
  if (in.Byte() & 1)
    Rewrite(in);
  else
    Program(in);
  return 0;
}
