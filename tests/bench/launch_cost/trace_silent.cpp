// The launcher as it was before its trace, for the launch-cost benchmark to measure beside the
// traced one: linked ahead of the product library, these stand in for every entry point of the
// trace module, so that none of its lines are composed or sent and no log callback is installed.
#include "src/launch/trace.h"

void trace_start() {}
void trace(const char *, ...) {}
void trace_launch(const LaunchState *) {}
void trace_settings(const LaunchState *) {}
void trace_record(const char *, int32_t, bool, bool) {}
bool trace_record_unread(const char *) { return false; }
void trace_recovery(const LaunchState *, RecoveryReason) {}
void trace_recovery_done(bool) {}
void trace_refusal(const char *) {}
void trace_retry() {}
void trace_record_foreign(const char *) {}
void trace_record_replaced(const char *, bool) {}
void trace_busy(const char *) {}
void trace_directory_refused(const char *, const char *) {}
void trace_untrusted(const char *) {}
void trace_library(const LaunchState *, bool) {}
void trace_signature(const char *, const SignatureVerdict &) {}
