#pragma once
// Heap memory, string copies, formatted strings and the per-thread scratch ring.
//
// Heap results (ZEB_Alloc, ZEB_Realloc, ZEB_Strdup, every *D function) belong to the
// caller and are released with ZEB_Free. Scratch results (zeb_tlocal, every *L
// function) belong to nobody: they live in the calling thread's 8192-byte ring and
// stay intact only until later scratch allocations of that thread wrap onto them.
#include <cstdarg>
#include <cstdint>

constexpr uint64_t ZEB_TLOCAL_CAPACITY = 8192;

// Zero-filled block of count * size bytes; never null (exhaustion ends the process).
void *ZEB_Alloc(uint64_t count, uint64_t size);
// Resizes to count * size bytes; null (and the block released) only when that is 0.
void *ZEB_Realloc(void *block, uint64_t count, uint64_t size);
void ZEB_Free(void *block);

char *ZEB_Strdup(const char *text);
char *ZEB_SprintfD(const char *format, ...) __attribute__((format(printf, 1, 2)));
char *ZEB_VsprintfD(const char *format, va_list args);
char *ZEB_SprintfL(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Scratch copy, cut to the capacity of the scratch buffer in use; never ends the process.
char *ZEB_StrdupL(const char *text);

// Zero-filled scratch block. A size above the buffer's capacity ends the process.
void *zeb_tlocal(uint64_t size);
// Installs a caller-owned scratch buffer for this thread (null removes it again).
void ZEB_SetTLocalBuffer(void *buffer, uint64_t size);
