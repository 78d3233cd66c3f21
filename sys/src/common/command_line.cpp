#include "command_line.h"

namespace sys {

std::vector<std::string> SplitArguments(std::string_view text) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = text.size();
  for (;;) {
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= n) return args;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || (text[i] != ' ' && text[i] != '\t'))) {
      if (text[i] == '\\') {
        size_t slashes = 0;
        while (i < n && text[i] == '\\') ++slashes, ++i;
        if (i < n && text[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(slashes, '\\');
        }
      } else if (text[i] == '"') {
        if (quoted && i + 1 < n && text[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += text[i++];
      }
    }
    args.push_back(std::move(arg));
  }
}

}  // namespace sys
