#pragma once

namespace app {

// Program start: the title, the window from its description, the message
// loop until the window closes. Returns the process exit code.
int RunSetup();

}  // namespace app
