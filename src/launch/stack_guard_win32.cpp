// The stack canary that -fstack-protector-strong compiles into product code, and what happens
// when one is found overwritten.
//
// The compiler's own runtime (libssp) seeds the canary through CryptAcquireContext in a
// constructor, which loads rsaenh.dll and its dependencies through the default DLL search
// before start-up has limited it to System32: a bcrypt.dll planted beside the launcher would
// then run. So the canary is seeded here from what the process already has, as the Windows C
// runtime seeds its own: the clocks, the process and thread ids, and the randomised addresses
// of the stack and the image.
#include <windows.h>

#include <cstdint>

extern "C" {

// Read by every protected function's prologue and epilogue. The value until seeding is only
// what the first constructors run with.
uintptr_t __stack_chk_guard = 0x2f8d5a3c71e4b690u;

// Ends the process at once: a function's return address or saved registers may have been
// overwritten, so nothing else is run, not even a report.
[[noreturn]] void __stack_chk_fail() {
  TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  __builtin_unreachable();
}
}

namespace {

uint64_t mix(uint64_t value) {
  value ^= value >> 30;
  value *= 0xbf58476d1ce4e5b9u;
  value ^= value >> 27;
  value *= 0x94d049bb133111ebu;
  return value ^ (value >> 31);
}

// Runs among the first constructors, called from the runtime's start-up code, so no protected
// function is on the stack when the value changes.
__attribute__((constructor(101), no_stack_protector)) void seed_stack_guard() {
  LARGE_INTEGER counter = {};
  QueryPerformanceCounter(&counter);
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  uint64_t seed = mix(uint64_t(counter.QuadPart));
  seed = mix(seed ^ (uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime));
  seed = mix(seed ^ (uint64_t(GetCurrentProcessId()) << 32 | GetCurrentThreadId()));
  seed = mix(seed ^ GetTickCount64());
  seed = mix(seed ^ uintptr_t(&counter) ^ uintptr_t(&__stack_chk_guard) << 16);
  // A zero low byte: a string copy that runs over the canary cannot write it back intact.
  __stack_chk_guard = uintptr_t(seed) & ~uintptr_t(0xFF);
}

}  // namespace
