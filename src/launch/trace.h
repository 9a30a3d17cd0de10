#pragma once
// The launch trace: one line per decision of a launch on the debugger channel, each beginning
// with "quarlo: ", for DebugView or a debugger to show. Always on: a line costs a formatting and
// one system call. Lines never pass through ZEB_LogError, whose last message the "Cannot load
// Quarlo" box shows, and use no scratch memory, where that message lives. Every function leaves
// the platform's last error as it found it.
//
// The recovery and signature decisions also go to the event log (src/launch/event_log.h).
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "src/launch/launch_state.h"
#include "src/launch/skel_recovery.h"
#include "src/trust/signature.h"

// Sends the support library's failure reports to the channel as well.
void trace_start();
void trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The launch mode and the candidate directories.
void trace_launch(const LaunchState *state);
// The data directory of the pass, why it was chosen, and the settings read there.
void trace_settings(const LaunchState *state);
// A crash-counter record that was read, and what is done with it.
void trace_record(const char *path, int32_t count, bool discard, bool deleting);
// A record that could not be opened: absent, or held by a running launch. Returns false.
bool trace_record_unread(const char *path);
// A record that another account could have written, which neither counts nor goes.
void trace_record_foreign(const char *path);
// This launch found another account's record under its own record's name: deleted, or not (the
// launch then runs without a record).
void trace_record_replaced(const char *path, bool deleted);
// Why a recovery is needed; the recovery's event is written when it ends.
void trace_recovery(const LaunchState *state, RecoveryReason reason);
// The end of a recovery that copied skel: restored, or the settings still missing.
void trace_recovery_done(bool restored);
// A message box that ends the launch or the recovery, with the platform's last error.
void trace_refusal(const char *title);
// A first failure: another pass follows, which recovers first where it can.
void trace_retry();
// A file another program held for longer than the launcher waits; in the event log too.
void trace_busy(const char *path);
// A data directory that a launch as a service account refuses, and why; in the event log too.
void trace_directory_refused(const char *directory, const char *why);
// A file that a launch as a service account does not use: another account could change it.
void trace_untrusted(const char *path);
// The library's path and hash, and whether its signature is checked.
void trace_library(const LaunchState *state, bool checked);
// A library's signature verdict, and a refusal in the event log too.
void trace_signature(const char *path, const SignatureVerdict &verdict);

// Pure helpers behind the lines.
// "quarlo: " and the formatted message in `line`, made inert (inert_text), cut to fit `capacity`.
void trace_compose(char *line, size_t capacity, const char *format, va_list args);
// The last component of a path (after the last backslash or slash).
const char *trace_file_name(const char *path);
// Why a recovery is needed, in words.
const char *trace_recovery_reason(RecoveryReason reason);
