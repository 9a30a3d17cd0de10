// The doctor's reads: share-all opens, each closed as soon as its bytes are in.
#include <windows.h>

#include "src/doctor/doctor_read.h"
#include "src/launch/appdata.h"
#include "zeb/fs.h"
#include "zeb/json_reader.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE open_shared(const char *path, DWORD access, DWORD flags) {
  ZEB_WideText wide(path);
  return CreateFileW(wide.get(), access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
}

int appdata_from(LaunchSettings *settings, const char *directory) {
  char *text = nullptr;
  uint64_t size = 0;
  if (!doctor_read_file(ZEB_JoinPath(directory, "appdata.json"), APPDATA_SIZE_LIMIT, &text, &size))
    return appdata_parse(settings, "");
  const int read = appdata_parse(settings, text);
  ZEB_Free(text);
  return read;
}

ZEB_JSON *json_from(const char *path) {
  char *text = nullptr;
  uint64_t size = 0;
  if (!doctor_read_file(path, APPDATA_SIZE_LIMIT, &text, &size)) return nullptr;
  ZEB_JSON *root = ZEB_JSONParse(text);
  ZEB_Free(text);
  return root;
}

// As recovery opens skel, without following a link at the end of the name, but sharing all.
bool open_skel_directory(const char *path, void **handle) {
  *handle = nullptr;
  HANDLE directory = open_shared(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  if (directory == INVALID_HANDLE_VALUE) return false;
  const uint32_t attributes = safe_file_attributes(directory);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    CloseHandle(directory);
    return false;
  }
  *handle = directory;
  return true;
}

void *open_skel_file(const char *path) {
  void *file = nullptr;
  safe_file_open(path, SAFE_FILE_READ | SAFE_FILE_INSPECT, SAFE_FILE_SHARE_ALL, false, &file);
  return file;
}

}  // namespace

const SettingsReader doctor_settings_reader = {appdata_from, json_from};
const SkelOpeners doctor_skel_openers = {open_skel_directory, open_skel_file};

bool doctor_read_file(const char *path, uint64_t limit, char **bytes, uint64_t *size) {
  *bytes = nullptr;
  *size = 0;
  HANDLE file = open_shared(path, GENERIC_READ, FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) return false;
  char *text = nullptr;
  uint64_t length = 0;
  const bool read = safe_file_read(file, limit, &text, &length);
  CloseHandle(file);
  if (!read) return false;
  *bytes = text;
  *size = length;
  return true;
}

void *doctor_open_directory(const char *path) {
  void *handle = nullptr;
  return open_skel_directory(path, &handle) ? handle : nullptr;
}

SafeFileOpen doctor_probe(const char *path) {
  void *handle = nullptr;
  const SafeFileOpen opened =
      safe_file_open(path, SAFE_FILE_READ | SAFE_FILE_DELETE, SAFE_FILE_SHARE_ALL, false, &handle);
  safe_file_close(&handle);
  return opened;
}
