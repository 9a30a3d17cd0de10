// Insertion strings of the event-log entries.

#include "src/launch/event_log.h"

#include "src/launch/inert_text.h"

void event_recovery_strings(const char *replaced_hash, const char *reason, LaunchMode mode,
                            const char *data_directory, const char *outcome, EventStrings *out) {
  const char *replaced =
      replaced_hash && replaced_hash[0] ? replaced_hash : "none known (the settings were missing)";
  const char *values[] = {replaced, reason, launch_mode_name(mode), data_directory, outcome};
  out->count = 5;
  for (uint32_t i = 0; i < out->count; ++i)
    inert_text(values[i], out->text[i], EVENT_STRING_SIZE, true);
}

void event_signature_strings(const char *library, const char *verdict, EventStrings *out) {
  out->count = 2;
  inert_text(library, out->text[0], EVENT_STRING_SIZE, true);
  inert_text(verdict, out->text[1], EVENT_STRING_SIZE, true);
}

void event_busy_strings(const char *path, EventStrings *out) {
  out->count = 1;
  inert_text(path, out->text[0], EVENT_STRING_SIZE, true);
}

void event_directory_strings(const char *directory, const char *why, EventStrings *out) {
  out->count = 2;
  inert_text(directory, out->text[0], EVENT_STRING_SIZE, true);
  inert_text(why, out->text[1], EVENT_STRING_SIZE, true);
}
