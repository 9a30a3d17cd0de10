// Crash-counter records from arbitrary bytes: validation never misbehaves, a kept record always
// carries the expected hash, and a record written for a count reads back as that count.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "src/launch/crash_counter.h"

namespace {

const char kHash[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *bytes = reinterpret_cast<const char *>(data);
  int32_t count = -1;
  const bool discard = crash_counter_parse(bytes, size, kHash, &count);
  if (discard && count != 0) abort();
  // Without an expected hash nothing is ever kept.
  if (!crash_counter_parse(bytes, size, nullptr, &count) || count != 0) abort();

  // The input's leading bytes, as a hash text and a count, through the writer and back.
  if (size >= 4) {
    int32_t value;
    memcpy(&value, data, 4);
    char hash[65] = {};
    const size_t hash_length = size - 4 < 64 ? size - 4 : 64;
    memcpy(hash, data + 4, hash_length);
    char record[CRASH_COUNTER_RECORD_SIZE];
    const int32_t length = crash_counter_write(hash, value, record);
    if (length < 0 || length >= int32_t(CRASH_COUNTER_RECORD_SIZE)) abort();
    // A hash with a NUL inside reads back cut at the NUL, so only plain texts must round-trip.
    if (length > 0 && strlen(hash) == hash_length &&
        (crash_counter_parse(record, size_t(length), hash, &count) || count != value))
      abort();
  }
  return 0;
}
