#pragma once
// The doctor's opens: each shares reading, writing and deleting and is held only for its read, so
// that a concurrent launch or recovery never finds a file held against it.
#include <cstdint>

#include "src/launch/launch_decisions.h"
#include "src/launch/skel_recovery.h"
#include "src/trust/safe_file.h"

// Reads the whole file, following links as the launcher's readers do, into a heap block with a
// terminating zero (ZEB_Free). False when missing, unreadable or larger than `limit`.
bool doctor_read_file(const char *path, uint64_t limit, char **bytes, uint64_t *size);
// The settings through doctor_read_file, into the launcher's own parsers.
extern const SettingsReader doctor_settings_reader;
// skel's directory and files opened for inspection and reading only.
extern const SkelOpeners doctor_skel_openers;
// A directory opened to read its security, or null.
void *doctor_open_directory(const char *path);
// The launcher's live-record probe (read and delete access, full sharing, closed at once) on any
// file or directory: SAFE_FILE_IN_USE when a running launch holds it without delete sharing.
SafeFileOpen doctor_probe(const char *path);
