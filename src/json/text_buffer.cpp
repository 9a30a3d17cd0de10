// Growing byte buffer: capacity doubles in powers of two from 4096.
#include "src/json/text_buffer.h"
#include "src/json/pow2.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "src/json/logfatal.h"

namespace {

constexpr const char *kSource = "../src/util/text";
constexpr uint32_t kMinCapacity = 4096;
// The largest power of two a 32-bit capacity can hold.
constexpr uint32_t kMaxCapacity = 0x80000000u;

// Grows the buffer to hold need bytes. There is no failure result: callers never test for one,
// so exhausted memory (or a size beyond 32 bits) ends the process instead of writing through a
// null buffer.
void grow(text_buf *buf, uint64_t need) {
  if (need <= text_capacity(buf)) return;
  if (need > kMaxCapacity) util_logfatal(kSource, __LINE__, "text buffer would exceed 2 GiB");
  uint32_t capacity = util_round_up_pow2(static_cast<uint32_t>(need));
  if (capacity < kMinCapacity) capacity = kMinCapacity;
  char *data = static_cast<char *>(realloc(buf->data, capacity));
  if (!data) util_logfatal(kSource, __LINE__, "'realloc' failed to grow a text buffer");
  buf->data = data;
  buf->end = data + capacity;
}

}  // namespace

char *text_reserve(text_buf *buf, uint32_t n) {
  grow(buf, uint64_t(buf->length) + n);
  return buf->data + buf->length;
}

void text_append(text_buf *buf, const void *bytes, uint32_t n) {
  if (n == 0) return;
  char *at = text_reserve(buf, n);
  memcpy(at, bytes, n);
  buf->length += n;
}

int32_t text_vprintf(text_buf *buf, const char *format, va_list args) {
  va_list again;
  va_copy(again, args);
  uint32_t room = text_capacity(buf) - buf->length;
  // An empty buffer formats with room 0 too: that only measures the output.
  char *at = buf->data ? buf->data + buf->length : nullptr;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int result = vsnprintf(at, room, format, args);
  if (result < 0) result = -1;
  if (result < 0 || static_cast<uint32_t>(result) < room) {
    va_end(again);
    if (result < 0) return 0;
    buf->length += static_cast<uint32_t>(result);
    return result;
  }
  grow(buf, uint64_t(buf->length) + static_cast<uint32_t>(result) + 1);
  room = text_capacity(buf) - buf->length;
  result = vsnprintf(buf->data + buf->length, room, format, again);
#pragma GCC diagnostic pop
  va_end(again);
  if (result >= 0 && static_cast<uint32_t>(result) >= room)
    util_logfatal(kSource, __LINE__, "vsnprintf should always succeed, the second time");
  if (result < 0) return 0;
  buf->length += static_cast<uint32_t>(result);
  return result;
}

int32_t text_printf(text_buf *buf, const char *format, ...) {
  va_list args;
  va_start(args, format);
  const int32_t result = text_vprintf(buf, format, args);
  va_end(args);
  return result;
}
