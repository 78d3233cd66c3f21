#pragma once
// The archive engine's questions to the user (failures, overwriting,
// passwords, disks) as the window toolkit's message boxes.
#include "archive/dialogs.h"

namespace app {

za::TZAUserDialogs& ArchiveDialogs();

}  // namespace app
