#pragma once
// Recovery: puts the pristine skel copy of the installation back into the data directory.
#include "src/launch/launch_state.h"

// Restores `data_directory` (ending in a backslash) from skel and re-reads its appdata.json
// into `settings`. True when the copy was made and both settings were read back. Every refusal
// before the copy shows a "File System Error - ..." box.
bool skel_recover(const char *data_directory, LaunchSettings *settings);

// Copies every top-level file of `skel` over the data directory; a failed copy is logged and
// skipped. False, with nothing copied, when skel lists no entries at all.
bool skel_copy_files(const char *skel, const char *data_directory);

// Where skel is: inside the data directory when it has one, else under Program Files.
void skel_location(const char *data_directory, char location[512]);
