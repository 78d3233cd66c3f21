// The bytes the component writes, pinned: archives of every kind made from
// files with fixed times, each compared with the digest of what the writer
// has always produced. Encrypted data depends on random bytes, so it is
// blanked before hashing; every header around it still counts. A change
// here means files written by this version differ from those written before.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>

#include "archive/archiver.h"
#include "archive/crypto_primitives.h"
#include "archive/records.h"
#include "memory_volumes.h"
#include "sys/wide_file.h"
#include "temp_dir.h"
#include "ui/headless.h"

namespace fs = std::filesystem;

namespace {

using za::TZipArchiver;

class WrittenBytesTest : public za::testing::TempDirTest {
 protected:
  void SetUp() override {
    // Entry times are local MS-DOS times: one zone for every run.
    setenv("TZ", "UTC0", 1);
    tzset();
    ui::headless::Reset();
    fs::create_directories(dir_ / "in/sub/deeper");
    fs::create_directories(dir_ / "in/empty");
    std::string text;
    for (int i = 0; text.size() < 100000; ++i) text += "the quick brown fox " + std::to_string(i) + "\n";
    Put("in/a.txt", text);
    Put("in/sub/noise.bin", za::testing::Noise(70000, 7));
    Put("in/sub/deeper/zero.txt", "");
    Put("in/sub/deeper/c.txt", text.substr(0, 5000));
    Put("in/\xD0\xB8\xD0\xBC\xD1\x8F.txt", "a name outside the code page");
    Put("big/noise.bin", za::testing::Noise(200000, 9));
    Put("big/text.txt", text + text + text);
    Put("stub.exe", std::string(3000, 'S'));
    for (const char* folder : {"in/sub/deeper", "in/sub", "in/empty", "in", "big"}) Stamp(folder);
  }
  void TearDown() override {
    sys::WideSetRemovableFolder(u"");
    ui::headless::Reset();
  }

  // A file with a fixed time and mode.
  void Put(const std::string& name, const std::string& bytes) {
    fs::create_directories(fs::path(Path(name)).parent_path());
    Write(name, bytes);
    Stamp(name);
  }
  void Stamp(const std::string& name) {
    fs::permissions(Path(name), fs::is_directory(Path(name)) ? fs::perms(0755) : fs::perms(0644));
    // 2021-06-15 10:20:30 UTC
    auto when = std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(1623752430)));
    fs::last_write_time(Path(name), when);
  }

  void Add(TZipArchiver& zip, const std::string& folder, const std::u16string& mask = u"*.*") {
    zip.SetBaseDir(WidePath(folder));
    zip.AddFiles(mask, 10431, u"");
  }

  // The archive's bytes with the data of encrypted entries blanked.
  std::string Blanked(const std::string& name) {
    std::string bytes = Read(name);
    TZipArchiver zip;
    zip.SetFileName(WidePath(name));
    zip.OpenArchive(za::kZAModeReadOnly);
    for (std::int32_t i = 0; i < zip.Count(); ++i) {
      const za::TDirItem& item = zip.Item(i);
      if (!(item.Header.Flags & 1)) continue;
      std::uint64_t at = item.LocalOffset();
      EXPECT_LE(at + 30, bytes.size());
      if (at + 30 > bytes.size()) continue;
      auto* raw = reinterpret_cast<const std::uint8_t*>(bytes.data()) + at;
      std::uint64_t data = at + 30 + za::GetU16(raw + 26) + za::GetU16(raw + 28);
      std::uint64_t end = std::min<std::uint64_t>(bytes.size(), data + item.PackedSize());
      for (std::uint64_t k = data; k < end; ++k) bytes[k] = 0;
    }
    return bytes;
  }

  // The SHA-256 of the named files in order, each preceded by its size.
  std::string Digest(const std::vector<std::string>& names, bool blank = false) {
    za::TZASha256 hash;
    for (const std::string& name : names) {
      EXPECT_TRUE(fs::exists(Path(name))) << name;
      std::string bytes = blank ? Blanked(name) : Read(name);
      std::string size = std::to_string(bytes.size()) + ":";
      hash.Update(reinterpret_cast<const std::uint8_t*>(size.data()), size.size());
      hash.Update(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    za::TZASha256::Digest digest;
    EXPECT_TRUE(hash.Final(digest));
    std::string hex;
    char two[3];
    for (std::uint8_t b : digest) {
      std::snprintf(two, sizeof two, "%02x", b);
      hex += two;
    }
    return hex;
  }

  // The volumes of a ".z01" set named `stem`.zip, in order.
  std::vector<std::string> SplitSet(const std::string& stem) {
    std::vector<std::string> names;
    for (int i = 1; fs::exists(Path(stem + ".z" + (i < 10 ? "0" : "") + std::to_string(i))); ++i)
      names.push_back(stem + ".z" + (i < 10 ? "0" : "") + std::to_string(i));
    names.push_back(stem + ".zip");
    return names;
  }

  void Check(const std::string& scenario, const std::string& digest) {
    static const std::map<std::string, std::string> kPinned = {
        {"tree", "2fe78fe1add53b2f4950a8cab3283e8b430b880f843cecfff479ba35e27a6bfc"},
        {"tree zip64 utf8 unix", "5fcc7628b0c29c50cba0edccc6abe1ee5c78c45cd4d034848e3efe7178a1985b"},
        {"one file", "84890ff338f0101addd09bf456f690334e25568a2391f77ebf288ab0fe8dec3a"},
        {"copied and changed", "a0e27851ed89bf77e451016a8765c37d61eaa9f7abb604150aff4e635649e035"},
        {"encrypted", "5273b61425bdfb6c16ce356b4740e8b4775d2b78ad8f345812f67ad2488f1208"},
        {"stub", "5a3ba82a0b5df29ec1951dfe2a7573024327b3bb609f3d979718d1da4166fd0c"},
        {"make sfx", "1f889b863410c89a2d8525e2931de2e1f5b88e2b0bde74334e808ba45643160c"},
        {"caller stream", "91a2fe9f9056ab03b9b1a6fbfeb91e77e12a2a6b7a497f41b385036636a85ffc"},
        {"numbered", "d81cc66866e485489a312e3bec05e5b68877a3bd4fccc1c97ed24276701dcf86"},
        {"split", "bc6f19ed87d81c16146e63aa30ca8b0be1cf69a15f2ef79b05c493cab08f5629"},
        {"split zip64", "fec7ab95c0be74d5eb8e235102185567167673a17b5bb098179a536b1d18353c"},
        {"split zip64 over several volumes", "75c6ccaa918e702fa915d5acca515823650ae7e62b0016f3fb9552ff4347d730"},
        {"split with stub", "1fe4b766b33cac1c94affa4b0ed8618e92f1f2969ccecf2fd0c199dbd5b24bf5"},
        {"split near the first volume size", "f901f74ee0910b65ff45cd0aacbbb3cc33ae9727afe2c4c6c2b080cb4a68e178"},
        {"spanned", "bd5d988ea79428925203bd7ca96dd44f92430839a90e9320787227f3b8b178d7"},
    };
    auto pinned = kPinned.find(scenario);
    ASSERT_NE(pinned, kPinned.end()) << scenario;
    EXPECT_EQ(digest, pinned->second) << scenario;
  }
};

TEST_F(WrittenBytesTest, NewCopiedAndEncryptedEntries) {
  {
    TZipArchiver zip;
    zip.SetFileName(WidePath("tree.zip"));
    zip.OpenArchive();
    Add(zip, "in");
    zip.CloseArchive();
  }
  Check("tree", Digest({"tree.zip"}));
  {
    TZipArchiver zip;
    zip.SetZip64Mode(za::zmAlways);
    zip.SetUtf8NamesOnWrite(true);
    zip.SetUnixModesOnWrite(true);
    zip.SetFileName(WidePath("tree64.zip"));
    zip.OpenArchive();
    Add(zip, "in");
    zip.CloseArchive();
  }
  Check("tree zip64 utf8 unix", Digest({"tree64.zip"}));
  {
    // One file is encoded by the commit itself, not ahead.
    TZipArchiver zip;
    zip.SetFileName(WidePath("one.zip"));
    zip.OpenArchive();
    Add(zip, "in", u"a.txt");
    zip.CloseArchive();
  }
  Check("one file", Digest({"one.zip"}));
  {
    // Entries copied as they are stored, around a deletion, a rename, new
    // attributes and comments, and a file added.
    fs::copy_file(Path("tree.zip"), Path("changed.zip"));
    TZipArchiver zip;
    zip.SetFileName(WidePath("changed.zip"));
    zip.OpenArchive();
    zip.BeginUpdate();
    zip.DeleteFiles(u"zero.txt");
    EXPECT_TRUE(zip.RenameFile(u"sub/noise.bin", u"sub/renamed.bin"));
    zip.ChangeFilesComment(u"a.txt", "a comment");
    zip.ChangeFilesAttr(u"c.txt", 0x21);
    zip.SetZipComment("the archive's comment");
    zip.SetBaseDir(WidePath("big"));
    zip.AddFiles(u"text.txt", 10431, u"");
    zip.EndUpdate();
    zip.CloseArchive();
  }
  Check("copied and changed", Digest({"changed.zip"}));
  {
    TZipArchiver zip;
    zip.SetFileName(WidePath("enc.zip"));
    zip.OpenArchive();
    zip.BeginUpdate();
    zip.SetPassword("secret");
    zip.SetEncryptionMethod(za::caPkzipClassic);
    Add(zip, "in", u"a.txt");
    zip.SetEncryptionMethod(za::caAES_256);
    Add(zip, "in", u"c.txt");
    zip.SetEncryptionMethod(za::caAES_128);
    Add(zip, "in", u"noise.bin");
    zip.EndUpdate();
    // Copied encrypted entries keep their bytes beside a new one.
    zip.SetPassword("");
    Add(zip, "in", u"zero.txt");
    zip.CloseArchive();
  }
  Check("encrypted", Digest({"enc.zip"}, true));
}

TEST_F(WrittenBytesTest, StubsAndStreams) {
  {
    TZipArchiver zip;
    zip.SetSFXStub(WidePath("stub.exe"));
    zip.SetFileName(WidePath("sfx.exe"));
    zip.OpenArchive();
    Add(zip, "in", u"a.txt");
    Add(zip, "in", u"c.txt");  // a second commit keeps the stub in front
    zip.CloseArchive();
  }
  Check("stub", Digest({"sfx.exe"}));
  {
    TZipArchiver zip;
    zip.SetFileName(WidePath("plain.zip"));
    zip.OpenArchive();
    Add(zip, "in");
    zip.SetSFXStub(WidePath("stub.exe"));
    zip.MakeSFX(WidePath("made.exe"));
    zip.CloseArchive();
  }
  Check("make sfx", Digest({"made.exe", "plain.zip"}));
  {
    za::TZAMemoryStream stream;
    TZipArchiver zip;
    zip.OpenArchive(stream, true);
    Add(zip, "in");
    Add(zip, "big");
    zip.CloseArchive();
    Write("stream.zip", std::string(stream.Data().begin(), stream.Data().end()));
  }
  Check("caller stream", Digest({"stream.zip"}));
}

TEST_F(WrittenBytesTest, VolumesAndWhereTheyAreCut) {
  auto split = [&](const std::string& name, za::TZip64Mode mode, bool numbered, std::int64_t first,
                   const std::string& folder) {
    TZipArchiver zip;
    zip.SetSpanningMode(za::smSplitting);
    zip.SetZip64Mode(mode);
    zip.SpanningOptions().VolumeSize = za::vsCustom;
    zip.SpanningOptions().SetCustomVolumeSize(65536);
    zip.SpanningOptions().FirstVolumeSize = first;
    zip.SpanningOptions().AdvancedNaming = numbered;
    zip.SetFileName(WidePath(name));
    zip.OpenArchive();
    Add(zip, folder);
  };
  split("numbered.zip", za::zmAuto, true, 100000, "big");
  std::vector<std::string> pieces;
  for (int i = 1; fs::exists(Path("numbered.zip.00" + std::to_string(i))); ++i)
    pieces.push_back("numbered.zip.00" + std::to_string(i));
  EXPECT_EQ(pieces.size(), 4u);
  Check("numbered", Digest(pieces));
  split("split.zip", za::zmAuto, false, 100000, "big");
  Check("split", Digest(SplitSet("split")));
  split("split64.zip", za::zmAlways, false, 100000, "in");
  Check("split zip64", Digest(SplitSet("split64")));
  // Zip64 end records on a later volume count their offsets in it.
  split("split64big.zip", za::zmAlways, false, 100000, "big");
  Check("split zip64 over several volumes", Digest(SplitSet("split64big")));
  {
    TZipArchiver zip;
    zip.SetSpanningMode(za::smSplitting);
    zip.SpanningOptions().VolumeSize = za::vsCustom;
    zip.SpanningOptions().SetCustomVolumeSize(65536);
    zip.SetSFXStub(WidePath("stub.exe"));
    zip.SetFileName(WidePath("stubbed.zip"));
    zip.OpenArchive();
    Add(zip, "big");
  }
  Check("split with stub", Digest(SplitSet("stubbed")));

  // Around the size of the first volume an archive is one plain file or a
  // set whose first volume begins with the split signature: one stored
  // file of each size from a few bytes under to a few over.
  std::vector<std::string> near;
  int several = 0;
  {
    Put("probe/n.bin", za::testing::Noise(1000, 3));
    TZipArchiver zip;
    zip.SetFileName(WidePath("probe.zip"));
    zip.OpenArchive();
    Add(zip, "probe");
  }
  const std::int64_t overhead = static_cast<std::int64_t>(fs::file_size(Path("probe.zip"))) - 1000;
  const std::int64_t first = 70000;
  for (std::int64_t extra = -12; extra <= 8; ++extra) {
    const std::string folder = "near" + std::to_string(extra + 12);
    Put(folder + "/n.bin", za::testing::Noise(static_cast<std::size_t>(first - overhead + extra), 3));
    Stamp(folder);
    split(folder + ".zip", za::zmAuto, false, first, folder);
    const std::vector<std::string> set = SplitSet(folder);
    several += set.size() > 1;
    near.insert(near.end(), set.begin(), set.end());
  }
  // Both outcomes are among them.
  EXPECT_GT(several, 0);
  EXPECT_LT(several, 21);
  Check("split near the first volume size", Digest(near));

  // Spanned disks of 64 KiB in a removable drive, each taken out when the
  // next is asked for.
  fs::create_directories(dir_ / "drive");
  fs::create_directories(dir_ / "tmp");
  sys::WideSetRemovableFolder(WidePath("drive"));
  std::vector<std::string> disks;
  ui::headless::SetDialogResponder([&](const ui::headless::DialogRecord&) {
    disks.push_back(Read("drive/a.zip"));
    fs::remove(dir_ / "drive" / "a.zip");
    return ui::DialogResult::Ok;
  });
  {
    TZipArchiver zip;
    zip.SetSpanningMode(za::smSpanning);
    zip.SpanningOptions().VolumeSize = za::vsCustom;
    zip.SpanningOptions().SetCustomVolumeSize(65536);
    zip.SetTempDir(WidePath("tmp"));
    zip.SetFileName(WidePath("drive/a.zip"));
    zip.OpenArchive();
    Add(zip, "big");
  }
  disks.push_back(Read("drive/a.zip"));
  std::vector<std::string> names;
  for (std::size_t i = 0; i < disks.size(); ++i) {
    names.push_back("disk" + std::to_string(i + 1));
    Write(names.back(), disks[i]);
  }
  EXPECT_GE(disks.size(), 3u);
  Check("spanned", Digest(names));
}

}  // namespace
