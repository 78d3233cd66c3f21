#pragma once
#include <string>
#include <vector>

namespace app {

// Program start: the title, then, without arguments, the window from its
// description and the message loop until the window closes; with arguments,
// what the command line asks (app/unattended.h). `args` are the arguments
// after the program's name, in UTF-8. Returns the process exit code.
int RunSetup(const std::vector<std::string>& args = {});

}  // namespace app
