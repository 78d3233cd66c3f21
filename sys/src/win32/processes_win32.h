#pragma once
#include "sys/system.h"

namespace sys::win32 {

void FillProcessList(ProcessList* list);
// The two routes, reachable on their own for tests.
void FillByToolHelp(ProcessList& list);
void FillByProcessStatus(ProcessList& list);

}  // namespace sys::win32
