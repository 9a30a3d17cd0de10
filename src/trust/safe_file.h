#pragma once
// How the launcher changes files it does not trust: the crash-counter records, config.txt, the
// lock files and the targets of skel copies, all in a data directory that other accounts may be
// able to write. Each file is opened without following a reparse point at its end, checked to be
// a plain file with a single name, and then changed only through that handle, so that a
// junction, symbolic link or hard link planted under its name cannot redirect the change.
// Handles are typed `void *` (the platform HANDLE) so that pure code can include this header.
#include <cstdint>

#include "src/trust/handle.h"

// What a file's information says about changing it through its name (pure).
enum SafeFileVerdict : uint32_t {
  SAFE_FILE_PLAIN = 0,      // a file with one name: may be changed
  SAFE_FILE_REPARSE = 1,    // a junction, symbolic link or other reparse point
  SAFE_FILE_DIRECTORY = 2,  // not a file
  SAFE_FILE_HARD_LINK = 3,  // another name reaches the same file
};
SafeFileVerdict safe_file_verdict(uint32_t attributes, uint32_t link_count);

// Outcome of safe_file_open.
enum SafeFileOpen : uint32_t {
  SAFE_FILE_OPENED = 0,
  SAFE_FILE_MISSING = 1,  // no such file (and not created)
  SAFE_FILE_IN_USE = 2,   // another open withholds the sharing asked for
  SAFE_FILE_REFUSED = 3,  // not a plain file with one name (logged)
  SAFE_FILE_FAILED = 4,   // any other failure (logged)
};

// Access rights for safe_file_open (the platform's values).
constexpr uint32_t SAFE_FILE_READ = 0x80000000;     // GENERIC_READ
constexpr uint32_t SAFE_FILE_WRITE = 0x40000000;    // GENERIC_WRITE
constexpr uint32_t SAFE_FILE_APPEND = 0x00000004;   // FILE_APPEND_DATA
constexpr uint32_t SAFE_FILE_DELETE = 0x00010000;   // DELETE
constexpr uint32_t SAFE_FILE_INSPECT = 0x00020080;  // READ_CONTROL | FILE_READ_ATTRIBUTES
// Share modes (the platform's values).
constexpr uint32_t SAFE_FILE_SHARE_READ = 1;
constexpr uint32_t SAFE_FILE_SHARE_ALL = 7;  // read, write and delete

// The attributes of the object open as `handle`, or 0xFFFFFFFF (INVALID_FILE_ATTRIBUTES).
uint32_t safe_file_attributes(void *handle);

// Opens `path` with `access` and `share`, creating an empty file when `create` is set and none
// exists; `*existed` (when given) tells whether the file was there before. On SAFE_FILE_OPENED
// `*file` holds the handle (release with handle_reset); otherwise it is null, nothing stays open
// and the platform's last error tells why.
SafeFileOpen safe_file_open(const char *path, uint32_t access, uint32_t share, bool create,
                            void **file, bool *existed = nullptr);
SafeFileOpen safe_file_open_wide(const wchar_t *path, uint32_t access, uint32_t share, bool create,
                                 void **file, bool *existed = nullptr);
// Another handle to the very file `file` is open on, with other access (never a new name lookup).
// Null on failure, with the platform's last error.
void *safe_file_reopen(void *file, uint32_t access);

// Reads the whole file from its start into a heap block of its size plus a terminating zero
// (release with ZEB_Free). False for a file larger than `limit` or a failed read, with the
// platform's last error telling why.
bool safe_file_read(void *file, uint64_t limit, char **bytes, uint64_t *size);
// Replaces the contents with `size` bytes.
bool safe_file_replace(void *file, const void *bytes, uint64_t size);
// Replaces what `to` holds with all that `from` holds, both taken from their start.
bool safe_file_copy_open(void *from, void *to);
// Adds `size` bytes at the end (a handle opened with SAFE_FILE_APPEND).
bool safe_file_append(void *file, const void *bytes, uint64_t size);
// Deletes the file through a handle opened with SAFE_FILE_DELETE; it goes when the last handle
// to it closes.
bool safe_file_delete_open(void *file);

// By name: delete a plain file (false and logged when missing, in use or refused).
bool safe_file_delete(const char *path);
