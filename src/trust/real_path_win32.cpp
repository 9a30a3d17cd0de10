// Opening and querying paths for resolve_real_path; the decoding and the substitution loop
// live in the pure files beside this one.
#include <windows.h>
// After windows.h, whose types they use.
#include <shlwapi.h>
#include <winioctl.h>

#include <cstdlib>
#include <cstring>

#include "src/trust/handle.h"
#include "src/trust/link_trust.h"
#include "src/trust/real_path.h"
#include "src/trust/safe_file.h"
#include "src/trust/reparse_data.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

constexpr size_t kFullPathUnits = 1280;

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Heap UTF-16 block released on every exit path.
struct WideBlock {
  wchar_t *text;
  explicit WideBlock(wchar_t *owned) : text(owned) {}
  explicit WideBlock(size_t units)
      : text(static_cast<wchar_t *>(ZEB_Alloc(units, sizeof(wchar_t)))) {}
  ~WideBlock() { ZEB_Free(text); }
  WideBlock(const WideBlock &) = delete;
  WideBlock &operator=(const WideBlock &) = delete;
};

// A zero-filled, terminated copy of a UTF-16 name that may sit unaligned in the record.
wchar_t *copy_name(const void *names, uint16_t offset, uint16_t length, size_t units) {
  auto *copy = static_cast<wchar_t *>(ZEB_Alloc(units, sizeof(wchar_t)));
  memcpy(copy, static_cast<const uint8_t *>(names) + offset, length);
  return copy;
}

// Whether a drive is a network drive, asked once for all the paths on it that one resolution
// looks at: the platform answers a drive letter by querying the volume each time.
struct DriveKind {
  wchar_t letter = 0;  // 0 until a path of the form "X:" was asked about
  bool network = false;
};

// Paths of the form "X:" share one answer per letter; any other form is asked every time.
bool network_path(const wchar_t *path, DriveKind *known) {
  const wchar_t letter = path[0] != 0 && path[1] == L':' ? path[0] : 0;
  if (known && letter != 0 && letter == known->letter) return known->network;
  const bool network = PathIsNetworkPathW(path) != FALSE;
  if (known && letter != 0) *known = {letter, network};
  return network;
}

}  // namespace

char *make_link_target_path(const char *linkPath, bool relative, const void *names,
                            uint16_t printNameOffset, uint16_t printNameLength) {
  WideBlock printName(copy_name(names, printNameOffset, printNameLength, printNameLength + 1u));
  if (!relative) return ZEB_WideToMultiD(printName.text);

  // The link's directory, up to and including its last separator; a bare name is used whole.
  WideBlock link(ZEB_MultiToWideD(linkPath));
  size_t directory = wcslen(link.text);
  for (size_t i = directory; i > 0; --i) {
    if (is_separator(link.text[i - 1])) {
      directory = i;
      break;
    }
  }

  // "directory\name", cut to the buffer; the full-path routine folds the doubled separator
  // and any "." and ".." parts.
  const size_t units = strlen(linkPath) + printNameLength + 5;
  WideBlock joined(units);
  size_t used = 0;
  for (size_t i = 0; i < directory && used + 1 < units; ++i) joined.text[used++] = link.text[i];
  if (used + 1 < units) joined.text[used++] = L'\\';
  for (const wchar_t *p = printName.text; *p && used + 1 < units; ++p) joined.text[used++] = *p;

  WideBlock full(units);
  if (!_wfullpath(full.text, joined.text, units)) full.text[0] = L'\0';
  return ZEB_WideToMultiD(full.text);
}

namespace {

// What one resolution knows and wants: the network answer for its drive, and whether only
// links that administrators control are followed.
struct Resolution {
  DriveKind known;
  bool trusted_only = false;
};

char *link_target(const char *path, DriveKind *known, bool trusted_only) {
  if (!path) return nullptr;
  WideBlock wide(ZEB_MultiToWideD(path));
  if (network_path(wide.text, known)) return nullptr;
  // One trailing separator goes, unless it is a root's: "X:" is the current directory on X.
  const size_t length = wcslen(wide.text);
  const bool drive_root = length == 3 && wide.text[1] == L':';
  if (length > 0 && is_separator(wide.text[length - 1]) && !drive_root)
    wide.text[length - 1] = L'\0';

  // The link itself, not what it points to; directories open too.
  ScopedHandle file(CreateFileW(
      wide.text, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return nullptr;

  const DWORD attributes = safe_file_attributes(file.get());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return nullptr;
  if (trusted_only && !link_trusted_in_directory_of(file.get(), wide.text)) return nullptr;

  alignas(8) uint8_t buffer[REPARSE_BUFFER_SIZE];
  DWORD returned = 0;
  if (!DeviceIoControl(file.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer, sizeof buffer,
                       &returned, nullptr))
    return nullptr;

  ReparseLink link;
  if (!decode_reparse_link(buffer, returned, &link)) return nullptr;
  if (link.kind == REPARSE_LINK_SYMLINK)
    return make_link_target_path(path, link.relative, link.names, link.printNameOffset,
                                 link.printNameLength);
  // A junction without a print name (a volume mount point) names no usable directory.
  if (link.printNameLength == 0) return nullptr;
  WideBlock printName(copy_name(link.names, link.printNameOffset, link.printNameLength,
                                link.printNameLength / 2 + 1u));
  return ZEB_WideToMultiD(printName.text);
}

char *lookup_link(const char *path, void *context) {
  auto *resolution = static_cast<Resolution *>(context);
  return link_target(path, &resolution->known, resolution->trusted_only);
}

char *resolve(const char *path, bool trusted_only) {
  wchar_t full[kFullPathUnits] = {};
  {
    WideBlock wide(ZEB_MultiToWideD(path ? path : ""));
    // A form that does not fit leaves the buffer empty.
    if (!_wfullpath(full, wide.text, kFullPathUnits)) full[0] = L'\0';
  }
  char *working = ZEB_WideToMultiD(full);
  // Network paths are never opened or followed.
  Resolution resolution;
  resolution.trusted_only = trusted_only;
  if (network_path(full, &resolution.known)) return working;
  return resolve_links(working, lookup_link, &resolution);
}

}  // namespace

char *read_link_target(const char *path) { return link_target(path, nullptr, false); }

char *resolve_real_path(const char *path) { return resolve(path, false); }

char *resolve_real_path_trusted_links(const char *path) { return resolve(path, true); }
