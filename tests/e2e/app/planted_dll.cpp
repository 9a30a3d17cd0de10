// A DLL planted under a system DLL's name: when a process loads it, it leaves planted_ran.txt
// beside itself and ends that process at once, before anything else can run.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 32];
  DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  while (length > 0 && path[length - 1] != L'\\') --length;
  lstrcpyW(path + length, L"planted_ran.txt");
  HANDLE mark = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
  TerminateProcess(GetCurrentProcess(), 86);
  return FALSE;
}
