// Opening the files the launcher writes to every account, and the ownership fallback.
#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <shlwapi.h>

#include <cwchar>

#include "src/trust/permissions.h"
#include "src/trust/permissions_steps.h"
#include "src/trust/safe_file.h"
#include "zeb/log.h"
#include "zeb/memory.h"

namespace {

constexpr char kEveryoneTag[] = "util_change_permissions_everyone";
constexpr char kOwnershipTag[] = "util_take_ownership";
constexpr char kPrivilegeTag[] = "util_set_privilege";

class SidHolder {
 public:
  SidHolder() = default;
  ~SidHolder() {
    if (sid_) FreeSid(sid_);
  }
  SidHolder(const SidHolder &) = delete;
  SidHolder &operator=(const SidHolder &) = delete;
  PSID *out() { return &sid_; }
  PSID get() const { return sid_; }

 private:
  PSID sid_ = nullptr;
};

bool make_everyone(SidHolder *sid) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  return AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, sid->out());
}

bool make_administrators(SidHolder *sid) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  return AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, sid->out());
}

// Sets one part of the file's security through a second handle to the same file, opened for
// just that change. The platform's error code; 0 on success.
DWORD set_security(HANDLE file, DWORD access, SECURITY_INFORMATION part, PSID owner, PACL list) {
  // Reading the present descriptor is part of setting one.
  ScopedHandle writer(safe_file_reopen(file, access | READ_CONTROL));
  if (!writer.get()) return GetLastError();
  // The DACL alone (no protection flags) leaves the file's inheritance from its parent as it was.
  return SetSecurityInfo(writer.get(), SE_FILE_OBJECT, part, owner, nullptr, list, nullptr);
}

DWORD set_dacl(HANDLE file, PACL list) {
  return set_security(file, WRITE_DAC, DACL_SECURITY_INFORMATION, nullptr, list);
}

}  // namespace

bool util_change_permissions_everyone(const wchar_t *path, uint32_t rights) {
  void *file = nullptr;
  const SafeFileOpen opened =
      safe_file_open_wide(path, SAFE_FILE_INSPECT, SAFE_FILE_SHARE_ALL, false, &file);
  if (opened != SAFE_FILE_OPENED) {
    // A link or second name was reported by the open; anything else fails like the first query.
    if (opened != SAFE_FILE_REFUSED)
      ZEB_LogError(kEveryoneTag, "GetFileSecurity() failed. Error %d", int(GetLastError()));
    return false;
  }
  const bool done = util_change_permissions_everyone_open(file, rights);
  handle_reset(&file);
  return done;
}

bool util_change_permissions_everyone_open(void *file, uint32_t rights) {
  SidHolder everyone;
  if (!make_everyone(&everyone)) return false;

  DWORD needed = 0;
  if (GetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, nullptr, 0, &needed)) return false;
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    ZEB_LogError(kEveryoneTag, "GetFileSecurity() failed. Error %d", int(GetLastError()));
    return false;
  }
  void *descriptor = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed);
  if (!descriptor) {
    ZEB_LogError(kEveryoneTag, "HeapAlloc() failed. Error %d", int(GetLastError()));
    return false;
  }

  bool done = false;
  PACL list = nullptr;
  SECURITY_DESCRIPTOR updated;
  if (!GetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, descriptor, needed, &needed)) {
    ZEB_LogError(kEveryoneTag, "GetFileSecurity() failed. Error %d", int(GetLastError()));
  } else if (util_everyone_dacl(descriptor, everyone.get(), rights, &updated, &list)) {
    // The descriptor carries the old DACL's protection and inheritance bits with the new list.
    const ScopedHandle writer(safe_file_reopen(file, WRITE_DAC));
    done =
        writer.get() && SetKernelObjectSecurity(writer.get(), DACL_SECURITY_INFORMATION, &updated);
    if (!done)
      ZEB_LogError(kEveryoneTag, "SetFileSecurity() failed. Error %d", int(GetLastError()));
  }
  if (list) HeapFree(GetProcessHeap(), 0, list);
  HeapFree(GetProcessHeap(), 0, descriptor);
  return done;
}

bool util_take_ownership(const wchar_t *path) {
  const size_t length = wcslen(path);
  auto *copy = static_cast<wchar_t *>(ZEB_Alloc(length + 1, sizeof(wchar_t)));
  wmemcpy(copy, path, length + 1);
  void *file = nullptr;
  if (!PathIsNetworkPathW(copy)) {
    if (length > 0 && (copy[length - 1] == L'\\' || copy[length - 1] == L'/')) copy[length - 1] = 0;
    safe_file_open_wide(copy, SAFE_FILE_INSPECT, SAFE_FILE_SHARE_ALL, false, &file);
  }
  ZEB_Free(copy);
  // Network paths, links, files with another name and files that cannot be opened are left alone.
  if (!file) return true;
  const bool done = util_take_ownership_open(file);
  handle_reset(&file);
  return done;
}

bool util_take_ownership_open(void *file) {
  SidHolder everyone;
  SidHolder admins;
  if (!make_everyone(&everyone)) {
    ZEB_LogError(kOwnershipTag, "AllocateAndInitializeSid (Everyone) error %u\n",
                 unsigned(GetLastError()));
    return false;
  }
  if (!make_administrators(&admins)) {
    ZEB_LogError(kOwnershipTag, "AllocateAndInitializeSid (Admin) error %u\n",
                 unsigned(GetLastError()));
    return false;
  }

  EXPLICIT_ACCESSW entries[2] = {};
  entries[0].grfAccessPermissions = GENERIC_READ;
  entries[0].grfAccessMode = SET_ACCESS;
  entries[0].grfInheritance = NO_INHERITANCE;
  entries[0].Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entries[0].Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  entries[0].Trustee.ptstrName = static_cast<LPWSTR>(everyone.get());
  entries[1].grfAccessPermissions = GENERIC_ALL;
  entries[1].grfAccessMode = SET_ACCESS;
  entries[1].grfInheritance = NO_INHERITANCE;
  entries[1].Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entries[1].Trustee.TrusteeType = TRUSTEE_IS_GROUP;
  entries[1].Trustee.ptstrName = static_cast<LPWSTR>(admins.get());

  PACL list = nullptr;
  bool done = false;
  if (SetEntriesInAclW(2, entries, nullptr, &list) != ERROR_SUCCESS) {
    ZEB_LogError(kOwnershipTag, "Failed SetEntriesInAcl");
  } else if (const DWORD result = set_dacl(file, list); result == ERROR_SUCCESS) {
    done = true;
  } else if (result != ERROR_ACCESS_DENIED) {
    ZEB_LogError(kOwnershipTag, "First SetNamedSecurityInfo call failed: %u", unsigned(result));
  } else {
    done = util_owner_then_dacl(file, admins.get(), list);
  }
  local_free(list);
  return done;
}

bool util_owner_then_dacl(HANDLE file, PSID admins, PACL list) {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &opened) || !opened) {
    ZEB_LogError(kOwnershipTag, "OpenProcessToken failed: %u", unsigned(GetLastError()));
    return false;
  }
  const ScopedHandle token(opened);
  if (!util_set_privilege(token.get(), true)) {
    ZEB_LogError(kOwnershipTag, "User is not an administrator.");
    return false;
  }
  // The privilege grants the right to change the owner when the handle for it is opened.
  const DWORD owner = set_security(file, WRITE_OWNER, OWNER_SECURITY_INFORMATION, admins, nullptr);
  if (!util_set_privilege(token.get(), false))
    ZEB_LogError(kOwnershipTag, "Failed SetPrivilege call unexpectedly.");
  if (owner != ERROR_SUCCESS) {
    ZEB_LogError(kOwnershipTag, "Could not set owner. Error: %u", unsigned(owner));
    return false;
  }
  if (const DWORD result = set_dacl(file, list); result != ERROR_SUCCESS) {
    ZEB_LogError(kOwnershipTag, "Second SetNamedSecurityInfo call failed: %u", unsigned(result));
    return false;
  }
  return true;
}

bool util_set_privilege(void *token, bool enable) {
  LUID id;
  if (!LookupPrivilegeValueW(nullptr, L"SeTakeOwnershipPrivilege", &id)) {
    ZEB_LogError(kPrivilegeTag, "LookupPrivilegeValue error: %u", unsigned(GetLastError()));
    return false;
  }
  TOKEN_PRIVILEGES privileges = {};
  static_assert(sizeof(privileges) == 16);
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid = id;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  if (!AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), nullptr, nullptr)) {
    ZEB_LogError(kPrivilegeTag, "AdjustTokenPrivileges error: %u\n", unsigned(GetLastError()));
    return false;
  }
  // Success with ERROR_NOT_ALL_ASSIGNED: the token lacks the privilege altogether.
  if (GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
    ZEB_LogError(kPrivilegeTag, "The token does not have the specified privilege.");
    return false;
  }
  return true;
}
