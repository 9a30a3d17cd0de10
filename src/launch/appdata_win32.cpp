// Reading appdata.json from a directory.
#include <cstring>

#include "src/launch/appdata.h"
#include "zeb/fs.h"
#include "zeb/json_reader.h"

int appdata_read(LaunchSettings *settings, const char *directory) {
  memset(settings, 0, sizeof *settings);
  return appdata_take(settings, ZEB_JSONReadFile(ZEB_JoinPath(directory, "appdata.json")));
}
