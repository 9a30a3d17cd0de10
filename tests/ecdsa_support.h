#pragma once
// Whether this platform verifies ECDSA Authenticode signatures. Windows and Wine 10 do; Wine 8
// (Debian 12) gives 0x80096004 even for a good P-384 signature. The ECDSA cases skip under Wine 8
// and run in the ctest entries labelled wine10, under Debian 13's Wine 10.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

// Empty when ECDSA signatures verify here, otherwise why they do not.
inline std::string ecdsa_unverifiable_reason() {
  using Version = const char *(*)();
  const auto version = reinterpret_cast<Version>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
  if (version == nullptr || std::atoi(version()) >= 10) return {};
  return std::string("Wine ") + version() +
         " cannot verify ECDSA signatures (0x80096004); the wine10 ctest entry runs this "
         "under Wine 10";
}

#define SKIP_WITHOUT_ECDSA() \
  if (const std::string why = ecdsa_unverifiable_reason(); !why.empty()) GTEST_SKIP() << why
