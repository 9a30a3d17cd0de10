#include "zeb/memory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "zeb/log.h"

void *ZEB_Alloc(uint64_t count, uint64_t size) {
  void *block = calloc(count, size);
  if (!block) ZEB_LogFatal("ZEB_Alloc", "'calloc' failed with errno %d", errno);
  return block;
}

void *ZEB_Realloc(void *block, uint64_t count, uint64_t size) {
  const uint64_t bytes = count * size;
  if (bytes == 0) {
    // realloc(p, 0) is implementation-defined; release explicitly so the result is always null.
    free(block);
    return nullptr;
  }
  void *resized = realloc(block, bytes);
  if (!resized) ZEB_LogFatal("ZEB_Realloc", "'realloc' failed with errno %d", errno);
  return resized;
}

void ZEB_Free(void *block) { free(block); }

char *ZEB_Strdup(const char *text) {
  const size_t n = strlen(text) + 1;
  char *copy = static_cast<char *>(ZEB_Alloc(n, 1));
  memcpy(copy, text, n);
  return copy;
}
