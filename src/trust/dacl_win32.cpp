// Rebuilding a file's DACL with an entry for Everyone, in memory.
#include "src/trust/permissions_steps.h"
#include "zeb/log.h"

namespace {

constexpr char kTag[] = "util_change_permissions_everyone";
constexpr DWORD kEmptyAclBytes = sizeof(ACL);
constexpr DWORD kAceFixedBytes = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK);  // before the SID
static_assert(kEmptyAclBytes == 8 && kAceFixedBytes == 8);

int last_error() { return int(GetLastError()); }

// Allow and deny entries carry their identifier right after the header and the access mask.
// Entries too short to hold `sid` there cannot name it.
bool entry_names(ACE_HEADER *entry, PSID sid) {
  if (entry->AceSize < kAceFixedBytes + GetLengthSid(sid)) return false;
  return EqualSid(reinterpret_cast<BYTE *>(entry) + kAceFixedBytes, sid);
}

class AclHolder {
 public:
  explicit AclHolder(PACL acl) : acl_(acl) {}
  ~AclHolder() {
    if (acl_) HeapFree(GetProcessHeap(), 0, acl_);
  }
  AclHolder(const AclHolder &) = delete;
  AclHolder &operator=(const AclHolder &) = delete;
  PACL get() const { return acl_; }
  PACL release() {
    PACL acl = acl_;
    acl_ = nullptr;
    return acl;
  }

 private:
  PACL acl_;
};

// Copies entries [*index, count) of `from` to the end of `to`. With `explicit_only`, stops at
// the first inherited entry and leaves out entries naming `skip`.
bool copy_entries(PACL from, DWORD count, DWORD *index, PACL to, bool explicit_only, PSID skip) {
  for (; *index < count; ++*index) {
    ACE_HEADER *entry = nullptr;
    if (!GetAce(from, *index, reinterpret_cast<void **>(&entry))) {
      ZEB_LogError(kTag, "GetAce() failed. Error %d", last_error());
      return false;
    }
    if (explicit_only) {
      if (entry->AceFlags & INHERITED_ACE) return true;
      if (entry_names(entry, skip)) continue;
    }
    if (!AddAce(to, ACL_REVISION, MAXDWORD, entry, entry->AceSize)) {
      ZEB_LogError(kTag, "AddAce() failed. Error %d", last_error());
      return false;
    }
  }
  return true;
}

}  // namespace

bool util_everyone_dacl(PSECURITY_DESCRIPTOR file_sd, PSID everyone, DWORD rights,
                        SECURITY_DESCRIPTOR *out, PACL *list) {
  *list = nullptr;
  if (!InitializeSecurityDescriptor(out, SECURITY_DESCRIPTOR_REVISION)) {
    ZEB_LogError(kTag, "InitializeSecurityDescriptor() failed. Error %d", last_error());
    return false;
  }

  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL old = nullptr;
  if (!GetSecurityDescriptorDacl(file_sd, &present, &old, &defaulted)) {
    ZEB_LogError(kTag, "GetSecurityDescriptorDacl() failed. Error %d", last_error());
    return false;
  }
  if (!present) old = nullptr;  // no DACL and a null DACL are treated alike

  ACL_SIZE_INFORMATION sizes = {};
  sizes.AclBytesInUse = kEmptyAclBytes;
  if (old && !GetAclInformation(old, &sizes, sizeof(sizes), AclSizeInformation)) {
    ZEB_LogError(kTag, "GetAclInformation() failed. Error %d", last_error());
    return false;
  }

  // Dropped Everyone entries only make the result smaller than this.
  const DWORD size = sizes.AclBytesInUse + kAceFixedBytes + GetLengthSid(everyone);
  AclHolder updated(static_cast<PACL>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size)));
  if (!updated.get()) {
    ZEB_LogError(kTag, "HeapAlloc() failed. Error %d", last_error());
    return false;
  }
  if (!InitializeAcl(updated.get(), size, ACL_REVISION)) {
    ZEB_LogError(kTag, "InitializeAcl() failed. Error %d", last_error());
    return false;
  }

  // Explicit entries precede inherited ones, and the new entry goes between them.
  DWORD index = 0;
  const DWORD count = old ? sizes.AceCount : 0;
  if (!copy_entries(old, count, &index, updated.get(), true, everyone)) return false;
  if (!AddAccessAllowedAce(updated.get(), ACL_REVISION, rights, everyone)) {
    ZEB_LogError(kTag, "AddAccessAllowedAce() failed. Error %d", last_error());
    return false;
  }
  if (!copy_entries(old, count, &index, updated.get(), false, nullptr)) return false;

  if (!SetSecurityDescriptorDacl(out, TRUE, updated.get(), FALSE)) {
    ZEB_LogError(kTag, "SetSecurityDescriptorDacl() failed. Error %d", last_error());
    return false;
  }

  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorControl(file_sd, &control, &revision)) {
    ZEB_LogError(kTag, "GetSecurityDescriptorControl() failed. Error %d", last_error());
    return false;
  }
  // Both bits are carried independently: a DACL that is protected and auto-inherited (the
  // usual state of a file whose inheritance was switched off) must stay protected.
  SECURITY_DESCRIPTOR_CONTROL carried = 0;
  if (control & SE_DACL_AUTO_INHERITED)
    carried |= SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED;
  if (control & SE_DACL_PROTECTED) carried |= SE_DACL_PROTECTED;
  if (carried && !SetSecurityDescriptorControl(out, carried, carried)) {
    ZEB_LogError(kTag, "SetSecurityDescriptorControl() failed. Error %d", last_error());
    return false;
  }

  *list = updated.release();
  return true;
}
