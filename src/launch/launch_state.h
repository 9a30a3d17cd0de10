#pragma once
// State of the launcher shared by the launch loop and its guards.
#include <cstddef>
#include <cstdint>

#include "src/launch/launch_args.h"

// The settings read from appdata.json: library name, then the expected hash, back to back.
struct LaunchSettings {
  char so_name[256];
  char hash[65];
};
static_assert(sizeof(LaunchSettings) == 321, "settings block is 321 bytes");
static_assert(offsetof(LaunchSettings, hash) == 256, "the hash lies directly behind the name");

struct LaunchState {
  // Fixed at start-up.
  int32_t count;  // its address is handed to wx_main
  char **list;    // 128 entries
  char **owned;   // the entries as allocated, which the library may replace in `list`
  LaunchMode mode;
  char counter_name[8];
  bool ipc_launch;  // an entry carried "QUARLO_IPC_"
  bool privileged;       // follows only links that administrators control
  bool service_account;  // runs as one: uses only a data directory and files administrators control
  char *local_dir;  // each candidate ends in a backslash
  char *machine_dir;
  char *user_dir;

  // One pass.
  int32_t result;
  bool retry;              // survives passes: a first failure forces a recovery on the next one
  bool retry_signature;    // that failure was a refused signature
  char pending_block[65];  // what the mark of a recovery cut short blocks
  bool settings_found;
  bool settings_busy;  // appdata.json held by another program: the pass changes nothing
  bool local_layout;
  LaunchSettings settings;
  const char *data_dir;  // one of the candidates
  char *library_path;    // heap, freed at the end of the pass
  char library_hash[65];
  void *library;

  // Held by the guards during a pass.
  char counter_path[1280];
  void *dir_lock;
  void **ancestor_locks;
  uint32_t ancestor_count;
  void *library_lock;
  void *counter_file;  // this mode's crash-counter record, held while wx_main runs
};
