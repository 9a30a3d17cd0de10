#pragma once
#include <cstdint>

// The whole life of the launcher: hardening, argument list, launch loop. Returns the exit code.
int32_t launcher_main(int32_t count, char **list);
