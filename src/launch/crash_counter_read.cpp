// Reading a crash-counter record from disk.
#include <cstdio>

#include "src/launch/crash_counter.h"
#include "src/json/file_util.h"
#include "src/trust/safe_file.h"
#include "zeb/memory.h"

namespace {

// A record is about a hundred bytes; anything this large is not one, and reading it whole
// could exhaust memory on every launch.
constexpr uint64_t kLargestRecordFile = 1 << 20;

}  // namespace

bool crash_counter_read(const char *path, const char *expected_hash, int32_t *count_out) {
  if (count_out) *count_out = 0;
  FILE *file = nullptr;
  if (!util_file_open(path, "rb", &file)) return true;
  uint64_t size = 0;
  if (!util_file_size(path, &size) || size > kLargestRecordFile) {
    fclose(file);
    return true;
  }
  char *bytes = static_cast<char *>(ZEB_Alloc(size ? size : 1, 1));
  // A short read leaves zeros behind the bytes read, which no record accepts.
  if (fread(bytes, 1, size, file) != size) bytes[0] = 0;
  fclose(file);
  const bool discard = crash_counter_parse(bytes, size, expected_hash, count_out);
  ZEB_Free(bytes);
  return discard;
}

bool crash_counter_read_open(void *file, const char *expected_hash, int32_t *count_out) {
  if (count_out) *count_out = 0;
  char *bytes = nullptr;
  uint64_t size = 0;
  if (!safe_file_read(file, kLargestRecordFile, &bytes, &size)) return true;
  const bool discard = crash_counter_parse(bytes, size, expected_hash, count_out);
  ZEB_Free(bytes);
  return discard;
}
