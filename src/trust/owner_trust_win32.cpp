// Owners and DACLs of what a launch finds in its data directory.
#include <windows.h>

#include "src/trust/descriptor_rights.h"
#include "src/trust/owner_trust.h"
#include "zeb/log.h"

namespace {

// What in a directory would let an account remove an entry, or grant itself that right.
constexpr ACCESS_MASK kChangesEntries = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER;
// What would let an account put its own count into a record, or grant itself that right.
constexpr ACCESS_MASK kChangesRecord = FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER;

// The user of this process's token, read once; null when it cannot be read (logged).
const void *own_account() {
  struct UserBlock {
    TOKEN_USER user;
    BYTE sid[SECURITY_MAX_SID_SIZE];
  };
  static UserBlock block;
  static const bool read = [] {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) {
      ZEB_LogError("own_account", "'OpenProcessToken' failed with error 0x%X",
                   unsigned(GetLastError()));
      return false;
    }
    const ScopedHandle token(opened);
    DWORD size = 0;
    if (GetTokenInformation(token.get(), TokenUser, &block, sizeof block, &size)) return true;
    ZEB_LogError("own_account", "'GetTokenInformation' failed for the user with error 0x%X",
                 unsigned(GetLastError()));
    return false;
  }();
  return read ? block.user.User.Sid : nullptr;
}

// Whether the volume of the object open as `handle` keeps owners and permissions. A volume that
// keeps none (FAT) reports every object as owned by and open to Everyone. When it cannot be
// asked, it is taken to keep them, so the object is judged by its descriptor.
bool volume_keeps_owners(void *handle) {
  DWORD flags = 0;
  if (GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
    return flags & FILE_PERSISTENT_ACLS;
  ZEB_LogError("volume_keeps_owners", "'GetVolumeInformationByHandleW' failed with error 0x%X",
               unsigned(GetLastError()));
  return true;
}

}  // namespace

bool directory_trusted(const void *directory_descriptor) {
  return !directory_distrust(directory_descriptor);
}

const char *directory_distrust(const void *directory_descriptor) {
  if (!directory_descriptor) return "its owner and permissions cannot be read";
  if (!sid_administers(descriptor_owner(directory_descriptor)))
    return "its owner is not SYSTEM, Administrators or TrustedInstaller";
  if (descriptor_allows_others(directory_descriptor, kChangesEntries, nullptr))
    return "other accounts may delete its entries, change its permissions or take it over";
  return nullptr;
}

bool record_trusted(const void *record_descriptor, const void *own_sid) {
  const void *owner = descriptor_owner(record_descriptor);
  // An administering owner may be the launch's own account (SYSTEM) and still hold what a user
  // wrote, when the user could write the file it renamed into place: its DACL decides.
  if (sid_administers(owner))
    return !descriptor_allows_others(record_descriptor, kChangesRecord, own_sid);
  return sid_equal(owner, own_sid);
}

bool lock_directory_ours(const void *directory_descriptor, const void *own_sid) {
  const void *owner = descriptor_owner(directory_descriptor);
  return !owner || sid_administers(owner) || sid_equal(owner, own_sid);
}

const char *directory_distrust_open(void *directory) {
  const LocalMemory descriptor = descriptor_read(directory);
  return directory_distrust(descriptor.get());
}

bool record_trusted_open(void *record) {
  if (!volume_keeps_owners(record)) return true;
  const LocalMemory descriptor = descriptor_read(record);
  return record_trusted(descriptor.get(), own_account());
}

bool lock_directory_ours_open(void *directory) {
  if (!volume_keeps_owners(directory)) return true;
  const LocalMemory descriptor = descriptor_read(directory);
  return lock_directory_ours(descriptor.get(), own_account());
}
