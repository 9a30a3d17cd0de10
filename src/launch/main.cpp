// quarlo.exe: the platform entry only; the launch sequence lives in the library.
#include <windows.h>

#include <cstdlib>

#include "src/launch/launcher.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return launcher_main(__argc, __argv); }
