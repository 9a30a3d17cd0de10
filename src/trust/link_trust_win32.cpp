// Walking the DACLs of a link and of its directory for rights held outside the administering
// accounts.
#include <windows.h>
// After windows.h.
#include <aclapi.h>

#include <cwchar>

#include "src/trust/handle.h"
#include "src/trust/link_trust.h"
#include "src/trust/real_path.h"
#include "zeb/memory.h"

namespace {

// What would let an account point the link elsewhere, or replace or remove it.
constexpr ACCESS_MASK kChangesLink =
    FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | WRITE_DAC | WRITE_OWNER | DELETE;
// What in its directory would let an account remove it, or grant itself that right.
constexpr ACCESS_MASK kChangesEntries = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER;

bool administering(PSID sid) {
  return sid && IsValidSid(sid) && real_path_trusted_owner(sid, GetLengthSid(sid));
}

// Whether the DACL of `descriptor` allows an account outside the administering ones any of
// `rights`.
bool allows_others(const void *descriptor, ACCESS_MASK rights) {
  auto *security = const_cast<PSECURITY_DESCRIPTOR>(descriptor);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(security, &present, &dacl, &defaulted) || !present || !dacl)
    return true;
  GENERIC_MAPPING file_rights = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                                 FILE_ALL_ACCESS};
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void *ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return true;
    const auto *header = static_cast<const ACE_HEADER *>(ace);
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;  // for what is created inside only
    switch (header->AceType) {
      case ACCESS_ALLOWED_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {  // the same layout up to the SID
        auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(ace);
        DWORD mask = allowed->Mask;
        MapGenericMask(&mask, &file_rights);
        if ((mask & rights) && !administering(&allowed->SidStart)) return true;
        break;
      }
      case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
      case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        return true;  // allows in a form read nowhere else here: counted as allowing anything
      default:
        break;  // denials are not credited; audits and labels allow nothing
    }
  }
  return false;
}

}  // namespace

bool link_trusted(const void *link_descriptor, const void *directory_descriptor) {
  if (!link_descriptor || !directory_descriptor) return false;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(const_cast<PSECURITY_DESCRIPTOR>(link_descriptor), &owner,
                                  &defaulted) ||
      !administering(owner))
    return false;
  return !allows_others(link_descriptor, kChangesLink) &&
         !allows_others(directory_descriptor, kChangesEntries);
}

namespace {

// The owner and DACL (`parts`) of the object open as `handle`, or null.
LocalMemory descriptor_of(void *handle, SECURITY_INFORMATION parts) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, parts, nullptr, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    descriptor = nullptr;
  return LocalMemory(descriptor);
}

constexpr SECURITY_INFORMATION kOwnerAndDacl =
    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

bool link_trusted_open(void *object, void *directory) {
  const LocalMemory own = descriptor_of(object, kOwnerAndDacl);
  const LocalMemory around = descriptor_of(directory, DACL_SECURITY_INFORMATION);
  return link_trusted(own.get(), around.get());
}

bool link_trusted_in_directory_of(void *object, const wchar_t *path) {
  const size_t length = wcslen(path);
  auto *directory = static_cast<wchar_t *>(ZEB_Alloc(length + 1, sizeof(wchar_t)));
  wmemcpy(directory, path, length + 1);
  size_t cut = 0;
  for (size_t i = 0; directory[i]; ++i)
    if (is_separator(directory[i])) cut = i;
  if (cut == 2 && directory[1] == L':') ++cut;  // "X:" alone would be X's current directory
  directory[cut] = L'\0';
  PSECURITY_DESCRIPTOR around = nullptr;
  if (cut == 0 ||
      GetNamedSecurityInfoW(directory, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            nullptr, nullptr, &around) != ERROR_SUCCESS)
    around = nullptr;
  ZEB_Free(directory);
  const LocalMemory held(around);
  const LocalMemory own = descriptor_of(object, kOwnerAndDacl);
  return link_trusted(own.get(), held.get());
}
