// Unpacking the payload on the POSIX backends: the real file system, the
// real archive engine, the payload built with the program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "app/form1.h"
#include "app/payload.h"
#include "support/temp_dir.h"
#include "sys/system.h"
#include "ui/application.h"
#include "ui/headless.h"

namespace app {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The platform's services, with the module's payload replaced when a test
// gives one.
class PayloadSystem : public sys::System {
 public:
  std::optional<std::vector<std::uint8_t>> payload;
  bool missing = false;
  sys::System& real = sys::Platform();

  std::optional<std::span<const std::uint8_t>> FindModuleResource(const std::string& type,
                                                                   const std::string& name) override {
    if (missing) return std::nullopt;
    if (payload) return std::span<const std::uint8_t>(*payload);
    return real.FindModuleResource(type, name);
  }
  std::string GetSpecialFolder(int f) override { return real.GetSpecialFolder(f); }
  bool IsUserAnAdmin() override { return true; }
  void FillProcessList(sys::ProcessList* l) override { real.FillProcessList(l); }
  std::uint32_t GetTickCount() override { return real.GetTickCount(); }
  bool DeleteFolder(const std::string& p) override { return real.DeleteFolder(p); }
  bool RemoveLink(const std::string& p) override { return real.RemoveLink(p); }
  std::unique_ptr<sys::HeldFile> HoldFile(const std::string& p) override { return real.HoldFile(p); }
  std::unique_ptr<sys::HeldFolder> HoldFolder(const std::string& p) override { return real.HoldFolder(p); }
  bool CreateFolder(const std::string& p) override { return real.CreateFolder(p); }
  bool CopyFile(const std::string& a, const std::string& b, bool f) override { return real.CopyFile(a, b, f); }
  std::int32_t ShellExecute(void* w, const std::string& v, const std::string& f, const std::string& p,
                            const std::string& d, int s, std::unique_ptr<sys::Process>* process) override {
    return real.ShellExecute(w, v, f, p, d, s, process);
  }
  std::uint32_t WinExec(const std::string& c, int s, std::unique_ptr<sys::Process>* process) override {
    return real.WinExec(c, s, process);
  }
  std::unique_ptr<sys::TextFile> OpenTextFile(const std::string& p, int& e) override { return real.OpenTextFile(p, e); }
  bool ForceFolders(const std::string& p) override { return real.ForceFolders(p); }
  int WriteNewFile(const std::string& p, std::span<const std::uint8_t> d) override { return real.WriteNewFile(p, d); }
  std::string ErrorMessage(int c) override { return real.ErrorMessage(c); }
  sys::RegistryKey OpenUserKey(const std::string& p, bool c) override { return real.OpenUserKey(p, c); }
  bool SetDwordValue(sys::RegistryKey k, const std::string& n, std::uint32_t d) override {
    return real.SetDwordValue(k, n, d);
  }
  void CloseUserKey(sys::RegistryKey k) override { real.CloseUserKey(k); }
};

class PayloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::headless::Reset();
    ui::Application::Instance().SetTitle("Настройка");
    RegisterEmbeddedResources();
    setenv("XDG_DATA_HOME", appData.c_str(), 1);
    fs::create_directories(appData);
  }
  void TearDown() override { unsetenv("XDG_DATA_HOME"); }
  std::vector<std::uint8_t> Payload() {
    auto resource = sys::Platform().FindModuleResource("SOMETYPE", "TEST");
    EXPECT_TRUE(resource.has_value());
    return resource ? std::vector<std::uint8_t>(resource->begin(), resource->end()) : std::vector<std::uint8_t>{};
  }

  support::TempDir sandbox;
  const std::string appData = sandbox.str() + "/data";
  const fs::path work = fs::path(appData) / "tempEE";
  PayloadSystem system;
};

// Where each entry of the test payload comes from.
const std::pair<const char*, const char*> kInputs[] = {
    {"url.txt", ROVEND_SOURCE_DIR "/resources/payload/url.txt"},
    {"capicom.inf", ROVEND_SOURCE_DIR "/resources/payload/capicom.inf"},
    {"capicom.dll", ROVEND_SOURCE_DIR "/resources/payload/capicom.dll"},
    {"rootsert.sst", ROVEND_SOURCE_DIR "/resources/payload/rootsert.sst"},
    {"casert.sst", ROVEND_SOURCE_DIR "/resources/payload/casert.sst"},
    {"certmgr.exe", ROVEND_SOURCE_DIR "/resources/payload/standins/certmgr.sh"},
    {"capicom2.msi", ROVEND_PAYLOAD_BUILD_DIR "/capicom2.msi"},
};

TEST_F(PayloadTest, StartUpUnpacksTheSevenFilesAsBuilt) {
  TForm1 form(system);
  form.Form().Activated();
  EXPECT_TRUE(ui::headless::ShownDialogs().empty());
  EXPECT_FALSE(form.Panel1->Visible());
  EXPECT_EQ(Read(work / "tempEE.zip"), Payload());
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(work)) files += entry.is_regular_file();
  EXPECT_EQ(files, 8u);
  for (const auto& [name, input] : kInputs) {
    ASSERT_TRUE(fs::exists(work / name)) << name;
    EXPECT_EQ(Read(work / name), Read(input)) << name;
  }
  // Entry times come from the archive: 2024-01-01 00:00 local time.
  auto time = fs::last_write_time(work / "url.txt");
  EXPECT_LT(time, fs::file_time_type::clock::now() - std::chrono::hours(24 * 300));
  form.Form().Close();
  EXPECT_FALSE(fs::exists(work));
}

TEST_F(PayloadTest, AnotherStartWritesEverythingAgain) {
  fs::create_directories(work);
  std::ofstream(work / "url.txt") << "changed.example";
  std::ofstream(work / "tempEE.zip") << "old";
  std::ofstream(work / "extra.txt") << "left alone";
  TForm1 form(system);
  form.Form().Activated();
  EXPECT_TRUE(ui::headless::ShownDialogs().empty());
  EXPECT_EQ(Read(work / "url.txt"), Read(ROVEND_SOURCE_DIR "/resources/payload/url.txt"));
  EXPECT_EQ(Read(work / "tempEE.zip"), Payload());
  EXPECT_TRUE(fs::exists(work / "extra.txt"));
}

TEST_F(PayloadTest, UnreadableArchiveEndsStartUpWithTheComposedMessage) {
  system.payload = std::vector<std::uint8_t>(300, 'x');  // no zip structure at all
  TForm1 form(system);
  form.Form().Activated();
  ASSERT_EQ(ui::headless::ShownDialogs().size(), 1u);
  const auto& box = ui::headless::ShownDialogs()[0];
  EXPECT_EQ(box.caption, "Настройка");
  EXPECT_EQ(box.options.icon, ui::DialogIcon::Error);
  EXPECT_EQ(box.text, "Invalid archive file. - Native error: 00035.");
  EXPECT_TRUE(form.Panel1->Visible());  // the unpacking screen stays
}

TEST_F(PayloadTest, DamagedEntryIsOfferedAsAFileProcessingError) {
  std::vector<std::uint8_t> payload = Payload();
  // The first entry's data begins after its 30-byte local header, its name
  // and its extra field; a flipped byte there breaks its CRC-32.
  const size_t nameLength = payload[26] | (payload[27] << 8);
  const size_t extraLength = payload[28] | (payload[29] << 8);
  payload[30 + nameLength + extraLength + 2] ^= 0x55;
  system.payload = payload;
  TForm1 form(system);
  form.Form().Activated();
  ASSERT_FALSE(ui::headless::ShownDialogs().empty());
  const auto& box = ui::headless::ShownDialogs()[0];
  EXPECT_NE(box.text.find("File processing error, possibly disk is full"), std::string::npos) << box.text;
  EXPECT_EQ(box.options.buttons, ui::DialogButtons::AbortRetryIgnore);
  // Abort ends the batch normally; the damaged file is not left behind.
  EXPECT_FALSE(fs::exists(work / "capicom.dll"));
  EXPECT_FALSE(form.Panel1->Visible());
}

TEST_F(PayloadTest, MissingResourceAndUnwritableFolderAreReported) {
  {
    system.missing = true;
    TForm1 form(system);
    form.Form().Activated();
    ASSERT_EQ(ui::headless::ShownDialogs().size(), 1u);
    EXPECT_EQ(ui::headless::ShownDialogs()[0].text, "Resource test not found.");
    EXPECT_TRUE(form.Panel1->Visible());
  }
  ui::headless::Reset();
  system.missing = false;
  fs::remove_all(work);
  fs::create_directories(work / "tempEE.zip");  // a folder where the file must go
  TForm1 form(system);
  form.Form().Activated();
  ASSERT_EQ(ui::headless::ShownDialogs().size(), 1u);
  const std::string expected = "Cannot create file \"" + appData + "\\tempEE\\\\tempEE.zip\". ";
  EXPECT_EQ(ui::headless::ShownDialogs()[0].text.rfind(expected, 0), 0u) << ui::headless::ShownDialogs()[0].text;
  EXPECT_TRUE(form.Panel1->Visible());
}

// What a program without elevation could leave in the user's folder for
// the elevated one: links that lead elsewhere.
class LinkTest : public PayloadTest {
 protected:
  void SetUp() override {
    PayloadTest::SetUp();
    fs::create_directories(outside / "inner");
    std::ofstream(outside / "keep.txt") << "keep";
    std::ofstream(outside / "inner" / "keep.txt") << "keep";
  }
  // Every file outside, with its content.
  std::map<std::string, std::string> Outside() {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(outside)) {
      if (!entry.is_regular_file()) continue;
      auto bytes = Read(entry.path());
      files[entry.path().lexically_relative(outside).string()] = {bytes.begin(), bytes.end()};
    }
    return files;
  }
  const fs::path outside = sandbox.str() + "/outside";
  const std::map<std::string, std::string> kUntouched = {{"keep.txt", "keep"}, {"inner/keep.txt", "keep"}};
};

TEST_F(LinkTest, WorkingFolderThatIsALinkBecomesARealOneAndLinksInsideGoAsLinks) {
  fs::create_directory_symlink(outside, work);
  {
    TForm1 form(system);
    form.Form().Activated();
    EXPECT_TRUE(ui::headless::ShownDialogs().empty());
    EXPECT_FALSE(fs::is_symlink(work));
    EXPECT_TRUE(fs::is_regular_file(work / "certmgr.exe"));
    EXPECT_EQ(Outside(), kUntouched);
    fs::create_directory_symlink(outside, work / "escape");
    fs::create_symlink(outside / "keep.txt", work / "file-link");
    form.Form().Close();
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(work)));
  EXPECT_EQ(Outside(), kUntouched);
}

TEST_F(LinkTest, AWorkingFolderThatStaysALinkGetsNothing) {
  // As if the link came back as soon as it was removed.
  struct Stubborn : PayloadSystem {
    bool RemoveLink(const std::string&) override { return false; }
  } stubborn;
  fs::create_directory_symlink(outside, work);
  TForm1 form(stubborn);
  form.Form().Activated();
  ASSERT_EQ(ui::headless::ShownDialogs().size(), 1u);
  const std::string expected = "Cannot create file \"" + appData + "\\tempEE\\\\tempEE.zip\". ";
  EXPECT_EQ(ui::headless::ShownDialogs()[0].text.rfind(expected, 0), 0u) << ui::headless::ShownDialogs()[0].text;
  EXPECT_EQ(Outside(), kUntouched);
}

TEST_F(LinkTest, NothingIsWrittenThroughALinkInPlaceOfAFile) {
  fs::create_directories(work);
  fs::create_symlink(outside / "keep.txt", work / "tempEE.zip");
  fs::create_symlink(outside / "inner" / "keep.txt", work / "certmgr.exe");
  TForm1 form(system);
  form.Form().Activated();
  EXPECT_TRUE(ui::headless::ShownDialogs().empty());
  EXPECT_EQ(Outside(), kUntouched);
  EXPECT_FALSE(fs::is_symlink(work / "tempEE.zip"));
  EXPECT_EQ(Read(work / "tempEE.zip"), Payload());
  EXPECT_FALSE(fs::is_symlink(work / "certmgr.exe"));
  EXPECT_EQ(Read(work / "certmgr.exe"), Read(ROVEND_SOURCE_DIR "/resources/payload/standins/certmgr.sh"));
}

}  // namespace
}  // namespace app
