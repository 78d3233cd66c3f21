#pragma once
#include <windows.h>

namespace sys::win32 {

bool IsUserAnAdmin();
// The last route of IsUserAnAdmin, reachable on its own for tests.
bool IsAdministratorsMember(HANDLE token);
// CheckTokenMembership built from AccessCheck, for systems without it.
BOOL EmulateCheckTokenMembership(HANDLE token, PSID group, PBOOL isMember);

}  // namespace sys::win32
