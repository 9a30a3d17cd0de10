// A second process for the lock tests: runs changes against paths another process may hold and
// prints one Win32 error code per operation (0 when it succeeded).
//   lock_probe {rename FROM TO | rmdir DIR | delete FILE | write F | read F | copy FROM TO}...
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <cstdio>
#include <cwchar>

namespace {

DWORD result(bool ok) { return ok ? 0 : GetLastError(); }

DWORD open_and(const wchar_t *path, DWORD access, bool write) {
  HANDLE file = CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  char byte = 'w';
  DWORD done = 0;
  DWORD error = result(write ? WriteFile(file, &byte, 1, &done, nullptr)
                             : ReadFile(file, &byte, 1, &done, nullptr));
  CloseHandle(file);
  return error;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t **args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr) return 2;
  for (int i = 1; i < count; ++i) {
    const wchar_t *op = args[i];
    bool two = wcscmp(op, L"rename") == 0 || wcscmp(op, L"copy") == 0;
    if (i + (two ? 2 : 1) >= count) return 2;
    const wchar_t *path = args[++i];
    const wchar_t *second = two ? args[++i] : nullptr;
    DWORD error = 1;  // ERROR_INVALID_FUNCTION: an unknown operation
    if (wcscmp(op, L"rename") == 0) error = result(MoveFileExW(path, second, 0));
    if (wcscmp(op, L"copy") == 0) error = result(CopyFileW(path, second, FALSE));
    if (wcscmp(op, L"rmdir") == 0) error = result(RemoveDirectoryW(path));
    if (wcscmp(op, L"delete") == 0) error = result(DeleteFileW(path));
    if (wcscmp(op, L"write") == 0) error = open_and(path, GENERIC_WRITE, true);
    if (wcscmp(op, L"read") == 0) error = open_and(path, GENERIC_READ, false);
    printf("%lu\n", static_cast<unsigned long>(error));
  }
  fflush(stdout);
  LocalFree(args);
  return 0;
}
