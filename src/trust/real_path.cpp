// The substitution loop of real-path resolution, independent of how links are looked up.
#include "src/trust/real_path.h"

#include <cstring>

#include "zeb/memory.h"

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

// A target that is empty (a volume mount point without a print name) would erase the path
// before the link, so it counts as no link at all.
char *usable_target(char *target) {
  if (target && target[0] == '\0') {
    ZEB_Free(target);
    return nullptr;
  }
  return target;
}

// target followed by the remainder, which begins with a backslash.
char *join_target(const char *target, const char *remainder) {
  const size_t first = strlen(target);
  const size_t second = strlen(remainder);
  char *joined = static_cast<char *>(ZEB_Alloc(first + second + 1, 1));
  memcpy(joined, target, first);
  memcpy(joined + first, remainder, second + 1);
  return joined;
}

}  // namespace

char *resolve_links(char *workingPath, LinkLookup lookup, void *context) {
  char *path = workingPath;
  size_t length = strlen(path);
  while (length > 0 && is_separator(path[length - 1])) path[--length] = '\0';

  for (int32_t substitutions = 0; substitutions < REAL_PATH_MAX_SUBSTITUTIONS; ++substitutions) {
    if (path[0] == '\0') return path;
    if (char *target = usable_target(lookup(path, context))) {
      ZEB_Free(path);
      path = target;
      continue;
    }
    // The longest linked prefix wins; position 0 is never a cut (a leading separator).
    char *replaced = nullptr;
    for (size_t i = strlen(path); i-- > 1;) {
      if (!is_separator(path[i])) continue;
      path[i] = '\0';
      char *target = usable_target(lookup(path, context));
      path[i] = '\\';
      if (target) {
        replaced = join_target(target, path + i);
        ZEB_Free(target);
        break;
      }
    }
    if (!replaced) return path;
    ZEB_Free(path);
    path = replaced;
  }
  return path;  // a cycle of links: the path reached at the bound
}
