#pragma once
// Shared by the launch-cost benchmark's programs and its application library.
#include <windows.h>

#include <cstdint>

// The file name of the application library inside each layout directory, as appdata.json names it.
#define LAUNCH_COST_LIBRARY L"quarlo_app.dll"
#define LAUNCH_COST_LIBRARY_UTF8 "quarlo_app.dll"
// What wx_main writes into its data directory: "entry_us=<microseconds> hash=<text>".
#define LAUNCH_COST_RESULT_FILE L"launch_cost_entry.txt"

using launch_cost_entry = int32_t (*)(int32_t *count, char **list, const char *data_dir,
                                      const char *hash);

// The starting directory as the loaders hand it to wx_main: UTF-8 with a trailing backslash,
// and the library path beside it in UTF-16. False when either does not fit.
inline bool launch_cost_layout(char *data_dir, int data_dir_capacity, wchar_t *library,
                               DWORD library_capacity) {
  const DWORD length = GetCurrentDirectoryW(library_capacity, library);
  if (length == 0 || length + 2 + sizeof(LAUNCH_COST_LIBRARY) / sizeof(wchar_t) > library_capacity)
    return false;
  if (library[length - 1] != L'\\') lstrcatW(library, L"\\");
  const int written =
      WideCharToMultiByte(CP_UTF8, 0, library, -1, data_dir, data_dir_capacity, nullptr, nullptr);
  lstrcatW(library, LAUNCH_COST_LIBRARY);
  return written > 0;
}
