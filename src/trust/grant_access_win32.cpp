#include "src/trust/grant_access.h"

#include <windows.h>

#include "src/trust/permissions.h"

static_assert(GRANT_RECORD == (FILE_GENERIC_READ | DELETE));
static_assert(GRANT_CONFIG == (FILE_GENERIC_READ | FILE_GENERIC_WRITE));

void grant_everyone_access(void *file, uint32_t rights) {
  if (!util_change_permissions_everyone_open(file, rights) && util_take_ownership_open(file))
    util_change_permissions_everyone_open(file, rights);
}
