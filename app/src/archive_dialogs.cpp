#include "app/archive_dialogs.h"

#include "sys/codepage.h"
#include "ui/dialogs.h"

namespace app {

namespace {

const char kConfirmCaption[] = "Confirm";
const char kPasswordPrompt[] = "Enter password: ";

class UiArchiveDialogs final : public za::TZAUserDialogs {
 public:
  za::TZAAction ConfirmFailure(const std::u16string& text, bool withRetry) override {
    ui::MessageBoxOptions options;
    options.icon = ui::DialogIcon::Question;
    options.buttons = withRetry ? ui::DialogButtons::AbortRetryIgnore : ui::DialogButtons::AbortIgnore;
    switch (ui::ShowMessageBox(sys::WideToUtf8(text), kConfirmCaption, options)) {
      case ui::DialogResult::Retry: return za::fxaRetry;
      case ui::DialogResult::Ignore: return za::fxaIgnore;
      default: return za::fxaAbort;
    }
  }
  TOverwriteAnswer ConfirmOverwrite(const std::u16string& text) override {
    ui::MessageBoxOptions options;
    options.icon = ui::DialogIcon::Question;
    options.buttons = ui::DialogButtons::YesNoNoToAllYesToAll;
    switch (ui::ShowMessageBox(sys::WideToUtf8(text), kConfirmCaption, options)) {
      case ui::DialogResult::Yes: return oaYes;
      case ui::DialogResult::NoToAll: return oaNoToAll;
      case ui::DialogResult::YesToAll: return oaYesToAll;
      default: return oaNo;
    }
  }
  bool ConfirmVolume(const std::u16string& text) override {
    ui::MessageBoxOptions options;
    options.icon = ui::DialogIcon::Warning;
    options.buttons = ui::DialogButtons::OkCancel;
    return ui::ShowMessageBox(sys::WideToUtf8(text), kConfirmCaption, options) == ui::DialogResult::Ok;
  }
  bool AskPassword(const std::u16string& title, std::string& password) override {
    // The component's password is text in the ANSI code page, as the box's
    // own text would be on a system without Unicode.
    std::string text = sys::WideToUtf8(sys::AnsiToWide(password));
    if (!ui::ShowPasswordDialog(sys::WideToUtf8(title), kPasswordPrompt, text)) return false;
    password = sys::WideToAnsi(sys::Utf8ToWide(text));
    return true;
  }
};

}  // namespace

za::TZAUserDialogs& ArchiveDialogs() {
  static UiArchiveDialogs dialogs;
  return dialogs;
}

}  // namespace app
