#pragma once
// A file that another program holds for a moment (a reader that shares nothing, an updater, a
// sync client, a virus scanner) is busy, not broken. The launcher waits for it, about two seconds
// in all, and then gives up without changing anything rather than take it for damaged.
#include <cstdint>

// Whether the platform's error says the file is held: a sharing or lock violation. Access denied
// never is: Windows also answers it for a file that is pending deletion.
constexpr bool busy_error(uint32_t error) { return error == 32 || error == 33; }

constexpr uint32_t BUSY_WAIT_MS = 2000;
constexpr uint32_t BUSY_PAUSE_MS = 100;

// The time one wait may take, from its first pause on.
struct BusyBudget {
  uint64_t deadline_ms = 0;  // 0 until the first pause
};

#ifdef _WIN32
// After a busy answer: pauses a moment and returns true while the budget lasts, false once it is
// spent (without pausing).
bool busy_wait(BusyBudget *budget);
#endif
