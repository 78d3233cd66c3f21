// The archive component of the window asks its questions in the program's
// message boxes: captions, icons and buttons, the answers they give back,
// and a password typed as text and kept in the ANSI code page.
#include "app/archive_dialogs.h"

#include <gtest/gtest.h>

#include "app/form1.h"
#include "fake_system.h"
#include "sys/codepage.h"
#include "ui/headless.h"

namespace app {
namespace {

class ArchiveDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::headless::Reset();
    sys::SetAnsiCodePage(1251);
  }
  void TearDown() override {
    ui::headless::Reset();
    sys::SetAnsiCodePage(0);
  }
  za::TZAUserDialogs& dialogs = ArchiveDialogs();
};

TEST_F(ArchiveDialogsTest, TheWindowsComponentAsksThroughThem) {
  testing::FakeSystem system;
  TForm1 form{system};
  EXPECT_EQ(&form.ZipArchiver1->Dialogs(), &dialogs);
}

TEST_F(ArchiveDialogsTest, EachQuestionIsABoxWithItsButtonsAndItsAnswer) {
  ui::headless::SetDialogResponder([](const ui::headless::DialogRecord& box) {
    return box.options.buttons == ui::DialogButtons::AbortRetryIgnore ? ui::DialogResult::Retry
           : box.options.buttons == ui::DialogButtons::AbortIgnore    ? ui::DialogResult::Ignore
           : box.options.buttons == ui::DialogButtons::OkCancel       ? ui::DialogResult::Cancel
                                                                      : ui::DialogResult::NoToAll;
  });
  EXPECT_EQ(dialogs.ConfirmFailure(u"Cannot open file", true), za::fxaRetry);
  EXPECT_EQ(dialogs.ConfirmFailure(u"Файл не открыт", false), za::fxaIgnore);
  EXPECT_EQ(dialogs.ConfirmOverwrite(u"Overwrite file"), za::TZAUserDialogs::oaNoToAll);
  EXPECT_FALSE(dialogs.ConfirmVolume(u"Please insert blank disk #2"));
  const auto& boxes = ui::headless::ShownDialogs();
  ASSERT_EQ(boxes.size(), 4u);
  for (const auto& box : boxes) EXPECT_EQ(box.caption, "Confirm") << box.text;
  EXPECT_EQ(boxes[0].options.icon, ui::DialogIcon::Question);
  EXPECT_EQ(boxes[1].text, "Файл не открыт");
  EXPECT_EQ(boxes[1].options.buttons, ui::DialogButtons::AbortIgnore);
  EXPECT_EQ(boxes[2].options.buttons, ui::DialogButtons::YesNoNoToAllYesToAll);
  EXPECT_EQ(boxes[3].options.icon, ui::DialogIcon::Warning);

  ui::headless::SetDialogResponder([](const ui::headless::DialogRecord&) { return ui::DialogResult::Abort; });
  EXPECT_EQ(dialogs.ConfirmFailure(u"Cannot open file", true), za::fxaAbort);
}

TEST_F(ArchiveDialogsTest, APasswordIsTypedAsTextAndKeptInTheAnsiCodePage) {
  ui::headless::SetPasswordResponder(
      [](const ui::headless::PasswordDialogRecord&) -> std::optional<std::string> { return "пароль"; });
  std::string password = "old";
  ASSERT_TRUE(dialogs.AskPassword(u"Password for \"a.txt\"", password));
  EXPECT_EQ(password, "\xEF\xE0\xF0\xEE\xEB\xFC");  // 1251, as a Russian Windows keeps it
  const auto& boxes = ui::headless::ShownPasswordDialogs();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Password for \"a.txt\"");
  EXPECT_EQ(boxes[0].prompt, "Enter password: ");
  EXPECT_EQ(boxes[0].text, "old");

  ui::headless::SetPasswordResponder([](const ui::headless::PasswordDialogRecord&) { return std::nullopt; });
  EXPECT_FALSE(dialogs.AskPassword(u"Password", password));
  EXPECT_EQ(password, "\xEF\xE0\xF0\xEE\xEB\xFC");
}

}  // namespace
}  // namespace app
