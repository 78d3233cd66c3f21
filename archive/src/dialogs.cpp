#include "archive/dialogs.h"

namespace za {

namespace {

// The engine links no window toolkit: without a program's own dialogs
// every question is answered the way that keeps what is there. A failure
// ends the batch, a file is not overwritten, an encrypted entry without a
// password is skipped and no disk is taken as inserted.
class TZAUnattendedDialogs final : public TZAUserDialogs {
 public:
  TZAAction ConfirmFailure(const std::u16string&, bool) override { return fxaAbort; }
  TOverwriteAnswer ConfirmOverwrite(const std::u16string&) override { return oaNo; }
  bool AskPassword(const std::u16string&, std::string&) override { return false; }
};

TZAUnattendedDialogs g_unattended;
TZAUserDialogs* g_dialogs = &g_unattended;

}  // namespace

TZAUserDialogs& ZADefaultDialogs() { return *g_dialogs; }
void SetZADefaultDialogs(TZAUserDialogs* dialogs) { g_dialogs = dialogs ? dialogs : &g_unattended; }

}  // namespace za
