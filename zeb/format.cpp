// Heap and scratch formatted strings: measure first, then format into a block of exact size.
#include <cstdio>

#include "zeb/memory.h"

namespace {

int measure(const char *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  return length;
}

}  // namespace

char *ZEB_VsprintfD(const char *format, va_list args) {
  const int length = measure(format, args);
  const uint64_t size = length < 0 ? 0 : uint64_t(length) + 1;
  // A failed measurement still yields a terminated (empty) string.
  char *text = static_cast<char *>(ZEB_Alloc(size ? size : 1, 1));
  if (size) vsnprintf(text, size, format, args);
  return text;
}

char *ZEB_SprintfD(const char *format, ...) {
  va_list args;
  va_start(args, format);
  char *text = ZEB_VsprintfD(format, args);
  va_end(args);
  return text;
}

char *ZEB_SprintfL(const char *format, ...) {
  va_list args;
  va_start(args, format);
  const int length = measure(format, args);
  char *text;
  if (length < 0) {
    // A zero-sized scratch block would not be terminated: hand back an empty string instead.
    text = static_cast<char *>(zeb_tlocal(1));
  } else {
    text = static_cast<char *>(zeb_tlocal(uint64_t(length) + 1));
    vsnprintf(text, size_t(length) + 1, format, args);
  }
  va_end(args);
  return text;
}
