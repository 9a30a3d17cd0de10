#pragma once
// Crash-counter records: cc0.txt, cc1.txt and cc2.txt in the data directory, one per launch
// mode, written before wx_main runs and deleted when it returns. A record left behind counts a
// launch that never came back.
#include <cstdint>

constexpr uint32_t CRASH_COUNTER_RECORD_SIZE = 128;  // the formatted record and its terminator
constexpr int32_t CRASH_COUNTER_LIMIT = 3;           // a count this high starts a recovery
constexpr uint32_t CRASH_COUNTER_MODES = 3;          // normal, service and IPC launches
constexpr uint32_t CRASH_COUNTER_PATH_SIZE = 1280;

// The record of launch `mode` in `data_directory` (ending in a backslash) into `path`.
void crash_counter_path(const char *data_directory, uint32_t mode,
                        char path[CRASH_COUNTER_PATH_SIZE]);

// Reads the record at `path`. Returns the discard flag: false when the file holds a valid record
// of `expected_hash` (its count then goes to *count_out); true otherwise, with 0 in *count_out.
// `expected_hash` and `count_out` may be null.
bool crash_counter_read(const char *path, const char *expected_hash, int32_t *count_out);

// The same over a file already opened and checked (safe_file_open), read from its start.
bool crash_counter_read_open(void *file, const char *expected_hash, int32_t *count_out);

// The validation behind crash_counter_read, over the file's bytes.
bool crash_counter_parse(const char *bytes, uint64_t size, const char *expected_hash,
                         int32_t *count_out);

// Formats the record into `buffer` (128 bytes) and returns its length without the terminator.
// 0 when it cannot be formatted or would not fit: no record is to be written then.
int32_t crash_counter_write(const char *expected_hash, int32_t count, char *buffer);

// A stored count as a 32-bit integer: nearest, ties to even; 0 when not finite or out of range.
int32_t crash_counter_convert(double value);
