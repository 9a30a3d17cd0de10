// Reading appdata.json from a directory, through the platform so that a busy file is told from a
// missing or broken one.
#include <windows.h>

#include <cstring>

#include "src/launch/appdata.h"
#include "src/trust/busy.h"
#include "src/trust/handle.h"
#include "src/trust/safe_file.h"
#include "zeb/fs.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

// The whole file as the launcher reads it: nobody writing it meanwhile. False with the platform's
// error.
bool read_settings_file(const wchar_t *path, char **text, uint32_t *error) {
  const ScopedHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  uint64_t size = 0;
  if (file.get() != INVALID_HANDLE_VALUE &&
      safe_file_read(file.get(), APPDATA_SIZE_LIMIT, text, &size))
    return true;
  *error = GetLastError();
  return false;
}

}  // namespace

SettingsRead appdata_read(LaunchSettings *settings, const char *directory) {
  memset(settings, 0, sizeof *settings);
  const ZEB_WideText path(ZEB_JoinPath(directory, "appdata.json"));
  BusyBudget budget;
  for (;;) {
    char *text = nullptr;
    uint32_t error = 0;
    if (read_settings_file(path.get(), &text, &error)) {
      const int parsed = appdata_parse(settings, text);
      ZEB_Free(text);
      return parsed == 0 ? SETTINGS_FOUND : SETTINGS_MISSING;
    }
    if (!busy_error(error)) return SETTINGS_MISSING;
    if (!busy_wait(&budget)) return SETTINGS_BUSY;
  }
}
