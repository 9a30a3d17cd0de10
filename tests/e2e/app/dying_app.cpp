// A build that dies while it loads: its DllMain ends the process before any wx_main call.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) TerminateProcess(GetCurrentProcess(), 0xD1E);
  return TRUE;
}
extern "C" __declspec(dllexport) int wx_main() { return 0; }
