// The doctor's reads: share-all opens, each closed as soon as its bytes are in.
#include <windows.h>

#include <cstdio>

#include "src/doctor/doctor_read.h"
#include "src/launch/appdata.h"
#include "src/trust/busy.h"
#include "src/trust/link_trust.h"
#include "src/trust/lock.h"
#include "src/trust/owner_trust.h"
#include "zeb/crypto_hash.h"
#include "zeb/file_list.h"
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

SettingsRead appdata_from(LaunchSettings *settings, const char *directory) {
  char *path = ZEB_Strdup(ZEB_JoinPath(directory, "appdata.json"));
  char *text = nullptr;
  uint64_t size = 0;
  const bool busy = doctor_busy(path);
  const bool read = !busy && doctor_read_file(path, APPDATA_SIZE_LIMIT, &text, &size);
  ZEB_Free(path);
  const int parsed = appdata_parse(settings, read ? text : "");
  ZEB_Free(text);
  if (busy) return SETTINGS_BUSY;
  return parsed == 0 ? SETTINGS_FOUND : SETTINGS_MISSING;
}

ZEB_JSON *json_from(const char *path) {
  char *text = nullptr;
  uint64_t size = 0;
  if (!doctor_read_file(path, APPDATA_SIZE_LIMIT, &text, &size)) return nullptr;
  ZEB_JSON *root = ZEB_JSONParse(text);
  ZEB_Free(text);
  return root;
}

// Opens what lock_path would lock, and refuses what it refuses (a junction or symbolic link at
// the name), but shares everything and only reads.
bool open_as_lock_would(const char *path, void **handle) {
  ScopedHandle opened(open_shared(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  *handle = nullptr;
  if (opened.get() == INVALID_HANDLE_VALUE || !lock_object_allowed(opened.get())) return false;
  *handle = opened.release();
  return true;
}

// Recovery creates a data directory that does not exist yet; any other is held as skel is.
bool hold_data(void *, const char *path, void **handle) {
  *handle = nullptr;
  ZEB_WideText wide(path);
  if (GetFileAttributesW(wide.get()) == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
  }
  return open_as_lock_would(path, handle);
}
bool hold_directory(void *, const char *path, void **handle) {
  return open_as_lock_would(path, handle);
}
// Opened sharing everything; one that recovery's own open would find held reads as unopened.
void *open_file(void *, const char *path) {
  void *file = nullptr;
  if (!doctor_busy(path))
    safe_file_open(path, SAFE_FILE_READ | SAFE_FILE_INSPECT, SAFE_FILE_SHARE_ALL, false, &file);
  return file;
}

// The library open as `file`, read through that handle.
void examine_open(const char *path, void *file, bool checked, DoctorLibrary *library) {
  library->present = true;
  char *bytes = nullptr;
  uint64_t size = 0;
  const bool read = safe_file_read(file, ZEB_READFILE_LIMIT, &bytes, &size);
  library->hashable = read && ZEB_CryptoHashableSize(size);
  if (library->hashable)
    ZEB_CryptoHash(ZEB_ALGORITHM_SHA256_HEX, bytes, size, nullptr, 0, library->sha256,
                   sizeof library->sha256);
  if (read)
    library->entry = pe_entry_verdict(reinterpret_cast<const uint8_t *>(bytes), size, "wx_main");
  ZEB_Free(bytes);
  if (!checked) return;
  ZEB_WideText wide(path);
  library->verdict = verify_signature_verdict_open(wide.get(), file);
}

void start_examining(const char *path, bool checked, DoctorLibrary *library) {
  snprintf(library->path, sizeof library->path, "%s", path);
  library->checked = checked;
  library->entry = PE_ENTRY_UNKNOWN;
  library->held = doctor_probe(path) == SAFE_FILE_IN_USE;
  library->busy = doctor_busy(path);
}

// Recovery verifies skel's library whatever the launcher's image, through the handle it opened.
bool verify(void *context, const char *path, void *file) {
  auto *library = static_cast<DoctorLibrary *>(context);
  start_examining(path, true, library);
  examine_open(path, file, true, library);
  return library->verdict.outcome == SIGNATURE_ACCEPTED;
}

bool real_directory(const char *path) {
  ZEB_WideText wide(path);
  const DWORD attributes = GetFileAttributesW(wide.get());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
// Whether recovery could hold a name for its removal or replacement: absent, or not a real
// directory, and held by nobody against its deletion. Nothing stays held.
bool hold_target(void *, const char *path, void **handle) {
  *handle = nullptr;
  return !real_directory(path) && doctor_probe(path) != SAFE_FILE_IN_USE;
}
// A lock name as recovery holds it: another account's directory there is left in place.
bool hold_lock_name(void *context, const char *path, void **handle) {
  if (!real_directory(path)) return hold_target(context, path, handle);
  *handle = nullptr;
  void *directory = nullptr;
  const bool others = open_as_lock_would(path, &directory) && !lock_directory_ours_open(directory);
  handle_reset(&directory);
  return others;
}
bool hash_installed(void *, const char *path, char hash[65]) {
  char *bytes = nullptr;
  uint64_t size = 0;
  const bool read = doctor_read_file(path, ZEB_READFILE_LIMIT, &bytes, &size) && size > 0;
  if (read) ZEB_CryptoHash(ZEB_ALGORITHM_SHA256_HEX, bytes, size, nullptr, 0, hash, 65);
  ZEB_Free(bytes);
  return read;
}
bool read_config(void *, const char *path, char **text) {
  uint64_t size = 0;
  return doctor_read_file(path, ZEB_READFILE_LIMIT, text, &size);
}

}  // namespace

const SettingsReader doctor_settings_reader = {appdata_from, json_from};
const RecoverySteps doctor_recovery_steps = {nullptr,
                                             hold_data,
                                             recovery_step_exists,
                                             recovery_step_program_files_skel,
                                             hold_directory,
                                             open_file,
                                             recovery_step_read,
                                             recovery_step_close,
                                             recovery_step_admin_only,
                                             recovery_step_list,
                                             verify,
                                             hold_lock_name,
                                             hash_installed,
                                             read_config,
                                             hold_target};

bool doctor_read_file(const char *path, uint64_t limit, char **bytes, uint64_t *size) {
  *bytes = nullptr;
  *size = 0;
  ScopedHandle file(open_shared(path, GENERIC_READ, FILE_ATTRIBUTE_NORMAL));
  return file.get() != INVALID_HANDLE_VALUE && safe_file_read(file.get(), limit, bytes, size);
}

SafeFileOpen doctor_probe(const char *path) {
  void *handle = nullptr;
  const SafeFileOpen opened =
      safe_file_open(path, SAFE_FILE_READ | SAFE_FILE_DELETE, SAFE_FILE_SHARE_ALL, false, &handle);
  handle_reset(&handle);
  return opened;
}

void doctor_examine_library(const char *path, bool checked, DoctorLibrary *library) {
  start_examining(path, checked, library);
  // As the launcher's lock opens it: a junction or symbolic link at the name is refused.
  ScopedHandle file(open_shared(path, GENERIC_READ, FILE_FLAG_OPEN_REPARSE_POINT));
  if (file.get() == INVALID_HANDLE_VALUE) return;
  library->link = !lock_object_allowed(file.get());
  if (!library->link) examine_open(path, file.get(), checked, library);
}

bool doctor_busy(const char *path) {
  // The launcher's own open: reading, nobody writing meanwhile. Closed at once.
  ZEB_WideText wide(path);
  const ScopedHandle probe(CreateFileW(wide.get(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return probe.get() == INVALID_HANDLE_VALUE && busy_error(GetLastError());
}

DoctorDistrust doctor_service_account_distrust(const LaunchState &state, const char *library_path) {
  DoctorDistrust distrust = {};
  void *directory = nullptr;
  if (!open_as_lock_would(state.data_dir, &directory)) return distrust;  // recovery makes it
  distrust.directory = directory_distrust_open(directory);
  const auto others = [&](const char *path) {
    void *file = nullptr;
    const bool opened = safe_file_open(path, SAFE_FILE_INSPECT, SAFE_FILE_SHARE_ALL, false,
                                       &file) == SAFE_FILE_OPENED;
    const bool trusted = opened && link_trusted_open(file, directory);
    handle_reset(&file);
    return opened && !trusted;
  };
  distrust.settings = state.settings_found && others(ZEB_JoinPath(state.data_dir, "appdata.json"));
  distrust.library = library_path && others(library_path);
  handle_reset(&directory);
  return distrust;
}
