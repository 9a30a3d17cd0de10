#pragma once
// Recovery: puts the pristine skel copy of the installation back into the data directory.
#include "src/launch/launch_state.h"

// Restores `data_directory` (ending in a backslash) from skel and re-reads its appdata.json
// into `settings`. True when the copy was made and both settings were read back. Every refusal
// before the copy shows a "File System Error - ..." box.
bool skel_recover(const char *data_directory, LaunchSettings *settings);

// Where skel is: inside the data directory when it has one, else under Program Files.
void skel_location(const char *data_directory, char location[512]);
