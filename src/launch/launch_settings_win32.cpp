// Where a pass finds its settings: the starting directory first, then the machine-wide or the
// per-user data directory as setup.json says.
#include "src/launch/appdata.h"
#include "src/launch/launch_decisions.h"
#include "src/launch/launch_endings.h"
#include "zeb/fs.h"
#include "zeb/json_reader.h"
#include "zeb/memory.h"

const SettingsReader launch_settings_reader = {appdata_read, ZEB_JSONReadFile};

bool use_program_data(const SettingsReader &reader) {
  char *product = ZEB_Strdup(ZEB_JoinPath(ZEB_GetDir(ZEB_DIR_PROGRAM_FILES), "Quarlo"));
  ZEB_JSON *setup = reader.json_file(ZEB_JoinPath(product, "setup.json"));
  ZEB_Free(product);
  bool value = false;
  if (!ZEB_JSONGetBool(ZEB_JSONObjGetItem(setup, "useProgramData"), &value)) value = false;
  ZEB_JSONDestroy(&setup);
  return value;
}

void find_settings(LaunchState *state, const SettingsReader &reader) {
  state->result = EXIT_NOT_LOADED;
  SettingsRead read = reader.appdata(&state->settings, state->local_dir);
  state->local_layout = read != SETTINGS_MISSING;
  if (state->local_layout) {
    state->data_dir = state->local_dir;
  } else {
    state->data_dir = use_program_data(reader) ? state->machine_dir : state->user_dir;
    read = reader.appdata(&state->settings, state->data_dir);
  }
  state->settings_found = read == SETTINGS_FOUND;
  state->settings_busy = read == SETTINGS_BUSY;
}
