// Releasing platform handles and LocalAlloc blocks.
#include <windows.h>

#include "src/trust/handle.h"

void handle_close(void *handle) {
  if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

void local_free(void *block) {
  if (block) LocalFree(block);
}
