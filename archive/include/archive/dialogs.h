#pragma once
// The engine's own questions to the user, asked when an event has no
// handler. The engine answers them itself, unattended, unless a program
// puts its own in place, for all components or for one: the setup program
// its window toolkit's message boxes, zarc its terminal's questions.
#include <string>

#include "archive/types.h"

namespace za {

class TZAUserDialogs {
 public:
  enum TOverwriteAnswer { oaYes, oaNo, oaNoToAll, oaYesToAll };
  virtual ~TZAUserDialogs() = default;
  // A confirmation box with Abort, Retry and Ignore, or Abort and Ignore.
  virtual TZAAction ConfirmFailure(const std::u16string& text, bool withRetry) = 0;
  // A confirmation box with Yes, No, No to All and Yes to All.
  virtual TOverwriteAnswer ConfirmOverwrite(const std::u16string& text) = 0;
  // The password dialog; false when the user skips the entry.
  virtual bool AskPassword(const std::u16string& title, std::string& password) = 0;
  // A box with OK and Cancel that asks for a disk of a spanned archive;
  // true for OK. Without a box of its own a set of dialogs refuses.
  virtual bool ConfirmVolume(const std::u16string& /*text*/) { return false; }
};

// The dialogs used by components that have none of their own: unattended
// answers unless replaced (nullptr restores them).
TZAUserDialogs& ZADefaultDialogs();
void SetZADefaultDialogs(TZAUserDialogs* dialogs);

}  // namespace za
