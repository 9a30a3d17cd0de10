#pragma once
#include <cstdint>

#include "src/launch/launch_state.h"

struct ZEB_JSON;

// A settings file is a few hundred bytes; anything near this size is not one.
constexpr uint64_t APPDATA_SIZE_LIMIT = 1 << 20;

// Clears the settings and reads so_name and hash from appdata.json in `directory`.
// 0 when both were read; -100 otherwise, with the block left cleared.
int appdata_read(LaunchSettings *settings, const char *directory);
// The same from the text of an appdata.json already read (NUL-terminated).
int appdata_parse(LaunchSettings *settings, const char *text);
// The same from a parsed document, which it destroys; null reads as nothing.
int appdata_take(LaunchSettings *settings, ZEB_JSON *root);
