#pragma once
#include <windows.h>

// Scratch UTF-8 path of a known folder for the current user, or null.
char *file_known_folder(const GUID &id);
