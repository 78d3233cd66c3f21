// Without an OnPassword handler the component asks through the ui/ password
// box; the headless backend plays the user.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archiver.h"
#include "temp_dir.h"
#include "ui/headless.h"

namespace fs = std::filesystem;

namespace {

class PasswordDialogTest : public zatest::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    ui::headless::Reset();
    fs::create_directories(dir_ / "in" / "docs");
    fs::create_directory(dir_ / "out");
    Write("in/docs/note.txt", std::string(5000, 'n') + "end of note");
    zip.OnProcessFileFailure = [this](za::TZABaseArchiver*, const std::u16string&, za::TZAProcessOperation,
                                      std::int32_t native, std::int32_t, const std::u16string&, za::TZAAction& a) {
      failures.push_back(native);
      a = za::fxaIgnore;
    };
  }
  void TearDown() override {
    ui::headless::Reset();
    TempDirTest::TearDown();
  }
  // False when the tool is missing.
  bool Make(const std::string& command) {
    std::string tool = command.substr(0, command.find(' '));
    if (std::system(("command -v " + tool + " >/dev/null").c_str()) != 0) return false;
    EXPECT_EQ(std::system(("cd " + Path("in") + " && " + command + " >/dev/null 2>&1").c_str()), 0) << command;
    return true;
  }
  void Extract(const std::string& password) {
    zip.SetFileName(WidePath("in/a.zip"));
    zip.SetPassword(password);
    zip.OpenArchive();
    zip.SetBaseDir(WidePath("out"));
    zip.ExtractFiles(u"*.*", 10431, u"");
    zip.CloseArchive();
  }
  za::TZipArchiver zip;
  std::vector<int> failures;
};

TEST_F(PasswordDialogTest, TheBoxIsAskedAgainUntilItsAnswerIsRight) {
  // "пароль" in the ANSI code page (1251), as a Russian Windows would pass it.
  const std::string ansi = "\xEF\xE0\xF0\xEE\xEB\xFC";
  for (int attempt = 0; attempt < 20; ++attempt) {
    fs::remove(dir_ / "in" / "a.zip");
    if (!Make("zip -q -r -P '" + ansi + "' a.zip docs")) GTEST_SKIP() << "zip missing";
    if (RejectedByAll("in/a.zip", "wrong") && RejectedByAll("in/a.zip", "still wrong")) break;
  }
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
  EXPECT_EQ(Read("out/docs/note.txt"), Read("in/docs/note.txt"));
  EXPECT_EQ(zip.Password(), ansi);
}

TEST_F(PasswordDialogTest, CancelSkipsTheEntryWithoutAFailure) {
  if (!Make("7z a -tzip -pright -mem=AES256 a.zip docs")) GTEST_SKIP() << "7z missing";
  Extract("wrong");
  ASSERT_EQ(ui::headless::ShownPasswordDialogs().size(), 1u);
  EXPECT_TRUE(failures.empty());
  EXPECT_FALSE(fs::exists(dir_ / "out" / "docs" / "note.txt"));
  EXPECT_EQ(zip.Password(), "wrong");
}

}  // namespace
