#pragma once
// Growing byte buffer for building text (the JSON writer's output, parser error lines).
//
// The buffer is owned by whoever owns the text_buf and released with the runtime's free().
// A zero-filled text_buf is empty and valid. The text is not kept NUL-terminated:
// text_printf leaves a NUL after what it wrote (not counted in length), text_append does not.
// Growth never fails: when memory runs out the process ends through util_logfatal.
#include <cstdarg>
#include <cstdint>

struct text_buf {
  char *data;       // null until the first growth
  char *end;        // data + capacity; capacity is 0 or a power of two of at least 4096
  uint32_t length;  // bytes of text in the buffer
};

// Appends n bytes.
void text_append(text_buf *buf, const void *bytes, uint32_t n);
// Appends the formatted text and returns the number of bytes appended (0 on a formatting error).
int32_t text_printf(text_buf *buf, const char *format, ...) __attribute__((format(printf, 2, 3)));
int32_t text_vprintf(text_buf *buf, const char *format, va_list args);

// Makes room for n more bytes after the text and returns where they go (data + length). The
// caller writes them and then adds n to length. For writers that fill the buffer directly.
char *text_reserve(text_buf *buf, uint32_t n);

// Capacity in bytes.
inline uint32_t text_capacity(const text_buf *buf) {
  return static_cast<uint32_t>(buf->end - buf->data);
}
