#pragma once
// Opens a file the launcher wrote to every account: grant Everyone; only when that fails, take
// ownership and grant again. Failures are logged by the permission functions and otherwise
// ignored.
void grant_everyone_access(const char *path);
