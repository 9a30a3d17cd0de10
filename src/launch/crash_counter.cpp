// Parsing, validating and formatting crash-counter records.
#include "src/launch/crash_counter.h"

#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "src/json/json.h"
#include "src/launch/launch_args.h"

int32_t crash_counter_convert(double value) {
  if (!std::isfinite(value)) return 0;
  const double rounded = std::nearbyint(value);  // default rounding: nearest, ties to even
  if (rounded < -2147483648.0 || rounded > 2147483647.0) return 0;
  return static_cast<int32_t>(rounded);
}

bool crash_counter_parse(const char *bytes, uint64_t size, const char *expected_hash,
                         int32_t *count_out) {
  bool discard = true;
  int32_t count = 0;
  json_ref root = json_create();
  if (size <= UINT32_MAX && json_parse(root, bytes, bytes + size)) {
    const char *text = nullptr, *text_end = nullptr;
    char stored[65] = {};
    double value = 0;
    if (json_get_string(json_obj_get(root, "hash"), &text, &text_end)) {
      const int length = snprintf(stored, sizeof stored, "%s", text);
      if (length >= 0 && length <= 64 && json_get_number(json_obj_get(root, "count"), &value) &&
          expected_hash && strcmp(stored, expected_hash) == 0) {
        discard = false;
        count = crash_counter_convert(value);
      }
    }
  }
  if (count_out) *count_out = discard ? 0 : count;
  json_destroy(root);
  return discard;
}

int32_t crash_counter_write(const char *expected_hash, int32_t count, char *buffer) {
  json_ref root = json_create();
  json_ref member;
  if (expected_hash && json_obj_at(root, "hash", &member)) {
    const char *end = expected_hash + strlen(expected_hash);
    json_set_string(member, expected_hash, end, json_string_hash(expected_hash, end));
  }
  if (json_obj_at(root, "count", &member)) json_set_number(member, double(count));

  json_writer writer = {};
  writer.flags = JSON_WRITE_PRETTY;
  json_serialize(&writer, root);
  text_append(&writer.text, "", 1);
  int length = snprintf(buffer, CRASH_COUNTER_RECORD_SIZE, "%s", writer.text.data);
  // A hash the writer escapes can make the record longer than the buffer: refuse it rather
  // than let the caller write bytes the buffer does not hold.
  if (length < 0 || length >= int(CRASH_COUNTER_RECORD_SIZE)) length = 0;
  free(writer.text.data);
  json_destroy(root);
  return length;
}

void crash_counter_path(const char *data_directory, uint32_t mode,
                        char path[CRASH_COUNTER_PATH_SIZE]) {
  char name[8];
  launch_counter_name(LaunchMode(mode), name);
  memset(path, 0, CRASH_COUNTER_PATH_SIZE);
  snprintf(path, CRASH_COUNTER_PATH_SIZE, "%s%c%s", data_directory, '\\', name);
}
