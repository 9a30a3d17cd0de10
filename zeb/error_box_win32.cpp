// The modal error box: OK button only, no icon, no owner window. Not a log report.
#include <windows.h>

#include "zeb/log.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

void ZEB_ErrorBox(const char *title, const char *format, ...) {
  va_list args;
  va_start(args, format);
  char *message = ZEB_VsprintfD(format, args);
  va_end(args);
  wchar_t *wide_message = ZEB_MultiToWideD(message);
  wchar_t *wide_title = ZEB_MultiToWideD(title);
  MessageBoxW(nullptr, wide_message, wide_title, MB_OK);
  ZEB_Free(wide_title);
  ZEB_Free(wide_message);
  ZEB_Free(message);
}
