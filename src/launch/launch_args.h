#pragma once
// The launcher's own argument list and the launch mode it implies.
#include <cstdint>

constexpr int32_t LAUNCH_LIST_ENTRIES = 128;
constexpr const char *LAUNCH_MARKER = "LOADER_V15";
constexpr const char *LAUNCH_IPC_MARKER = "QUARLO_IPC_";
constexpr const char *LAUNCH_SERVICE_MARKER = "SERVICE_LAUNCHED";

enum LaunchMode : uint32_t {
  LAUNCH_MODE_NORMAL = 0,
  LAUNCH_MODE_SERVICE = 1,
  LAUNCH_MODE_IPC = 2,
};

// Copies up to 128 arguments into `list` (128 zeroed entries, heap copies) and appends
// "LOADER_V15" when there is room. Returns the entry count handed to the library: never
// more than the list holds.
int32_t launch_args_copy(int32_t count, char *const *arguments, char **list);

// First entry containing `marker`, scanning until the first null entry or the end of the list.
const char *launch_args_find(char *const *list, const char *marker);

// Mode 2 when an entry contains "QUARLO_IPC_", else 1 for "SERVICE_LAUNCHED", else 0.
LaunchMode launch_mode(char *const *list);

// "cc<mode>.txt" into an 8-byte buffer.
void launch_counter_name(LaunchMode mode, char name[8]);

// "normal", "service" or "IPC", as the trace and the event log name the mode.
const char *launch_mode_name(LaunchMode mode);
