#pragma once
// The decisions of a launch pass that the doctor asks too, so that both answer alike: where the
// settings are, whether a recovery is due and why, and which library names are acceptable.
#include <cstdint>

#include "src/launch/appdata.h"
#include "src/launch/launch_state.h"
#include "src/launch/skel_recovery.h"

struct ZEB_JSON;

// How the settings files are read. The launcher's readers deny writers while they read; the
// doctor's share everything, so that it never stands in a concurrent recovery's way.
struct SettingsReader {
  SettingsRead (*appdata)(LaunchSettings *settings, const char *directory);
  ZEB_JSON *(*json_file)(const char *path);  // null when unreadable
};
extern const SettingsReader launch_settings_reader;

// setup.json under Program Files decides between the machine-wide and the per-user directory.
bool use_program_data(const SettingsReader &reader);
// Picks the pass's data directory and reads its settings; result 2 until the pass decides. Busy
// settings in the starting directory keep it as the data directory: the launch then ends without
// taking another installation for this one.
void find_settings(LaunchState *state, const SettingsReader &reader = launch_settings_reader);

// A local layout without skel loads at once, unless an IPC launch started in a directory that
// is also one of the shared data directories.
bool takes_local_shortcut(const LaunchState *state);

// One crash-counter record as the launcher's probe saw it.
struct RecordProbe {
  bool present;   // the file exists
  bool live;      // another launch holds it open: inside wx_main
  bool foreign;   // another account could have written it: it neither counts nor goes
  int32_t count;  // 0 unless it is a valid record of the expected build
  bool discard;   // not a valid record of the expected build
};
// Opens the record for reading and deleting with full sharing and closes it at once. A record
// counts only when no other standard account can have written it (record_trusted_open). A record
// to discard is deleted only when `may_delete` is set (the data directory is locked).
RecordProbe record_probe(const char *path, const char *hash, bool may_delete);
// Whether one mode's record counts toward a crash loop.
bool record_reached_limit(const char *path, const char *hash, bool may_delete);

// Why this pass must restore the installation, if it must; for a recovery cut short, what its mark
// blocks goes to state->pending_block. Records are deleted only while the pass holds the data
// directory's lock (state->dir_lock).
RecoveryReason recovery_reason(LaunchState *state);

// The library name from the settings: the platform's library extension, no directory part.
bool library_name_acceptable(const char *name);
