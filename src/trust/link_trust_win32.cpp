// Walking the DACLs of a link and of its directory for rights held outside the administering
// accounts.
#include <windows.h>

#include "src/trust/link_trust.h"
#include "src/trust/real_path.h"

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
