// The stack canary that -fstack-protector-strong compiles into product code, and what happens
// when one is found overwritten.
//
// The compiler's own runtime (libssp) seeds the canary through CryptAcquireContext in a
// constructor, which loads rsaenh.dll and its dependencies through the default DLL search
// before start-up has limited it to System32: a bcrypt.dll planted beside the launcher would
// then run. So the canary is seeded here from the system's generator, RtlGenRandom, which
// advapi32 (a known DLL the launcher imports anyway) exports: nothing new is loaded. The
// clocks, ids and randomised addresses the Windows C runtime seeds its own canary with are
// mixed in too, so that a failed call still leaves a canary no worse than theirs.
#include <windows.h>
// clang-format off
#include <ntsecapi.h>
// clang-format on

#include <cstdint>

extern "C" {

// Read by every protected function's prologue and epilogue. The value until seeding is only
// what the first constructors run with. It lies in a section of its own, named apart from
// .data so that the linker keeps it apart; the loader maps every section from a page boundary,
// so the page holds nothing else and is made read-only once seeded: a write through a corrupted
// pointer cannot reset it to a value an attacker knows. (Aligning the variable to 4 KB would
// only pad the file: the assembler fills the section out to its alignment.)
__attribute__((section(".canary"))) uintptr_t __stack_chk_guard = 0x2f8d5a3c71e4b690u;

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
  uint64_t random = 0;
  // On failure `random` stays 0 and the other sources below still vary the canary.
  if (!RtlGenRandom(&random, sizeof random)) random = 0;
  LARGE_INTEGER counter = {};
  QueryPerformanceCounter(&counter);
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  uint64_t seed = mix(random ^ uint64_t(counter.QuadPart));
  seed = mix(seed ^ (uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime));
  seed = mix(seed ^ (uint64_t(GetCurrentProcessId()) << 32 | GetCurrentThreadId()));
  seed = mix(seed ^ GetTickCount64());
  seed = mix(seed ^ uintptr_t(&counter) ^ uintptr_t(&__stack_chk_guard) << 16);
  // Each step is a bijection of the running value: the guessable sources cannot cancel the
  // system's random bits.
  // A zero low byte: a string copy that runs over the canary cannot write it back intact.
  __stack_chk_guard = uintptr_t(seed) & ~uintptr_t(0xFF);
  // When this fails the page stays writable: the canary still works, without that extra
  // protection, and there is nothing safer to do this early than to go on.
  DWORD previous = 0;
  VirtualProtect(&__stack_chk_guard, sizeof __stack_chk_guard, PAGE_READONLY, &previous);
}

}  // namespace
