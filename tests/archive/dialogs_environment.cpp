// The engine's questions are answered in the window toolkit's boxes
// (headless natively, real windows under Wine), so that a test answers
// them as a user would. The setup program's own boxes are checked with the
// program (tests/app); these stand in for them without linking it.
#include <gtest/gtest.h>

#include "archive/dialogs.h"
#include "sys/codepage.h"
#include "ui/dialogs.h"

namespace {

class BoxDialogs final : public za::TZAUserDialogs {
 public:
  za::TZAAction ConfirmFailure(const std::u16string& text, bool withRetry) override {
    switch (Box(text, withRetry ? ui::DialogButtons::AbortRetryIgnore : ui::DialogButtons::AbortIgnore)) {
      case ui::DialogResult::Retry: return za::fxaRetry;
      case ui::DialogResult::Ignore: return za::fxaIgnore;
      default: return za::fxaAbort;
    }
  }
  TOverwriteAnswer ConfirmOverwrite(const std::u16string& text) override {
    switch (Box(text, ui::DialogButtons::YesNoNoToAllYesToAll)) {
      case ui::DialogResult::Yes: return oaYes;
      case ui::DialogResult::NoToAll: return oaNoToAll;
      case ui::DialogResult::YesToAll: return oaYesToAll;
      default: return oaNo;
    }
  }
  bool ConfirmVolume(const std::u16string& text) override {
    return Box(text, ui::DialogButtons::OkCancel) == ui::DialogResult::Ok;
  }
  // A password is typed as text and kept in the ANSI code page, as the
  // program keeps it.
  bool AskPassword(const std::u16string& title, std::string& password) override {
    std::string typed = sys::WideToUtf8(sys::AnsiToWide(password));
    if (!ui::ShowPasswordDialog(sys::WideToUtf8(title), "Enter password: ", typed)) return false;
    password = sys::WideToAnsi(sys::Utf8ToWide(typed));
    return true;
  }

 private:
  static ui::DialogResult Box(const std::u16string& text, ui::DialogButtons buttons) {
    ui::MessageBoxOptions options;
    options.buttons = buttons;
    return ui::ShowMessageBox(sys::WideToUtf8(text), "Confirm", options);
  }
};

class DialogsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { za::SetZADefaultDialogs(&dialogs_); }
  void TearDown() override { za::SetZADefaultDialogs(nullptr); }

 private:
  BoxDialogs dialogs_;
};

const auto* const kRegistered = ::testing::AddGlobalTestEnvironment(new DialogsEnvironment);

}  // namespace
