// The per-thread scratch ring: short-lived texts that nobody frees.
#include <cstdio>
#include <cstring>

#include "zeb/log.h"
#include "zeb/memory.h"

namespace {

struct Scratch {
  unsigned char *buffer;
  uint64_t capacity;
  uint64_t *offset;  // which of the two offsets below advances
  uint64_t installed_offset;
  uint64_t default_offset;
  unsigned char default_buffer[ZEB_TLOCAL_CAPACITY];
};

thread_local Scratch scratch;  // zero when the thread starts

void ensure_buffer() {
  if (!scratch.buffer) {
    scratch.buffer = scratch.default_buffer;
    scratch.capacity = ZEB_TLOCAL_CAPACITY;
    scratch.offset = &scratch.default_offset;
  }
}

// Reserves n bytes at the offset, wrapping to 0 when they do not fit before the end.
unsigned char *take(uint64_t n) {
  if (*scratch.offset + n > scratch.capacity) *scratch.offset = 0;
  unsigned char *block = scratch.buffer + *scratch.offset;
  memset(block, 0, n);
  *scratch.offset += n;
  return block;
}

}  // namespace

void *zeb_tlocal(uint64_t size) {
  ensure_buffer();
  if (size > scratch.capacity) ZEB_LogFatal("zeb_tlocal", "Thread local storage heap overflow");
  return take(size);
}

char *ZEB_StrdupL(const char *text) {
  ensure_buffer();
  const uint64_t length = strlen(text) + 1;
  const uint64_t n = length < scratch.capacity ? length : scratch.capacity;
  char *copy = reinterpret_cast<char *>(take(n));
  snprintf(copy, n, "%s", text);
  return copy;
}

void ZEB_SetTLocalBuffer(void *buffer, uint64_t size) {
  scratch.buffer = static_cast<unsigned char *>(buffer);
  scratch.capacity = size;
  if (buffer) {
    scratch.installed_offset = 0;
    scratch.offset = &scratch.installed_offset;
  }
}
