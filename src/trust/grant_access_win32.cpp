#include "src/trust/grant_access.h"

#include "src/trust/permissions.h"

void grant_everyone_access(void *file) {
  if (!util_change_permissions_everyone_open(file) && util_take_ownership_open(file))
    util_change_permissions_everyone_open(file);
}
