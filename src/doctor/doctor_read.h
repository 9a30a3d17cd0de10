#pragma once
// The doctor's opens: each shares reading, writing and deleting and is held only for its read, so
// that a concurrent launch or recovery never finds a file held against it.
#include <cstdint>

#include "src/doctor/doctor.h"
#include "src/launch/launch_decisions.h"
#include "src/launch/recovery_checks.h"
#include "src/trust/safe_file.h"

// Reads the whole file, following links as the launcher's readers do, into a heap block with a
// terminating zero (ZEB_Free). False when missing, unreadable or larger than `limit`.
bool doctor_read_file(const char *path, uint64_t limit, char **bytes, uint64_t *size);
// The settings through doctor_read_file, into the launcher's own parsers.
extern const SettingsReader doctor_settings_reader;
// Recovery's checks with steps that only open and read: the data directory and skel are opened,
// not locked; a lock name is asked whether it could go; skel's library is examined, with no event
// written, into the DoctorLibrary that `context` must point to.
extern const RecoverySteps doctor_recovery_steps;
// The launcher's live-record probe (read and delete access, full sharing, closed at once) on any
// file or directory: SAFE_FILE_IN_USE when a running launch holds it without delete sharing.
SafeFileOpen doctor_probe(const char *path);
// Whether the launcher's own open of `path` for reading, which lets nobody write meanwhile, would
// find it held by another program. The open is closed at once: a launch starting in that moment
// can meet it, as it would meet any reader.
bool doctor_busy(const char *path);
// What a launch as a service account would refuse in `state`'s data directory: the directory
// itself (why, or null), the settings, the library (`library_path`) when another account may
// change them.
struct DoctorDistrust {
  const char *directory;
  bool settings;
  bool library;
};
DoctorDistrust doctor_service_account_distrust(const LaunchState &state, const char *library_path);
// The library at `path` as the launcher would meet it: opened without following a link, read,
// hashed, its signature verified when `checked`, its export table read.
void doctor_examine_library(const char *path, bool checked, DoctorLibrary *library);
