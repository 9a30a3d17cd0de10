#include <cstring>

#include "src/trust/replace_file.h"

bool replace_file_is_temporary(const char *name) {
  if (strlen(name) != REPLACE_FILE_NAME_LENGTH || strncmp(name, "quarlo-", 7) != 0 ||
      strcmp(name + 23, ".tmp") != 0)
    return false;
  for (const char *digit = name + 7; digit < name + 23; ++digit)
    if (!((*digit >= '0' && *digit <= '9') || (*digit >= 'a' && *digit <= 'f'))) return false;
  return true;
}
