// The substitution loop of real-path resolution, independent of how links are looked up.
#include "src/trust/real_path.h"

#include <cstring>

#include "src/trust/nt_account.h"
#include "zeb/memory.h"

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

// "X:" names the current directory on drive X, not its root: it is never looked up, and a
// root keeps its separator so that it is not turned into one.
bool is_bare_drive(const char *path, size_t length) {
  const char drive = path[0];
  return length == 2 && path[1] == ':' &&
         ((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z'));
}

// "\" or "X:\": no link, and nothing left to cut.
bool is_root(const char *path) {
  const size_t length = strlen(path);
  if (length == 1) return is_separator(path[0]);
  return length == 3 && is_bare_drive(path, 2) && is_separator(path[2]);
}

// Drops trailing separators, keeping (as a backslash) the one a root needs.
void trim_separators(char *path) {
  size_t length = strlen(path);
  while (length > 0 && is_separator(path[length - 1])) --length;
  if (path[length] != '\0' && (length == 0 || is_bare_drive(path, length))) path[length++] = '\\';
  path[length] = '\0';
}

// A target that is empty (a volume mount point without a print name) would erase the path
// before the link, so it counts as no link at all.
char *usable_target(char *target) {
  if (target && target[0] == '\0') {
    ZEB_Free(target);
    return nullptr;
  }
  return target;
}

// target followed by the remainder, which begins with a backslash (a target ending in a
// separator, such as a drive root, gives up its own).
char *join_target(const char *target, const char *remainder) {
  size_t first = strlen(target);
  if (first > 0 && is_separator(target[first - 1])) --first;
  const size_t second = strlen(remainder);
  char *joined = static_cast<char *>(ZEB_Alloc(first + second + 1, 1));
  memcpy(joined, target, first);
  memcpy(joined + first, remainder, second + 1);
  return joined;
}

}  // namespace

char *resolve_links(char *workingPath, LinkLookup lookup, void *context) {
  char *path = workingPath;
  trim_separators(path);

  for (int32_t substitutions = 0; substitutions < REAL_PATH_MAX_SUBSTITUTIONS; ++substitutions) {
    if (path[0] == '\0' || is_root(path)) return path;
    if (char *target = usable_target(lookup(path, context))) {
      ZEB_Free(path);
      path = target;
      trim_separators(path);
      continue;
    }
    // The longest linked prefix wins; position 0 is never a cut (a leading separator), and a
    // bare drive is never asked about.
    char *replaced = nullptr;
    for (size_t i = strlen(path); i-- > 1;) {
      if (!is_separator(path[i])) continue;
      path[i] = '\0';
      char *target = is_bare_drive(path, i) ? nullptr : usable_target(lookup(path, context));
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

bool real_path_trusted_owner(const void *sid, uint32_t size) {
  static constexpr NtAccount kTrustedOwners[] = {NT_ACCOUNT_SYSTEM, NT_ACCOUNT_ADMINISTRATORS,
                                                 NT_ACCOUNT_TRUSTED_INSTALLER};
  for (const NtAccount &trusted : kTrustedOwners)
    if (nt_account_is(sid, size, trusted)) return true;
  return false;
}
