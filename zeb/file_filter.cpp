// Name filters of directory listings: "|"-separated fragments matched as substrings.
#include <cstring>

#include "zeb/file_list.h"
#include "zeb/memory.h"

namespace {

// Next fragment of *rest, cut out in place as strtok_s does: runs of separators are skipped,
// so no fragment is empty. Null when none is left.
char *next_fragment(char **rest, const char *separators) {
  char *start = *rest + strspn(*rest, separators);
  if (*start == '\0') {
    *rest = start;
    return nullptr;
  }
  char *end = start + strcspn(start, separators);
  if (*end != '\0') *end++ = '\0';
  *rest = end;
  return start;
}

}  // namespace

bool filter_match(const char *name, const char *filter, const char *separators) {
  char *copy = ZEB_Strdup(filter ? filter : "");
  char *rest = copy;
  const char *split_at = separators ? separators : "";
  bool any_fragment = false;
  bool found = false;
  while (!found) {
    const char *fragment = next_fragment(&rest, split_at);
    if (!fragment) break;
    any_fragment = true;
    found = strstr(name, fragment) != nullptr;
  }
  ZEB_Free(copy);
  return found || !any_fragment;
}
