#pragma once
#include <cstdint>

#include "src/launch/launch_state.h"

struct ZEB_JSON;

// A settings file is a few hundred bytes; anything near this size is not one.
constexpr uint64_t APPDATA_SIZE_LIMIT = 1 << 20;

// How reading the settings went. Missing means the file does not exist, cannot be read, or a
// complete read does not hold both members; busy means another program held it against the
// read for longer than the launcher waits (src/trust/busy.h).
enum SettingsRead : int32_t {
  SETTINGS_FOUND = 0,
  SETTINGS_MISSING = -100,
  SETTINGS_BUSY = -101,
};

// Clears the settings and reads so_name and hash from appdata.json in `directory`, waiting a
// moment for a file that is busy. The block is left cleared unless they were found.
SettingsRead appdata_read(LaunchSettings *settings, const char *directory);
// The same from the text of an appdata.json already read (NUL-terminated).
int appdata_parse(LaunchSettings *settings, const char *text);
// The same from a parsed document, which it destroys; null reads as nothing.
int appdata_take(LaunchSettings *settings, ZEB_JSON *root);
