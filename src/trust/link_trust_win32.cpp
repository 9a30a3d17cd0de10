// The link rule: the link itself, then the directory it was found in.
#include <windows.h>
// After windows.h.
#include <aclapi.h>

#include <cwchar>

#include "src/trust/descriptor_rights.h"
#include "src/trust/handle.h"
#include "src/trust/link_trust.h"
#include "src/trust/owner_trust.h"
#include "zeb/memory.h"

namespace {

// What would let an account point the link elsewhere, or replace or remove it.
constexpr ACCESS_MASK kChangesLink =
    FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | WRITE_DAC | WRITE_OWNER | DELETE;

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

bool link_trusted(const void *link_descriptor, const void *directory_descriptor) {
  return link_descriptor && sid_administers(descriptor_owner(link_descriptor)) &&
         !descriptor_allows_others(link_descriptor, kChangesLink, nullptr) &&
         directory_trusted(directory_descriptor);
}

bool link_trusted_open(void *object, void *directory) {
  const LocalMemory own = descriptor_read(object);
  const LocalMemory around = descriptor_read(directory);
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
      GetNamedSecurityInfoW(directory, SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, &around) != ERROR_SUCCESS)
    around = nullptr;
  ZEB_Free(directory);
  const LocalMemory held(around);
  const LocalMemory own = descriptor_read(object);
  return link_trusted(own.get(), held.get());
}
