// Encrypted archives made by real tools during the run, read back through
// the component with the built-in ciphers.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archiver.h"
#include "temp_dir.h"
#include "ui/headless.h"

namespace fs = std::filesystem;

namespace {

using za::testing::Have;

class EncryptedTest : public za::testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    fs::create_directory(dir_ / "in");
    fs::create_directory(dir_ / "out");
    // Text over several key-stream refills and an odd length, and a short one.
    std::string text;
    for (int i = 0; text.size() < 150000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + " of the text\n";
    text += "end";
    Write("in/text.txt", text);
    Write("in/short.txt", "short");
    zip.OnProcessFileFailure = [this](za::TZABaseArchiver*, const std::u16string&, za::TZAProcessOperation,
                                      std::int32_t native, std::int32_t, const std::u16string&, za::TZAAction& a) {
      failures.push_back(native);
      a = za::fxaIgnore;
    };
  }
  void Make(const std::string& command) {
    ASSERT_EQ(std::system(("cd " + Path("in") + " && " + command + " >/dev/null 2>&1").c_str()), 0) << command;
  }
  void Extract(const std::string& password) {
    zip.SetFileName(WidePath("a.zip"));
    zip.SetPassword(password);
    zip.OpenArchive();
    zip.SetBaseDir(WidePath("out"));
    zip.ExtractFiles(u"*.*", 10431, u"");
    zip.CloseArchive();
  }
  bool SameAsInput(const std::string& name) const {
    return fs::exists(dir_ / "out" / name) && Read("out/" + name) == Read("in/" + name);
  }
  // Sets the vendor version in every AES block of the archive.
  void SetVendorVersion(std::uint8_t version) {
    std::string bytes = Read("in/a.zip");
    const std::string tag("\x01\x99\x07\x00", 4);
    for (std::size_t at = bytes.find(tag); at != std::string::npos; at = bytes.find(tag, at + 1))
      bytes[at + 4] = static_cast<char>(version);
    Write("in/a.zip", bytes);
  }
  void UseArchive() { fs::copy_file(dir_ / "in" / "a.zip", dir_ / "a.zip", fs::copy_options::overwrite_existing); }

  za::TZipArchiver zip;
  std::vector<int> failures;
};

TEST_F(EncryptedTest, ToolArchivesOpenWithTheRightPassword) {
  if (!Have("7z") || !Have("zip")) GTEST_SKIP() << "7z or zip missing";
  const char* commands[] = {
      "7z a -tzip -pSecret7 -mem=AES128 a.zip text.txt short.txt",
      "7z a -tzip -pSecret7 -mem=AES192 a.zip text.txt short.txt",
      "7z a -tzip -pSecret7 -mem=AES256 -mm=Copy a.zip text.txt short.txt",
      "7z a -tzip -pSecret7 -mem=AES256 a.zip text.txt short.txt",
      "7z a -tzip -pSecret7 -mem=ZipCrypto a.zip text.txt short.txt",
      "zip -q -P Secret7 a.zip text.txt short.txt",
      // From a pipe: a data descriptor, so the check byte is the time's.
      "cat text.txt | zip -q -P Secret7 a.zip - && printf '@ -\\n@=text.txt\\n' | zipnote -w a.zip",
  };
  for (const char* command : commands) {
    fs::remove(dir_ / "in" / "a.zip");
    fs::remove_all(dir_ / "out");
    fs::create_directory(dir_ / "out");
    Make(command);
    UseArchive();
    int asked = 0;
    zip.OnPassword = [&](za::TZABaseArchiver*, const std::u16string&, std::string&, bool& skip) {
      ++asked;
      skip = true;
    };
    Extract("Secret7");
    EXPECT_EQ(asked, 0) << command;
    EXPECT_TRUE(failures.empty()) << command;
    EXPECT_TRUE(SameAsInput("text.txt")) << command;
    failures.clear();
  }
}

TEST_F(EncryptedTest, WrongPasswordIsAskedForThenSkippedOrReplaced) {
  if (!Have("7z")) GTEST_SKIP() << "7z missing";
  for (const char* method : {"AES256", "ZipCrypto"}) {
    fs::remove(dir_ / "in" / "a.zip");
    fs::remove_all(dir_ / "out");
    fs::create_directory(dir_ / "out");
    // Wrong passwords have to be turned away by the check for this test.
    for (int attempt = 0; attempt < 20; ++attempt) {
      fs::remove(dir_ / "in" / "a.zip");
      Make(std::string("7z a -tzip -pright -mem=") + method + " a.zip text.txt short.txt");
      if (RejectedByAll("in/a.zip", "wrong") && RejectedByAll("in/a.zip", "")) break;
    }
    UseArchive();
    // Skipped: nothing is written and no failure reported.
    std::vector<std::u16string> asked;
    zip.OnPassword = [&](za::TZABaseArchiver*, const std::u16string& name, std::string&, bool& skip) {
      asked.push_back(name);
      skip = true;
    };
    Extract("wrong");
    EXPECT_EQ(asked, (std::vector<std::u16string>{u"short.txt", u"text.txt"})) << method;
    EXPECT_TRUE(failures.empty()) << method;
    EXPECT_FALSE(fs::exists(dir_ / "out" / "text.txt")) << method;
    // The empty password is wrong too; the right one is kept for the next entry.
    asked.clear();
    zip.OnPassword = [&](za::TZABaseArchiver*, const std::u16string& name, std::string& password, bool&) {
      asked.push_back(name);
      EXPECT_EQ(password, "");
      password = "right";
    };
    Extract("");
    EXPECT_EQ(asked.size(), 1u) << method;
    EXPECT_TRUE(failures.empty()) << method;
    EXPECT_TRUE(SameAsInput("text.txt") && SameAsInput("short.txt")) << method;
  }
}

TEST_F(EncryptedTest, EmptyPasswordIsAPassword) {
  if (!Have("zip")) GTEST_SKIP() << "zip missing";
  // 7z reads a bare "-p" password from its input: an empty line.
  if (!Have("7z")) GTEST_SKIP() << "7z missing";
  for (const char* method : {"AES128", "ZipCrypto"}) {
    fs::remove(dir_ / "in" / "a.zip");
    Make(std::string("printf '\\n\\n' | 7z a -tzip -p -mem=") + method + " a.zip short.txt");
    UseArchive();
    bool asked = false;
    zip.OnPassword = [&](za::TZABaseArchiver*, const std::u16string&, std::string&, bool& skip) {
      asked = skip = true;
    };
    Extract("");
    EXPECT_FALSE(asked) << method;
    EXPECT_TRUE(SameAsInput("short.txt")) << method;
  }
}

// Letters and digits only, so the password passes through the shell as it is.
std::string LongPassword(std::size_t size) {
  std::string password;
  for (std::size_t i = 0; i < size; ++i) password.push_back("abcdefghijklmnopqrstuvwxyz0123456789"[i * 7 % 36]);
  return password;
}

TEST_F(EncryptedTest, PasswordsLongerThanAnHmacBlock) {
  if (!Have("7z") || !Have("zip")) GTEST_SKIP() << "7z or zip missing";
  // 65 bytes is one past the HMAC block, where the key is hashed first; 7z
  // takes at most 99 characters, Info-ZIP any length.
  const struct {
    const char* tool;
    std::size_t size;
  } cases[] = {{"7z a -tzip -mem=AES256 -p", 65}, {"7z a -tzip -mem=AES256 -p", 99},
               {"zip -q a.zip text.txt short.txt -P ", 65}, {"zip -q a.zip text.txt short.txt -P ", 1000}};
  for (const auto& c : cases) {
    std::string password = LongPassword(c.size), label = std::string(c.tool) + std::to_string(c.size);
    fs::remove(dir_ / "in" / "a.zip");
    bool sevenZip = std::string(c.tool).starts_with("7z");
    Make(c.tool + password + (sevenZip ? " a.zip text.txt short.txt" : ""));
    UseArchive();
    int asked = 0;
    zip.OnPassword = [&](za::TZABaseArchiver*, const std::u16string&, std::string&, bool& skip) {
      ++asked;
      skip = true;
    };
    fs::remove_all(dir_ / "out");
    fs::create_directory(dir_ / "out");
    Extract(password);
    EXPECT_EQ(asked, 0) << label;
    EXPECT_TRUE(failures.empty()) << label;
    EXPECT_TRUE(SameAsInput("text.txt") && SameAsInput("short.txt")) << label;
    // Only the last character differs, or the password is one shorter. The
    // classic header checks one byte, so a wrong password may pass it (one
    // in 256) and the entry then fails on its CRC: turned away either way.
    for (std::string wrong : {password.substr(0, c.size - 1) + "!", password.substr(0, c.size - 1)}) {
      fs::remove_all(dir_ / "out");
      fs::create_directory(dir_ / "out");
      asked = 0;
      failures.clear();
      Extract(wrong);
      EXPECT_EQ(asked + failures.size(), 2u) << label;
      if (sevenZip) {
        EXPECT_EQ(asked, 2) << label;
      }
      EXPECT_FALSE(fs::exists(dir_ / "out" / "text.txt") || fs::exists(dir_ / "out" / "short.txt")) << label;
    }
    failures.clear();
  }
}

TEST_F(EncryptedTest, AesEntriesAreAuthenticatedByVersion) {
  if (!Have("7z")) GTEST_SKIP() << "7z missing";
  Make("7z a -tzip -pright -mem=AES256 -mm=Copy a.zip text.txt");
  std::string original = Read("in/a.zip");
  // AE-2 writers store no CRC: a zero CRC must not fail the entry.
  SetVendorVersion(2);
  std::string bytes = Read("in/a.zip");
  std::size_t central = bytes.find(std::string("PK\x01\x02", 4));
  ASSERT_NE(central, std::string::npos);
  for (int i = 0; i < 4; ++i) bytes[central + 16 + i] = bytes[14 + i] = 0;
  Write("in/a.zip", bytes);
  UseArchive();
  Extract("right");
  EXPECT_TRUE(failures.empty());
  EXPECT_TRUE(SameAsInput("text.txt"));

  // One ciphertext byte altered. In counter mode the same plain byte flips,
  // so with the CRC of the altered text stored the CRC agrees: AE-1, judged
  // by its CRC, passes and gives that text; AE-2 fails on its code. With the
  // CRC of the original AE-1 fails too.
  std::string altered = Read("in/text.txt");
  altered[1000] ^= 0x01;
  const auto alteredCrc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(altered.data()), static_cast<uInt>(altered.size())));
  const struct {
    std::uint8_t version;
    bool storeAlteredCrc;
    std::vector<int> failures;
  } cases[] = {{2, true, {8}}, {1, true, {}}, {1, false, {8}}};
  for (const auto& c : cases) {
    fs::remove_all(dir_ / "out");
    fs::create_directory(dir_ / "out");
    Write("in/a.zip", original);
    SetVendorVersion(c.version);
    bytes = Read("in/a.zip");
    auto u8 = [&](std::size_t i) { return std::size_t{static_cast<std::uint8_t>(bytes[i])}; };
    std::size_t data = 30 + u8(26) + (u8(27) << 8) + u8(28) + (u8(29) << 8);
    bytes[data + 18 + 1000] ^= 0x01;  // after the 16-byte salt and the verifier
    if (c.storeAlteredCrc)
      for (int i = 0; i < 4; ++i)
        bytes[central + 16 + i] = bytes[14 + i] = static_cast<char>(alteredCrc >> (8 * i));
    Write("in/a.zip", bytes);
    UseArchive();
    failures.clear();
    Extract("right");
    EXPECT_EQ(failures, c.failures) << int(c.version) << c.storeAlteredCrc;
    if (c.failures.empty()) EXPECT_EQ(Read("out/text.txt"), altered);
  }
}

// Without an OnPassword handler the component asks through the ui/ password
// box; the headless backend plays the user.
struct HeadlessUser {
  HeadlessUser() { ui::headless::Reset(); }
  ~HeadlessUser() { ui::headless::Reset(); }
};

TEST_F(EncryptedTest, WithoutAHandlerThePasswordBoxIsAskedUntilItsAnswerIsRight) {
  if (!Have("zip")) GTEST_SKIP() << "zip missing";
  HeadlessUser user;
  fs::create_directory(dir_ / "in" / "docs");
  Write("in/docs/note.txt", std::string(5000, 'n') + "end of note");
  // "пароль" in the ANSI code page (1251), as a Russian Windows would pass it.
  const std::string ansi = "\xEF\xE0\xF0\xEE\xEB\xFC";
  for (int attempt = 0; attempt < 20; ++attempt) {
    fs::remove(dir_ / "in" / "a.zip");
    Make("zip -q -r -P '" + ansi + "' a.zip docs");
    if (RejectedByAll("in/a.zip", "wrong") && RejectedByAll("in/a.zip", "still wrong")) break;
  }
  UseArchive();
  std::vector<std::string> answers = {"still wrong", "пароль"};
  ui::headless::SetPasswordResponder([&](const ui::headless::PasswordDialogRecord&) -> std::optional<std::string> {
    if (answers.empty()) return std::nullopt;
    std::string next = answers.front();
    answers.erase(answers.begin());
    return next;
  });
  Extract("wrong");
  const auto& boxes = ui::headless::ShownPasswordDialogs();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].caption, "Password for \"docs/note.txt\"");
  EXPECT_EQ(boxes[0].prompt, "Enter password: ");
  EXPECT_EQ(boxes[0].text, "wrong");
  EXPECT_EQ(boxes[1].text, "still wrong");
  EXPECT_TRUE(failures.empty());
  EXPECT_TRUE(SameAsInput("docs/note.txt"));
  EXPECT_EQ(zip.Password(), ansi);

  // Cancel skips the entry without a failure and keeps the password.
  fs::remove_all(dir_ / "out");
  fs::create_directory(dir_ / "out");
  ui::headless::Reset();
  Extract("wrong");
  EXPECT_EQ(ui::headless::ShownPasswordDialogs().size(), 1u);
  EXPECT_TRUE(failures.empty());
  EXPECT_FALSE(fs::exists(dir_ / "out" / "docs" / "note.txt"));
  EXPECT_EQ(zip.Password(), "wrong");
}

}  // namespace
