// Administrator check with the fallback order of older Windows versions:
// shell32's IsUserAnAdmin, then SHTestTokenMembership, then a membership
// test of the built-in Administrators alias, itself emulated with
// AccessCheck where advapi32 lacks CheckTokenMembership.
#include <windows.h>

#include <vector>

#include "admin_win32.h"
#include "lazy_library.h"

namespace sys::win32 {
namespace {

using IsUserAnAdminFn = BOOL(WINAPI*)();
using SHTestTokenMembershipFn = BOOL(WINAPI*)(HANDLE, ULONG);
using CheckTokenMembershipFn = BOOL(WINAPI*)(HANDLE, PSID, PBOOL);

constexpr DWORD kAdministratorsRid = DOMAIN_ALIAS_RID_ADMINS;  // 544

LazyLibrary& Shell32() {
  static LazyLibrary library("SHELL32");
  return library;
}
LazyLibrary& Advapi32() {
  static LazyLibrary library("ADVAPI32");
  return library;
}

// Closes a token only when this code opened it, never the caller's.
class OwnedToken {
 public:
  OwnedToken() = default;
  OwnedToken(const OwnedToken&) = delete;
  OwnedToken& operator=(const OwnedToken&) = delete;
  ~OwnedToken() {
    if (handle_) CloseHandle(handle_);
  }
  HANDLE* Receive() { return &handle_; }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};

// The current thread's impersonation token, or an impersonation copy of the
// process token when the thread has none.
bool OpenImpersonationToken(OwnedToken& token) {
  if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, token.Receive())) return true;
  if (GetLastError() != ERROR_NO_TOKEN) return false;
  HANDLE process = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &process)) return false;
  BOOL duplicated = DuplicateToken(process, SecurityImpersonation, token.Receive());
  CloseHandle(process);
  return duplicated != FALSE;
}

}  // namespace

// CheckTokenMembership for systems without it: a security descriptor owned
// by the group whose list grants access 1 to the group alone; the token is a
// member exactly when AccessCheck grants that access.
BOOL EmulateCheckTokenMembership(HANDLE callerToken, PSID group, PBOOL isMember) {
  *isMember = FALSE;
  OwnedToken owned;
  HANDLE token = callerToken;
  if (!token) {
    if (!OpenImpersonationToken(owned)) return FALSE;
    token = owned.Get();
  }
  const DWORD sidLength = GetLengthSid(group);
  // The access list follows the descriptor, whose size is that of its
  // pointers: 20 bytes in a 32-bit process, 40 in a 64-bit one.
  const DWORD aclOffset = sizeof(SECURITY_DESCRIPTOR);
  static_assert(sizeof(SECURITY_DESCRIPTOR) % sizeof(DWORD) == 0, "the access list must be DWORD-aligned");
  const DWORD aclLength = 3 * sidLength + 20;
  std::vector<BYTE> block(aclOffset + aclLength, 0);
  auto* descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(block.data());
  auto* acl = reinterpret_cast<PACL>(block.data() + aclOffset);
  if (!InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION)) return FALSE;
  if (!SetSecurityDescriptorOwner(descriptor, group, FALSE)) return FALSE;
  if (!SetSecurityDescriptorGroup(descriptor, group, FALSE)) return FALSE;
  if (!InitializeAcl(acl, aclLength, ACL_REVISION2)) return FALSE;
  if (!AddAccessAllowedAce(acl, ACL_REVISION2, 1, group)) return FALSE;
  if (!SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE)) return FALSE;
  GENERIC_MAPPING mapping = {0x20000, 0x20000, 0x20000, 0x1F0000};
  BYTE privileges[56] = {};
  DWORD privilegesLength = sizeof privileges;
  DWORD granted = 0;
  BOOL status = FALSE;
  BOOL result = AccessCheck(descriptor, token, 1, &mapping,
                            reinterpret_cast<PPRIVILEGE_SET>(privileges), &privilegesLength,
                            &granted, &status);
  if (result) *isMember = (status && granted == 1) ? TRUE : FALSE;
  return result;
}

namespace {

BOOL CheckMembership(HANDLE token, PSID group, PBOOL isMember) {
  static LazyFunction<CheckTokenMembershipFn> check(Advapi32(), "CheckTokenMembership");
  if (CheckTokenMembershipFn fn = check.Get()) return fn(token, group, isMember);
  return EmulateCheckTokenMembership(token, group, isMember);
}

}  // namespace

bool IsAdministratorsMember(HANDLE token) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID sid = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, kAdministratorsRid, 0, 0, 0, 0,
                                0, 0, &sid))
    return false;
  BOOL member = FALSE;
  bool answer = CheckMembership(token, sid, &member) && member;
  FreeSid(sid);
  return answer;
}

bool IsUserAnAdmin() {
  static LazyFunction<IsUserAnAdminFn> isUserAnAdmin(Shell32(), "IsUserAnAdmin");
  static LazyFunction<SHTestTokenMembershipFn> testMembership(Shell32(), "SHTestTokenMembership");
  if (IsUserAnAdminFn fn = isUserAnAdmin.Get()) return fn() != FALSE;
  if (SHTestTokenMembershipFn fn = testMembership.Get()) return fn(nullptr, kAdministratorsRid) != FALSE;
  return IsAdministratorsMember(nullptr);
}

}  // namespace sys::win32
