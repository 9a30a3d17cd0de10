#pragma once
// Opening files the launcher writes to every account, with an ownership fallback.
//
// Usage after writing a file: util_change_permissions_everyone; only if that fails,
// util_take_ownership; only if that succeeds, util_change_permissions_everyone again.
#include <cstdint>

// Adds an entry allowing Everyone the access mask `rights` (GRANT_RECORD, GRANT_CONFIG) to the
// file's DACL, keeping every other entry (earlier explicit Everyone entries, allowing or denying,
// are replaced by it). A junction, symbolic link or file with a second name is refused (logged,
// false).
bool util_change_permissions_everyone(const wchar_t *path, uint32_t rights);
// Replaces the DACL with Everyone read and Administrators everything, making Administrators
// the owner first when that is refused. Declines (and reports success) for network paths,
// links, files with a second name and files it cannot open.
bool util_take_ownership(const wchar_t *path);
// The same two changes on a file already opened and checked (safe_file_open): they reach that
// very file through second handles to it, never through its name.
bool util_change_permissions_everyone_open(void *file, uint32_t rights);
bool util_take_ownership_open(void *file);
// Switches "SeTakeOwnershipPrivilege" on or off in `token` (opened with TOKEN_ADJUST_PRIVILEGES).
bool util_set_privilege(void *token, bool enable);
