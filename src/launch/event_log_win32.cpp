// Reporting to the Application event log.
#include <windows.h>

#include <cstdio>

#include "quarlo_events.h"
#include "src/launch/event_log.h"

void event_report(uint16_t type, uint32_t event_id, const EventStrings &strings) {
  const DWORD error = GetLastError();
  // An installer registers the source; without it the entry still goes in, with no text.
  HANDLE source = RegisterEventSourceW(nullptr, L"Quarlo");
  if (source) {
    wchar_t wide[EVENT_MAX_STRINGS][EVENT_STRING_SIZE];
    const wchar_t *texts[EVENT_MAX_STRINGS] = {};
    for (uint32_t i = 0; i < strings.count && i < EVENT_MAX_STRINGS; ++i) {
      if (!MultiByteToWideChar(CP_UTF8, 0, strings.text[i], -1, wide[i], EVENT_STRING_SIZE))
        wide[i][0] = 0;
      texts[i] = wide[i];
    }
    ReportEventW(source, type, 0, event_id, nullptr, WORD(strings.count), 0, texts, nullptr);
    DeregisterEventSource(source);
  }
  SetLastError(error);
}

namespace {

// The recovery under way, reported when it ends.
struct PendingRecovery {
  bool running;
  char replaced_hash[65];
  const char *reason;
  LaunchMode mode;
  const char *data_directory;  // a candidate: lives for the whole run
} pending;

}  // namespace

void event_recovery_begin(const char *replaced_hash, const char *reason, LaunchMode mode,
                          const char *data_directory) {
  pending.running = true;
  snprintf(pending.replaced_hash, sizeof pending.replaced_hash, "%s", replaced_hash);
  pending.reason = reason;
  pending.mode = mode;
  pending.data_directory = data_directory;
}

void event_recovery_end(const char *outcome) {
  if (!pending.running) return;
  pending.running = false;
  EventStrings strings;
  event_recovery_strings(pending.replaced_hash, pending.reason, pending.mode,
                         pending.data_directory, outcome, &strings);
  event_report(EVENTLOG_WARNING_TYPE, QUARLO_EVENT_RECOVERY, strings);
}
