#pragma once
// Opening and sizing files by UTF-8 path through the runtime's wide-character calls.
#include <cstdint>
#include <cstdio>

// Opens the file named by a UTF-8 path with a runtime mode string ("rb", "a+b", ...; at most 7
// characters). The caller closes the stream. An open failure is logged under "util_file_open";
// an invalid path or mode fails silently.
bool util_file_open(const char *path, const char *mode, FILE **file);

// The file's size in bytes. A missing file fails silently; other failures are logged under
// "util_file_size".
bool util_file_size(const char *path, uint64_t *size);

// A UTF-8 path converted to NUL-terminated UTF-16 for the wide-character calls: in the record
// itself up to 511 units, else in a heap block that util_wide_path_release frees.
struct util_wide_path {
  char16_t local[512];
  char16_t *heap;
  const char16_t *text;  // the converted path, in local or heap
};

// False (nothing to release) when the path is not valid UTF-8.
bool util_wide_path_init(util_wide_path *wide, const char *path);
void util_wide_path_release(util_wide_path *wide);
