#pragma once
// Entries in the Application event log, source "Quarlo", for administrators to collect: a
// warning for each recovery that runs, an error for each library refused by its signature. The
// texts are the message table compiled into quarlo.exe (res/quarlo_events.mc); these are its
// insertion strings, %1 onwards. A warning also goes there for a file another program held too
// long, and an error for a data directory that a launch as a service account refused.
#include <cstdint>

#include "src/launch/launch_args.h"

constexpr uint32_t EVENT_MAX_STRINGS = 5;
constexpr uint32_t EVENT_STRING_SIZE = 1280;

struct EventStrings {
  char text[EVENT_MAX_STRINGS][EVENT_STRING_SIZE];
  uint32_t count;
};

// The build replaced (its hash, empty when the settings were missing), why, the launch mode,
// the data directory and the outcome ("restored", or the refusal's box title).
void event_recovery_strings(const char *replaced_hash, const char *reason, LaunchMode mode,
                            const char *data_directory, const char *outcome, EventStrings *out);
// The library and the verifier's verdict.
void event_signature_strings(const char *library, const char *verdict, EventStrings *out);
// The file that was busy.
void event_busy_strings(const char *path, EventStrings *out);
// The data directory a launch as a service account refused, and why.
void event_directory_strings(const char *directory, const char *why, EventStrings *out);

// A recovery has begun: its entry is written when it ends, with the outcome ("restored", or the
// title of the box that refused it). An end without a recovery under way writes nothing.
void event_recovery_begin(const char *replaced_hash, const char *reason, LaunchMode mode,
                          const char *data_directory);
void event_recovery_end(const char *outcome);

// Writes one entry. An unregistered source or a failed report changes nothing: the launch
// goes on as without it. `type` is EVENTLOG_WARNING_TYPE or EVENTLOG_ERROR_TYPE.
void event_report(uint16_t type, uint32_t event_id, const EventStrings &strings);
