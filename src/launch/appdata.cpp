#include "src/launch/appdata.h"

#include <cstring>

#include "zeb/fs.h"
#include "zeb/json_reader.h"

int appdata_read(LaunchSettings *settings, const char *directory) {
  memset(settings, 0, sizeof *settings);
  ZEB_JSON *root = ZEB_JSONReadFile(ZEB_JoinPath(directory, "appdata.json"));
  const bool read =
      root &&
      ZEB_JSONGetString(ZEB_JSONObjGetItem(root, "so_name"), settings->so_name,
                        sizeof settings->so_name) &&
      ZEB_JSONGetString(ZEB_JSONObjGetItem(root, "hash"), settings->hash, sizeof settings->hash);
  ZEB_JSONDestroy(&root);
  return read ? 0 : -100;
}
