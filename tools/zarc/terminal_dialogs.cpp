// The engine's questions that no handler of zarc's answers, asked on the
// terminal; without one they get the answer that keeps what is there.
#include <string>

#include "archive/dialogs.h"
#include "commands.h"
#include "console.h"
#include "sys/codepage.h"

namespace zarc {

namespace {

// The first letter of the answer typed, lower case; 0 without a terminal or
// an answer.
char Answer(const std::u16string& text, const std::string& choices) {
  if (!IsTerminal(StdStream::Input)) return 0;
  std::string line;
  if (!ReadLine(sys::WideToUtf8(text) + " " + choices + " ", line) || line.empty()) return 0;
  char c = line[0];
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

class TerminalDialogs final : public za::TZAUserDialogs {
 public:
  za::TZAAction ConfirmFailure(const std::u16string& text, bool withRetry) override {
    switch (Answer(text, withRetry ? "[a]bort, [r]etry, [i]gnore?" : "[a]bort, [i]gnore?")) {
      case 'r': return withRetry ? za::fxaRetry : za::fxaAbort;
      case 'i': return za::fxaIgnore;
      default: return za::fxaAbort;
    }
  }
  TOverwriteAnswer ConfirmOverwrite(const std::u16string& text) override {
    std::string line;
    if (!IsTerminal(StdStream::Input) ||
        !ReadLine(sys::WideToUtf8(text) + "? [y]es, [n]o, [A]ll, [N]one: ", line) || line.empty())
      return oaNo;
    switch (line[0]) {
      case 'y': return oaYes;
      case 'A': return oaYesToAll;
      case 'N': return oaNoToAll;
      default: return oaNo;
    }
  }
  bool AskPassword(const std::u16string& title, std::string& password) override {
    std::string typed;
    if (!IsTerminal(StdStream::Input) || !ReadSecretLine(sys::WideToUtf8(title) + ": ", typed) || typed.empty())
      return false;
    password = sys::WideToAnsi(sys::Utf8ToWide(typed));
    return true;
  }
  bool ConfirmVolume(const std::u16string& text) override {
    return Answer(text, "[c]ontinue, [s]top?") == 'c';
  }
};

}  // namespace

za::TZAUserDialogs& ZarcDialogs() {
  static TerminalDialogs dialogs;
  return dialogs;
}

}  // namespace zarc
