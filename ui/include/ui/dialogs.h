#pragma once
// Modal message boxes and the password entry box.
#include <string>

namespace ui {

enum class DialogIcon { None, Error, Warning, Information, Question };
enum class DialogButtons {
  Ok, OkCancel, YesNo, YesNoCancel, AbortRetryIgnore, RetryCancel,
  AbortIgnore,           // the system's boxes have no such set: a dialog of our own
  YesNoNoToAllYesToAll,  // likewise
};
enum class DialogResult { Ok, Cancel, Yes, No, Abort, Retry, Ignore, NoToAll, YesToAll };

struct MessageBoxOptions {
  DialogIcon icon = DialogIcon::None;
  DialogButtons buttons = DialogButtons::Ok;
  // Centred on the screen rather than over the active window.
  bool centerOnScreen = false;
};

// Shows a modal box over the active form and waits for the answer. Texts
// are UTF-8.
DialogResult ShowMessageBox(const std::string& text, const std::string& caption,
                            const MessageBoxOptions& options = {});

// A modal box that asks for a password, centred on the screen: `prompt`
// over an edit box of at most 255 characters, each shown as "*", that starts
// with `text` all selected, and OK and Cancel. On OK `text` becomes what was
// entered and the result is true; on Cancel `text` stays as it was. Texts
// are UTF-8.
bool ShowPasswordDialog(const std::string& caption, const std::string& prompt, std::string& text);

}  // namespace ui
