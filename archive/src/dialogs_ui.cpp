// Default dialogs through ui/ message boxes.
#include "archive/dialogs.h"
#include "sys/codepage.h"
#include "ui/dialogs.h"

namespace za {

namespace {

const char kConfirmCaption[] = "Confirm";

class TZAUiDialogs : public TZAUserDialogs {
 public:
  TZAAction ConfirmFailure(const std::u16string& text, bool) override {
    // ui/ has no Abort/Ignore set; with Retry the same failure is met again
    // and asked again, so Abort and Ignore keep their meaning.
    ui::MessageBoxOptions options;
    options.icon = ui::DialogIcon::Question;
    options.buttons = ui::DialogButtons::AbortRetryIgnore;
    switch (ui::ShowMessageBox(sys::WideToUtf8(text), kConfirmCaption, options)) {
      case ui::DialogResult::Retry: return fxaRetry;
      case ui::DialogResult::Ignore: return fxaIgnore;
      default: return fxaAbort;
    }
  }
  TOverwriteAnswer ConfirmOverwrite(const std::u16string& text) override {
    // Yes and No only: ui/ has no set with No to All and Yes to All.
    ui::MessageBoxOptions options;
    options.icon = ui::DialogIcon::Question;
    options.buttons = ui::DialogButtons::YesNo;
    return ui::ShowMessageBox(sys::WideToUtf8(text), kConfirmCaption, options) == ui::DialogResult::Yes ? oaYes
                                                                                                          : oaNo;
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
