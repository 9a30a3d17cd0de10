#pragma once
// Failure reports, fatal errors, the structured log hook and the error message box.
#include <cstdarg>
#include <cstdint>

using ZEB_LogCallback = void (*)(const char *message, void *opaque);
using ZEB_LogHook = void (*)(const char *, const char *, int, int32_t level, const char *message,
                             int32_t, int32_t, void *opaque);

// Composes "tag: message", keeps it as the thread's last message and hands it to the callback.
void log_core(const char *tag, const char *format, va_list args);
void ZEB_LogError(const char *tag, const char *format, ...) __attribute__((format(printf, 2, 3)));
// Reports, then ends the process at once with exit code 1 (no exit handlers, no flushing).
[[noreturn]] void ZEB_LogFatal(const char *tag, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
// The thread's last report (a scratch text), or "" when there was none.
const char *ZEB_GetLog();
// Passes a formatted message to the log hook; does nothing (not even formatting) without one.
void ZEB_Log(int32_t level, const char *format, ...) __attribute__((format(printf, 2, 3)));
// Modal box with an OK button only and no owner window.
void ZEB_ErrorBox(const char *title, const char *format, ...) __attribute__((format(printf, 2, 3)));

// The launcher installs neither; hosts and tests may.
void ZEB_SetLogCallback(ZEB_LogCallback callback, void *opaque);
void ZEB_SetLogHook(ZEB_LogHook hook, void *opaque);
