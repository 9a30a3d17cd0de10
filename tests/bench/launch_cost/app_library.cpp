// The application library of the launch-cost benchmark. wx_main records how long after the
// creation of its process it was entered, and the hash text its loader handed it, then returns 0.
#include <cinttypes>
#include <cstdio>

#include "launch_cost.h"

#ifndef LAUNCH_COST_PADDING_BYTES
#error "LAUNCH_COST_PADDING_BYTES must give the size of the padding"
#endif
// Real bytes in a read-only data section: the image loader maps every section and a hash of the
// file reads them all.
extern "C" __declspec(dllexport) const
    unsigned char launch_cost_padding[LAUNCH_COST_PADDING_BYTES] = {0x5a};

namespace {

int64_t ticks(const FILETIME &time) {
  return int64_t((uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

}  // namespace

extern "C" __declspec(dllexport) int32_t
    wx_main(int32_t *count, char **list, const char *data_dir, const char *hash) {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 3;
  (void)count;
  (void)list;
  const int64_t entry_us = (ticks(now) - ticks(created)) / 10;

  wchar_t path[1024];
  const int length = MultiByteToWideChar(CP_UTF8, 0, data_dir ? data_dir : "", -1, path, 1000);
  if (length <= 0) return 4;
  lstrcatW(path, LAUNCH_COST_RESULT_FILE);
  char line[160];
  const int size = snprintf(line, sizeof line, "entry_us=%" PRId64 " hash=%.64s\n", entry_us,
                            hash && *hash ? hash : "-");
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 5;
  DWORD written = 0;
  const bool ok = WriteFile(file, line, DWORD(size), &written, nullptr) && written == DWORD(size);
  CloseHandle(file);
  return ok ? 0 : 6;
}
