// quarlo-doctor.exe: what a launch would do now, as plain text or JSON, changing nothing.
// Usage: quarlo-doctor.exe [--json] [--launcher PATH] [--privileged] [--service-account] [ARGS...]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "src/doctor/doctor.h"
#include "src/doctor/doctor_report.h"
#include "src/launch/launch_startup.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

constexpr int kCannotRun = 3;
constexpr int kLimit = 128;

// The launcher beside this program, or `named` made absolute while the starting directory is
// still current (start-up later moves it to System32). Heap text, or null.
char *launcher_path(const char *named) {
  wchar_t path[MAX_PATH * 4] = {};
  if (named) {
    ZEB_WideText wide(named);
    const DWORD length = GetFullPathNameW(wide.get(), MAX_PATH * 4, path, nullptr);
    if (length == 0 || length >= MAX_PATH * 4) return nullptr;
    return ZEB_WideToMultiD(path);
  }
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  if (length == 0 || length >= MAX_PATH * 4) return nullptr;
  wchar_t *slash = wcsrchr(path, L'\\');
  if (!slash || size_t(slash - path) + 12 > MAX_PATH * 4) return nullptr;
  wcscpy(slash + 1, L"quarlo.exe");
  return ZEB_WideToMultiD(path);
}

int usage() {
  fprintf(stderr,
          "usage: quarlo-doctor.exe [--json] [--launcher PATH] [--privileged] [--service-account] "
          "[ARGS...]\n");
  return kCannotRun;
}

}  // namespace

int main(int count, char **arguments) {
  // The launcher's own hardening: administrators run this from folders users can write.
  launch_restrict_library_search();
  bool json = false;
  LaunchPrivilege assumed = {};
  const char *named = nullptr;
  // The launch's own arguments: a program name first, as the launcher receives them.
  char *launch[kLimit + 1] = {arguments[0]};
  int32_t launch_count = 1;
  for (int i = 1; i < count; ++i) {
    if (launch_count == 1 && strcmp(arguments[i], "--json") == 0) {
      json = true;
    } else if (launch_count == 1 && strcmp(arguments[i], "--privileged") == 0) {
      assumed.privileged = true;
    } else if (launch_count == 1 && strcmp(arguments[i], "--service-account") == 0) {
      assumed = {true, true};  // a service account's launch is privileged too
    } else if (launch_count == 1 && strcmp(arguments[i], "--launcher") == 0) {
      if (++i == count) return usage();
      named = arguments[i];
    } else if (launch_count < kLimit) {
      launch[launch_count++] = arguments[i];
    }
  }
  char *launcher = launcher_path(named);
  if (!launcher) return usage();
  DoctorReport report = {};
  const bool assessed = doctor_assess(launch_count, launch, launcher, assumed, &report);
  text_buf out = {};
  int result = kCannotRun;
  if (!assessed) {
    fprintf(stderr, "quarlo-doctor: cannot read the launcher %s\n", launcher);
  } else if (json && !doctor_report_json(report, &out)) {
    fprintf(stderr, "quarlo-doctor: the report could not be written\n");
  } else {
    if (!json) doctor_report_text(report, &out);
    fwrite(out.data, 1, out.length, stdout);
    result = fflush(stdout) == 0 ? report.verdict : kCannotRun;
  }
  free(out.data);
  doctor_release(&report);
  ZEB_Free(launcher);
  return result;
}
