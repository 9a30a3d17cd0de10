// Path strings: backslash is the only separator.
#include <cstring>

#include "zeb/fs.h"
#include "zeb/memory.h"

char *ZEB_JoinPath(const char *first, const char *second) {
  char *joined = ZEB_SprintfD("%s%c%s", first, '\\', second);
  char *result = ZEB_StrdupL(joined);
  ZEB_Free(joined);
  return result;
}

char *ZEB_GetFileName(const char *path, bool keep_extension) {
  const char *slash = strrchr(path, '\\');
  char *name = ZEB_StrdupL(slash ? slash + 1 : path);
  if (!keep_extension) {
    if (char *dot = strrchr(name, '.')) *dot = '\0';
  }
  return name;
}

const char *ZEB_GetFileExtension(const char *path) {
  const char *dot = strrchr(path, '.');
  return dot ? ZEB_StrdupL(dot + 1) : "";
}
