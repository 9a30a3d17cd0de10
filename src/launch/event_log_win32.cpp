// Reporting to the Application event log.
#include <windows.h>

#include "src/launch/event_log.h"

void event_report(uint16_t type, uint32_t event_id, const EventStrings &strings) {
  const DWORD error = GetLastError();
  // An installer registers the source; without it the entry still goes in, with no text.
  HANDLE source = RegisterEventSourceW(nullptr, L"Quarlo");
  if (source) {
    wchar_t wide[EVENT_MAX_STRINGS][EVENT_STRING_SIZE];
    const wchar_t *texts[EVENT_MAX_STRINGS] = {};
    for (uint32_t i = 0; i < strings.count && i < EVENT_MAX_STRINGS; ++i) {
      if (!MultiByteToWideChar(CP_UTF8, 0, strings.text[i], -1, wide[i], EVENT_STRING_SIZE))
        wide[i][0] = 0;
      texts[i] = wide[i];
    }
    ReportEventW(source, type, 0, event_id, nullptr, WORD(strings.count), 0, texts, nullptr);
    DeregisterEventSource(source);
  }
  SetLastError(error);
}
