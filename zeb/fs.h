#pragma once
// File-system operations on UTF-8 paths, well-known directories and path strings.
#include <cstdint>
#include <cstdio>

constexpr uint64_t ZEB_READFILE_LIMIT = 0x40000000;  // 1 GiB

enum ZEB_DirId : int32_t {
  ZEB_DIR_CURRENT = 0,
  ZEB_DIR_ROAMING_APPDATA = 1,
  ZEB_DIR_PROGRAM_FILES = 2,
  ZEB_DIR_PROGRAM_DATA = 3,
};

// Heap buffer of size + 1 bytes ending in NUL, or null (missing, empty, over 1 GiB, read error).
char *ZEB_ReadFile(const char *path, uint64_t *size_out);
bool ZEB_WriteFile(const char *path, const void *data, uint64_t size);
FILE *fsutil_open(const char *path, const char *mode);
// The file's size; false (with 0) when it cannot be queried, logged unless the file is missing.
bool fsutil_size(const char *path, uint64_t *size);
bool ZEB_CopyFile(const char *source, const char *destination);
bool ZEB_DeleteFile(const char *path);
bool ZEB_FileExists(const char *path);
bool ZEB_Mkdir(const char *path);
// Scratch text of a well-known directory (ZEB_DirId), or the static ".".
const char *ZEB_GetDir(int32_t id);

// Path strings (pure): scratch results.
char *ZEB_JoinPath(const char *first, const char *second);
char *ZEB_GetFileName(const char *path, bool keep_extension);
const char *ZEB_GetFileExtension(const char *path);
