// The work a launcher cannot avoid: read the whole library once and take its SHA-256 with
// BCrypt, then load it and call wx_main with the digest. Built with LAUNCH_COST_FLOOR_VERIFY it
// is the floor of a signed launcher: it also checks the library's Authenticode signature, and
// refuses to go on when it does not verify. Like the launcher, it does not verify its own file.
#include <windows.h>

// After windows.h, whose base types it needs.
#include <bcrypt.h>

#include "launch_cost.h"

#ifdef LAUNCH_COST_FLOOR_VERIFY
#include <softpub.h>
#include <wintrust.h>
#endif

namespace {

// Read in large blocks into a buffer that is not part of the file.
unsigned char g_block[1 << 20];

bool sha256_file(const wchar_t *path, char *hex /* 65 bytes */) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  unsigned char digest[32];
  bool ok = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
            BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0;
  DWORD got = 0;
  while (ok && (ok = ReadFile(file, g_block, sizeof g_block, &got, nullptr)) && got > 0)
    ok = BCryptHashData(hash, g_block, got, 0) == 0;
  ok = ok && BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
  if (hash) BCryptDestroyHash(hash);
  if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  CloseHandle(file);
  for (int i = 0; ok && i < 32; ++i) {
    hex[2 * i] = "0123456789abcdef"[digest[i] >> 4];
    hex[2 * i + 1] = "0123456789abcdef"[digest[i] & 15];
  }
  hex[64] = '\0';
  return ok;
}

#ifdef LAUNCH_COST_FLOOR_VERIFY
// Authenticode check as a launcher makes it: hash only, no revocation, state closed again.
LONG verify_trust(const wchar_t *path) {
  WINTRUST_FILE_INFO file_info = {};
  file_info.cbStruct = sizeof file_info;
  file_info.pcwszFilePath = path;
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file_info;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_HASH_ONLY_FLAG;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return status;
}
#endif

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char data_dir[1024];
  wchar_t library[1024];
  if (!launch_cost_layout(data_dir, sizeof data_dir, library, 1024)) return 10;
  char hex[65];
  if (!sha256_file(library, hex)) return 13;

#ifdef LAUNCH_COST_FLOOR_VERIFY
  // An unsigned or altered library fails early and would make the floor look cheaper than it
  // is, so a failure ends the run.
  if (verify_trust(library) != 0) return 15;
#endif

  HMODULE module = LoadLibraryW(library);
  if (!module) return 11;
  auto entry = reinterpret_cast<launch_cost_entry>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "wx_main")));
  if (!entry) return 12;
  char name[] = "floor_loader";
  char *list[] = {name, nullptr};
  int32_t count = 1;
  return entry(&count, list, data_dir, hex);
}
