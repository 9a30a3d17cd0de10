// Owners and DACLs of what a launch finds in its data directory.
#include <windows.h>

#include "src/trust/descriptor_rights.h"
#include "src/trust/owner_trust.h"

namespace {

// What in a directory would let an account remove an entry, or grant itself that right.
constexpr ACCESS_MASK kChangesEntries = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER;

}  // namespace

bool directory_trusted(const void *directory_descriptor) {
  return sid_administers(descriptor_owner(directory_descriptor)) &&
         !descriptor_allows_others(directory_descriptor, kChangesEntries, nullptr);
}

bool directory_trusted_open(void *directory) {
  const LocalMemory descriptor = descriptor_read(directory);
  return directory_trusted(descriptor.get());
}
