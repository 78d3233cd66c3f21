// Default dialogs through ui/ message boxes.
#include "archive/dialogs.h"
#include "sys/codepage.h"
#include "ui/dialogs.h"

namespace za {

namespace {

const char kConfirmCaption[] = "Confirm";

class TZAUiDialogs : public TZAUserDialogs {
 public:
  TZAAction ConfirmFailure(const std::u16string& text, bool withRetry) override {
    ui::MessageBoxOptions options;
    options.icon = ui::DialogIcon::Question;
    options.buttons = withRetry ? ui::DialogButtons::AbortRetryIgnore : ui::DialogButtons::AbortIgnore;
    switch (ui::ShowMessageBox(sys::WideToUtf8(text), kConfirmCaption, options)) {
      case ui::DialogResult::Retry: return fxaRetry;
      case ui::DialogResult::Ignore: return fxaIgnore;
      default: return fxaAbort;
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
  bool AskPassword(const std::u16string&, std::string&) override {
    return false;  // no password entry in ui/ yet: the entry is skipped
  }
};

TZAUiDialogs g_uiDialogs;
TZAUserDialogs* g_dialogs = &g_uiDialogs;

}  // namespace

TZAUserDialogs& ZADefaultDialogs() { return *g_dialogs; }
void SetZADefaultDialogs(TZAUserDialogs* dialogs) { g_dialogs = dialogs ? dialogs : &g_uiDialogs; }

}  // namespace za
