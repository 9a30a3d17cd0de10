// The process's current directory and the well-known folders.
#include <windows.h>
#include <shlobj.h>
// The folder identifiers are defined in this file, so that only those used reach the image; the
// uuid library's one object carries every identifier the SDK knows.
#include <initguid.h>
#include <knownfolders.h>

#include "zeb/fs.h"
#include "zeb/known_folder_win32.h"
#include "zeb/log.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

char *file_known_folder(const GUID &id) {
  wchar_t *path = nullptr;
  const HRESULT result = SHGetKnownFolderPath(id, 0, nullptr, &path);
  if (result != S_OK) {
    ZEB_LogError("file_known_folder", "'SHGetKnownFolderPath' failed with HRESULT 0x%X",
                 unsigned(result));
    CoTaskMemFree(path);  // documented: freed even on failure
    return nullptr;
  }
  char *text = ZEB_WideToMultiL(path);
  CoTaskMemFree(path);
  return text;
}

const char *ZEB_GetDir(int32_t id) {
  const char *result = nullptr;
  switch (id) {
    case ZEB_DIR_CURRENT: {
      constexpr DWORD kUnits = 1280;
      wchar_t buffer[kUnits] = {};
      // A directory too long for the buffer leaves it zeroed: an empty text.
      if (GetCurrentDirectoryW(kUnits, buffer) == 0) {
        ZEB_LogError("ZEB_GetDir", "'GetCurrentDirectory' failed with error 0x%X",
                     unsigned(GetLastError()));
        return ".";
      }
      if (buffer[kUnits - 1] != 0) buffer[0] = 0;
      return ZEB_WideToMultiL(buffer);
    }
    case ZEB_DIR_ROAMING_APPDATA:
      result = file_known_folder(FOLDERID_RoamingAppData);
      break;
    case ZEB_DIR_PROGRAM_FILES:
      result = file_known_folder(FOLDERID_ProgramFiles);
      break;
    case ZEB_DIR_PROGRAM_DATA:
      result = file_known_folder(FOLDERID_ProgramData);
      break;
    default:
      break;
  }
  return result ? result : ".";
}
