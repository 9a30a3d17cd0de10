// The modal error box: OK button only, no icon, no owner window. Not a log report.
#include <windows.h>

#include "zeb/log.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

using MessageBoxFn = int(WINAPI *)(HWND, const wchar_t *, const wchar_t *, UINT);

// user32 is loaded from System32 when the first box is shown: a launch that shows none does not
// pay for the user-interface libraries at start.
MessageBoxFn message_box() {
  static const auto function =
      reinterpret_cast<MessageBoxFn>(reinterpret_cast<void *>(GetProcAddress(
          LoadLibraryExW(L"user32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32), "MessageBoxW")));
  return function;
}

}  // namespace

void ZEB_ErrorBox(const char *title, const char *format, ...) {
  va_list args;
  va_start(args, format);
  char *message = ZEB_VsprintfD(format, args);
  va_end(args);
  wchar_t *wide_message = ZEB_MultiToWideD(message);
  wchar_t *wide_title = ZEB_MultiToWideD(title);
  if (MessageBoxFn show = message_box()) show(nullptr, wide_message, wide_title, MB_OK);
  ZEB_Free(wide_title);
  ZEB_Free(wide_message);
  ZEB_Free(message);
}
