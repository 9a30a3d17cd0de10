#pragma once
// Opens a file the launcher wrote to every account: grant Everyone; only when that fails, take
// ownership and grant again. `file` is the checked handle the file was written through, so the
// change reaches that file whatever its name points at by now. Failures are logged by the
// permission functions and otherwise ignored.
void grant_everyone_access(void *file);
