// The application library: load by UTF-8 path, find exports, unload.
#include <windows.h>

#include "zeb/log.h"
#include "zeb/memory.h"
#include "zeb/shared_library.h"
#include "zeb/unicode.h"

const char *ZEB_GetSOExtension() { return "dll"; }

void *ZEB_SOLoad(const char *path) {
  wchar_t *wide = ZEB_MultiToWideD(path);
  HMODULE module = LoadLibraryW(wide);
  const DWORD error = GetLastError();
  ZEB_Free(wide);
  if (!module)
    ZEB_LogError("ZEB_SOLoad", "'LoadLibrary' failed to find '%s' with error 0x%X", path,
                 unsigned(error));
  return reinterpret_cast<void *>(module);
}

void *ZEB_SOGetSymbol(void *handle, const char *name) {
  FARPROC address = GetProcAddress(static_cast<HMODULE>(handle), name);
  if (!address)
    ZEB_LogError("ZEB_SOGetSymbol", "'GetProcAddress' failed to find '%s' with error 0x%X", name,
                 unsigned(GetLastError()));
  return reinterpret_cast<void *>(address);
}

void ZEB_SOUnload(void **handle) {
  if (!handle || !*handle) return;
  if (!FreeLibrary(static_cast<HMODULE>(*handle)))
    ZEB_LogError("ZEB_SOUnload", "'FreeLibrary' failed with error 0x%X", unsigned(GetLastError()));
  *handle = nullptr;
}
