#pragma once
// Anti-swap locks: open handles without delete sharing that keep a file or directory (and the
// directories above it) from being deleted, renamed or moved while the launcher checks and runs
// what is inside. Junctions and symbolic links are refused. Handles are typed `void *` (the
// platform HANDLE) so that pure code can include this header.
#include <cstdint>

#include "src/trust/handle.h"

// Locks one file or directory. Write sharing is granted only when `share_write` is set; delete
// sharing never. On success `*handle_out` holds the open handle, owned by the caller (release
// with handle_reset); on failure it is null, nothing stays open, and `*error` (when given) holds
// the platform's error: a sharing violation when another open keeps the lock out (busy_error),
// access denied for a junction or symbolic link.
bool lock_path(const char *path, bool is_directory, bool share_write, void **handle_out,
               uint32_t *error = nullptr);

// Locks a directory (slot 0) and its ancestors upwards, never the root of a volume above it,
// all with write sharing: what is inside may still be created, written and renamed, which on
// Windows opens the directory for adding a file, while the directories stay where they are; a directory that is itself the root of a
// volume is locked as it is. A network path is not locked: true with a null array and count 0.
// On success the caller owns the array and its `*count_out` used slots (release with
// lock_release_array); on failure both are null and 0 and every handle opened has been closed.
bool lock_path_recursive(const char *path, void ***array_out, uint32_t *count_out);

// Whether the object open as `handle` (opened without following a reparse point) may be locked:
// not a junction or symbolic link. lock_path asks this of what it opened.
bool lock_object_allowed(void *handle);

// Deletes the name `path` itself, never what it reaches: a file (read-only too), one name of a file
// that has others, a junction or a symbolic link. True when the name is gone or never existed;
// false (logged) for a directory or a name that an open without delete sharing keeps.
bool lock_remove_name(const char *path);
// The same in two steps, so that nothing changes before everything was checked: the name is
// opened for deletion and held (`*handle` null when there is none), and later deleted through that
// handle, which no other program can then keep from it. Release the handle with handle_reset.
// A directory that another account owns is not the application's lock file: it is left in place
// and stops nothing (true, no handle); lock_remove_name alone still refuses every directory.
bool lock_hold_name(const char *path, void **handle);
bool lock_remove_held(void *handle, const char *path);

// Closes every used slot's handle, frees the array, nulls the pointer and zeroes the count.
void lock_release_array(void ***array, uint32_t *count);

// Path and reparse decisions behind the locks (pure).
constexpr uint32_t LOCK_REPARSE_TAG_MOUNT_POINT = 0xA0000003;
constexpr uint32_t LOCK_REPARSE_TAG_SYMLINK = 0xA000000C;
constexpr uint32_t LOCK_REPARSE_BUFFER_SIZE = 16384;

inline bool lock_is_separator(char c) { return c == '\\' || c == '/'; }
// True for a path that is the root of a volume or of the current drive once its trailing
// separators are gone: "" (from "\") or a drive designator "X:" (from "X:\").
bool lock_is_root_stem(const char *path, uint64_t length);
// Length of `path` that lock_path opens: one trailing separator dropped, unless the rest would
// be a root stem, which would name another directory ("X:" is the drive's current directory).
uint64_t lock_open_length(const char *path);
// Removes every trailing separator in place but keeps the one a root needs; returns the length.
uint64_t lock_trim_separators(char *path);
// Slots of the ancestor-lock array for a trimmed path: one per separator (the directory and its
// ancestors below the volume root), and at least one, for the directory itself.
uint32_t lock_slot_count(const char *trimmed);
// Cuts `path` at its last separator after the first character; false when there is none.
bool lock_cut_at_parent(char *path);
// Whether an object carrying a reparse point may be locked, from the result of fetching its
// reparse data: `fetched` and the bytes returned. Junctions, symbolic links, a failed fetch and
// data too short to hold a tag are refused; any other tag is accepted.
bool lock_reparse_data_allowed(bool fetched, const void *data, uint32_t bytes_returned);
