#pragma once
// UTF-8 <-> UTF-16 conversion at the Windows boundary: strict first, lossy fallback.
#include <cstdint>

#include "zeb/memory.h"

// True when the strict conversion succeeded; otherwise `out` holds a lossy,
// terminated text (each byte widened to one unit) and false is returned.
bool ZEB_MultiToWide(const char *text, wchar_t *out, int32_t count);
bool ZEB_WideToMulti(const wchar_t *text, char *out, int32_t size);

// Allocating forms: always return the output (null only for a null input).
wchar_t *ZEB_MultiToWideD(const char *text);
wchar_t *ZEB_MultiToWideL(const char *text);
char *ZEB_WideToMultiD(const wchar_t *text);
char *ZEB_WideToMultiL(const wchar_t *text);

// Owns a heap UTF-16 copy of a UTF-8 text for the length of a platform call.
class ZEB_WideText {
 public:
  explicit ZEB_WideText(const char *text) : text_(ZEB_MultiToWideD(text)) {}
  ~ZEB_WideText() { ZEB_Free(text_); }
  ZEB_WideText(const ZEB_WideText &) = delete;
  ZEB_WideText &operator=(const ZEB_WideText &) = delete;
  const wchar_t *get() const { return text_; }

 private:
  wchar_t *text_;
};
