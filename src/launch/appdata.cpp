#include "src/launch/appdata.h"

#include <cstring>

#include "zeb/json_reader.h"

int appdata_take(LaunchSettings *settings, ZEB_JSON *root) {
  const bool read =
      root &&
      ZEB_JSONGetString(ZEB_JSONObjGetItem(root, "so_name"), settings->so_name,
                        sizeof settings->so_name) &&
      ZEB_JSONGetString(ZEB_JSONObjGetItem(root, "hash"), settings->hash, sizeof settings->hash);
  ZEB_JSONDestroy(&root);
  // A member that did not fit may have left a shortened copy; a hash cut that way would name a
  // build that was never installed, so nothing of a failed read is kept.
  if (!read) memset(settings, 0, sizeof *settings);
  return read ? 0 : -100;
}

int appdata_parse(LaunchSettings *settings, const char *text) {
  memset(settings, 0, sizeof *settings);
  return appdata_take(settings, ZEB_JSONParse(text));
}
