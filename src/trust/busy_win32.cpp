// Waiting for a busy file.
#include <windows.h>

#include "src/trust/busy.h"

static_assert(busy_error(ERROR_SHARING_VIOLATION) && busy_error(ERROR_LOCK_VIOLATION) &&
                  !busy_error(ERROR_ACCESS_DENIED),
              "the platform's numbers");

bool busy_wait(BusyBudget *budget) {
  const uint64_t now = GetTickCount64();
  if (budget->deadline_ms == 0) budget->deadline_ms = now + BUSY_WAIT_MS;
  if (now >= budget->deadline_ms) return false;
  const uint64_t left = budget->deadline_ms - now;
  Sleep(DWORD(left < BUSY_PAUSE_MS ? left : BUSY_PAUSE_MS));
  return true;
}
