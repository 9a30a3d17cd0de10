// UTF-8 <-> UTF-16 at the Windows boundary.
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "zeb/log.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

constexpr UINT kUtf8 = 65001;

// Lossy fallbacks: every byte becomes the unit of the same value and back; always terminated.
void widen_bytes(const char *text, wchar_t *out, int32_t count) {
  if (count <= 0) return;
  int32_t i = 0;
  for (; i < count - 1 && text[i]; ++i) out[i] = wchar_t(static_cast<unsigned char>(text[i]));
  out[i] = 0;
}

void narrow_units(const wchar_t *text, char *out, int32_t size) {
  if (size <= 0) return;
  int32_t i = 0;
  for (; i < size - 1 && text[i]; ++i) out[i] = text[i] < 0x100 ? char(text[i]) : '?';
  out[i] = 0;
}

}  // namespace

bool ZEB_MultiToWide(const char *text, wchar_t *out, int32_t count) {
  if (MultiByteToWideChar(kUtf8, MB_ERR_INVALID_CHARS, text, -1, out, count) > 0) return true;
  const DWORD error = GetLastError();
  if (error != ERROR_NO_UNICODE_TRANSLATION)
    ZEB_LogError("ZEB_MultiToWide", "'MultiByteToWideChar' failed with error 0x%X",
                 unsigned(error));
  widen_bytes(text, out, count);
  return false;
}

bool ZEB_WideToMulti(const wchar_t *text, char *out, int32_t size) {
  if (WideCharToMultiByte(kUtf8, WC_ERR_INVALID_CHARS, text, -1, out, size, nullptr, nullptr) > 0)
    return true;
  const DWORD error = GetLastError();
  if (error != ERROR_NO_UNICODE_TRANSLATION)
    ZEB_LogError("ZEB_WideToMulti", "'WideCharToMultiByte' failed with error 0x%X",
                 unsigned(error));
  narrow_units(text, out, size);
  return false;
}

wchar_t *ZEB_MultiToWideD(const char *text) {
  if (!text) return nullptr;
  const uint32_t units = uint32_t(strlen(text)) + 1;
  auto *out = static_cast<wchar_t *>(ZEB_Alloc(units, sizeof(wchar_t)));
  ZEB_MultiToWide(text, out, int32_t(units));
  return out;
}

wchar_t *ZEB_MultiToWideL(const char *text) {
  if (!text) return nullptr;
  const uint64_t units = strlen(text) + 1;
  auto *out = static_cast<wchar_t *>(zeb_tlocal(units * sizeof(wchar_t)));
  ZEB_MultiToWide(text, out, int32_t(units));
  return out;
}

char *ZEB_WideToMultiD(const wchar_t *text) {
  if (!text) return nullptr;
  const uint64_t size = 4 * wcslen(text) + 4;
  auto *out = static_cast<char *>(ZEB_Alloc(size, 1));
  ZEB_WideToMulti(text, out, int32_t(size));
  return out;
}

char *ZEB_WideToMultiL(const wchar_t *text) {
  if (!text) return nullptr;
  const uint64_t size = 4 * wcslen(text) + 4;
  auto *out = static_cast<char *>(zeb_tlocal(size));
  ZEB_WideToMulti(text, out, int32_t(size));
  return out;
}
