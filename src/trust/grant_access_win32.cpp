#include "src/trust/grant_access.h"

#include "src/trust/permissions.h"
#include "zeb/unicode.h"

void grant_everyone_access(const char *path) {
  ZEB_WideText wide(path);
  if (!util_change_permissions_everyone(wide.get()) && util_take_ownership(wide.get()))
    util_change_permissions_everyone(wide.get());
}
