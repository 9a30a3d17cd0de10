// The least a launcher can do: load the library from the starting directory and call wx_main.
#include "launch_cost.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char data_dir[1024];
  wchar_t library[1024];
  if (!launch_cost_layout(data_dir, sizeof data_dir, library, 1024)) return 10;
  HMODULE module = LoadLibraryW(library);
  if (!module) return 11;
  auto entry = reinterpret_cast<launch_cost_entry>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "wx_main")));
  if (!entry) return 12;
  char name[] = "minimal_loader";
  char *list[] = {name, nullptr};
  int32_t count = 1;
  return entry(&count, list, data_dir, "");
}
