// Failure reports: "tag: message", kept as the thread's last message and passed to the callback.
#include "zeb/log.h"

#include <atomic>
#include <cstdlib>

#include "zeb/memory.h"

namespace {

void ignore_message(const char *, void *) {}

ZEB_LogCallback log_callback = ignore_message;
void *log_opaque = nullptr;
ZEB_LogHook log_hook = nullptr;
void *log_hook_opaque = nullptr;

thread_local const char *last_message = nullptr;
thread_local bool in_callback = false;
// Composing a fatal report allocates; when that fails too, the allocator reports fatally again.
// Process-wide, not per thread: a first touch of a thread-local may itself need the heap.
std::atomic<bool> fatal_started{false};

}  // namespace

void ZEB_SetLogCallback(ZEB_LogCallback callback, void *opaque) {
  log_callback = callback ? callback : ignore_message;
  log_opaque = opaque;
}

void ZEB_SetLogHook(ZEB_LogHook hook, void *opaque) {
  log_hook = hook;
  log_hook_opaque = opaque;
}

void log_core(const char *tag, const char *format, va_list args) {
  if (in_callback) return;  // a report from inside the callback is dropped
  // The tag becomes part of the format itself.
  char *full_format = ZEB_SprintfD("%s: %s", tag, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  char *message = ZEB_VsprintfD(full_format, args);
#pragma GCC diagnostic pop
  last_message = ZEB_StrdupL(message);
  ZEB_Free(message);
  ZEB_Free(full_format);
  in_callback = true;
  log_callback(last_message, log_opaque);
  in_callback = false;
}

void ZEB_LogError(const char *tag, const char *format, ...) {
  va_list args;
  va_start(args, format);
  log_core(tag, format, args);
  va_end(args);
}

void ZEB_LogFatal(const char *tag, const char *format, ...) {
  // A second fatal report while the first is being made ends the process without it.
  if (fatal_started.exchange(true)) _Exit(1);
  va_list args;
  va_start(args, format);
  log_core(tag, format, args);
  va_end(args);
  _Exit(1);  // immediate: no exit handlers, no stream flushing
}

const char *ZEB_GetLog() { return last_message ? last_message : ""; }

void ZEB_Log(int32_t level, const char *format, ...) {
  if (!log_hook) return;
  va_list args;
  va_start(args, format);
  char *message = ZEB_VsprintfD(format, args);
  va_end(args);
  log_hook("", "", 0, level, message, 0, 1, log_hook_opaque);
  ZEB_Free(message);
}
