#pragma once
// What the launcher lets every account do with the files it writes in a shared data directory.
#include <cstdint>

// A crash-counter record: other launches read it to see it live and delete it when it is stale
// (FILE_GENERIC_READ | DELETE), but cannot rewrite it, so they cannot forge a crash loop.
constexpr uint32_t GRANT_RECORD = 0x00130089;
// config.txt: read and written by every account's launches and by the application
// (FILE_GENERIC_READ | FILE_GENERIC_WRITE), never deleted, renamed, re-permissioned or taken
// over, so it cannot be turned into a record that an administrator owns.
constexpr uint32_t GRANT_CONFIG = 0x0012019F;

// Grants Everyone `rights` on a file the launcher wrote; only when that fails, takes ownership
// and grants again. `file` is the checked handle the file was written through, so the change
// reaches that file whatever its name points at by now. Failures are logged by the permission
// functions and otherwise ignored.
void grant_everyone_access(void *file, uint32_t rights);
