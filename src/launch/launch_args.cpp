#include "src/launch/launch_args.h"

#include <cstdio>
#include <cstring>

#include "zeb/memory.h"

int32_t launch_args_copy(int32_t count, char *const *arguments, char **list) {
  int32_t copied = 0;
  for (; copied < count && copied < LAUNCH_LIST_ENTRIES; ++copied)
    list[copied] = ZEB_Strdup(arguments[copied]);
  // With 128 or more arguments there is no room for the marker, and the count stays at what
  // the list holds so the library never reads past it.
  if (copied < LAUNCH_LIST_ENTRIES) list[copied++] = ZEB_Strdup(LAUNCH_MARKER);
  return copied;
}

const char *launch_args_find(char *const *list, const char *marker) {
  for (int32_t i = 0; i < LAUNCH_LIST_ENTRIES && list[i]; ++i)
    if (strstr(list[i], marker)) return list[i];
  return nullptr;
}

LaunchMode launch_mode(char *const *list) {
  if (launch_args_find(list, LAUNCH_IPC_MARKER)) return LAUNCH_MODE_IPC;
  if (launch_args_find(list, LAUNCH_SERVICE_MARKER)) return LAUNCH_MODE_SERVICE;
  return LAUNCH_MODE_NORMAL;
}

void launch_counter_name(LaunchMode mode, char name[8]) {
  snprintf(name, 8, "cc%u.txt", unsigned(mode));
}

const char *launch_mode_name(LaunchMode mode) {
  switch (mode) {
    case LAUNCH_MODE_NORMAL:
      return "normal";
    case LAUNCH_MODE_SERVICE:
      return "service";
    case LAUNCH_MODE_IPC:
      return "IPC";
  }
  return "unknown";
}
