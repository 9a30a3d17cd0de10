// Composition of the launch trace's lines.
#include <cstdio>
#include <cstring>

#include "src/launch/inert_text.h"
#include "src/launch/trace.h"

void trace_compose(char *line, size_t capacity, const char *format, va_list args) {
  const int prefix = snprintf(line, capacity, "quarlo: ");
  if (prefix < 0 || size_t(prefix) >= capacity) return;
  // Composed first, then made inert whole: the formats hold no control characters or '%' of
  // their own once composed, so whatever the line holds came from a file or the platform.
  char composed[4096];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  vsnprintf(composed, sizeof composed, format, args);
#pragma GCC diagnostic pop
  inert_text(composed, line + prefix, capacity - size_t(prefix), true);
}

const char *trace_file_name(const char *path) {
  const char *name = path;
  for (const char *c = path; *c; ++c)
    if (*c == '\\' || *c == '/') name = c + 1;
  return name;
}

const char *trace_recovery_reason(RecoveryReason reason) {
  switch (reason) {
    case RECOVERY_MISSING_SETTINGS:
      return "the settings are missing";
    case RECOVERY_CRASH_LOOP:
      return "a crash-counter record reached 3";
    case RECOVERY_RETRY:
      return "a previous pass failed to lock, hash, load or enter the library";
    case RECOVERY_SIGNATURE:
      return "a previous pass refused the library's signature";
    case RECOVERY_PENDING:
      return "an earlier recovery was cut short";
    case RECOVERY_NONE:
      break;
  }
  return "none";
}
