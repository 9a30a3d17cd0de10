// Reading owners and DACLs for rights held outside the administering accounts.
#include <windows.h>
// After windows.h.
#include <aclapi.h>

#include "src/trust/descriptor_rights.h"
#include "src/trust/real_path.h"

bool sid_administers(const void *sid) {
  auto *account = const_cast<PSID>(sid);
  return account && IsValidSid(account) && real_path_trusted_owner(account, GetLengthSid(account));
}

bool sid_equal(const void *a, const void *b) {
  auto *first = const_cast<PSID>(a), *second = const_cast<PSID>(b);
  return first && second && IsValidSid(first) && IsValidSid(second) && EqualSid(first, second);
}

const void *descriptor_owner(const void *descriptor) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!descriptor ||
      !GetSecurityDescriptorOwner(const_cast<PSECURITY_DESCRIPTOR>(descriptor), &owner, &defaulted))
    return nullptr;
  return owner;
}

bool descriptor_allows_others(const void *descriptor, uint32_t rights, const void *also_trusted) {
  auto *security = const_cast<PSECURITY_DESCRIPTOR>(descriptor);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!security || !GetSecurityDescriptorDacl(security, &present, &dacl, &defaulted) || !present ||
      !dacl)
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
        const PSID holder = &allowed->SidStart;
        if ((mask & rights) && !sid_administers(holder) && !sid_equal(holder, also_trusted))
          return true;
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

LocalMemory descriptor_read(void *object) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
    descriptor = nullptr;
  return LocalMemory(descriptor);
}
