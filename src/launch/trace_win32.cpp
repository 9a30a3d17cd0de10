// The launch trace on the debugger channel, and the event-log entries of the same decisions.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "quarlo_events.h"
#include "src/launch/crash_counter.h"
#include "src/launch/event_log.h"
#include "src/launch/trace.h"
#include "src/trust/signature.h"
#include "zeb/log.h"

namespace {

// Longest line: a mode and three candidate directories.
constexpr size_t kLineSize = 4096;

void trace_args(const char *format, va_list args) {
  const DWORD error = GetLastError();
  char line[kLineSize];
  trace_compose(line, sizeof line, format, args);
  wchar_t wide[kLineSize];
  if (MultiByteToWideChar(CP_UTF8, 0, line, -1, wide, kLineSize)) OutputDebugStringW(wide);
  SetLastError(error);
}

void report_to_channel(const char *message, void *) { trace("report: %s", message); }

}  // namespace

void trace(const char *format, ...) {
  va_list args;
  va_start(args, format);
  trace_args(format, args);
  va_end(args);
}

void trace_start() { ZEB_SetLogCallback(report_to_channel, nullptr); }

void trace_launch(const LaunchState *state) {
  trace("%s launch (%s), %d arguments; candidates: local %s, machine-wide %s, per-user %s",
        launch_mode_name(state->mode), state->counter_name, state->count, state->local_dir,
        state->machine_dir, state->user_dir);
}

void trace_settings(const LaunchState *state) {
  if (state->local_layout)
    trace("data directory %s: appdata.json in the starting directory", state->data_dir);
  else
    trace(
        "data directory %s: no usable appdata.json in the starting directory; setup.json "
        "useProgramData %s",
        state->data_dir, state->data_dir == state->machine_dir ? "true" : "false or absent");
  if (state->settings_found)
    trace("settings: so_name \"%s\", hash %s", state->settings.so_name, state->settings.hash);
  else
    trace("settings missing: appdata.json absent, unreadable or without both members");
}

void trace_record(const char *path, int32_t count, bool discard, bool deleting) {
  const char *name = trace_file_name(path);
  if (discard)
    trace("%s: not a record of this build: %s", name,
          deleting ? "deleted" : "kept, the data directory is not locked");
  else
    trace("%s: count %d of this build%s", name, count,
          count >= CRASH_COUNTER_LIMIT ? ": a crash loop" : ", below 3");
}

bool trace_record_unread(const char *path) {
  const DWORD error = GetLastError();
  const char *name = trace_file_name(path);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
    trace("%s: absent", name);
  else if (error == ERROR_SHARING_VIOLATION)
    trace("%s: live, held by a running launch: neither counted nor deleted", name);
  else
    trace("%s: not read (error 0x%lX): not counted", name, error);
  return false;
}

void trace_record_foreign(const char *path) {
  trace("%s: written by another account, or open to its writes: neither counted nor deleted",
        trace_file_name(path));
}

void trace_record_replaced(const char *path, bool deleted) {
  trace("%s: another account's record: %s", trace_file_name(path),
        deleted ? "deleted, this launch writes its own"
                : "could not be deleted, this launch runs without a record");
}

void trace_recovery(const LaunchState *state, RecoveryReason why) {
  const char *reason = trace_recovery_reason(why);
  if (state->ipc_launch) {
    trace("recovery needed (%s), but an IPC launch never recovers: exit 7002", reason);
    return;
  }
  trace("recovery from skel: %s; replacing build %s", reason,
        state->settings.hash[0] ? state->settings.hash : "(none known)");
  event_recovery_begin(state->settings.hash, reason, state->mode, state->data_dir);
}

void trace_recovery_done(bool restored) {
  const char *outcome =
      restored ? "restored" : "copied, but the restored appdata.json lacks so_name or hash";
  trace("recovery: %s", outcome);
  event_recovery_end(outcome);
}

void trace_refusal(const char *title) {
  trace("refused: \"%s\" (last platform error 0x%lX)", title, GetLastError());
  event_recovery_end(title);
}

void trace_retry() {
  trace(
      "first failure: another pass follows, recovering from skel first unless a local layout "
      "without skel loads at once");
}

void trace_library(const LaunchState *state, bool checked) {
  trace("library %s: sha256 %s; signature %s", state->library_path, state->library_hash,
        checked ? "checked" : "not checked, the launcher carries no signature");
}

void trace_signature(const char *path, const SignatureVerdict &verdict) {
  char text[256];
  signature_verdict_text(verdict, text, sizeof text);
  trace("signature of %s: %s", path, text);
  if (verdict.outcome == SIGNATURE_ACCEPTED) return;
  EventStrings strings;
  event_signature_strings(path, text, &strings);
  event_report(EVENTLOG_ERROR_TYPE, QUARLO_EVENT_SIGNATURE_REFUSED, strings);
}

void trace_busy(const char *path) {
  trace("busy: %s is held by another program; nothing is changed", path);
  EventStrings strings;
  event_busy_strings(path, &strings);
  event_report(EVENTLOG_WARNING_TYPE, QUARLO_EVENT_FILE_BUSY, strings);
}

void trace_directory_refused(const char *directory, const char *why) {
  trace("data directory %s refused for a launch as a service account: %s", directory, why);
  EventStrings strings;
  event_directory_strings(directory, why, &strings);
  event_report(EVENTLOG_ERROR_TYPE, QUARLO_EVENT_DATA_DIRECTORY_REFUSED, strings);
}

void trace_untrusted(const char *path) {
  trace("%s: not used by a launch as a service account: another account owns it or may change it",
        path);
}
