// Recovery cost: how long a launch takes that restores a crash-looping installation from skel
// before it enters wx_main, for one or more launchers, their runs interleaved. Each run lays out
// %APPDATA%\Quarlo anew (a crash record at 3 over build A), with skel under Program Files
// holding the given signed library (build B); the launch ends when the restored library's
// wx_main returns.
//
// recovery_cost_bench --library SIGNED_DLL --launcher EXE [--launcher EXE...] [--repeat N]
// Launchers must pin the key that signed the library (build them in one build directory).
// Paths may be Linux paths of the build tree. Exits with 1 when a run did not restore.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "harness.h"

namespace {

const std::string kHashA(64, 'a');
const std::string kHashB(64, 'b');

std::wstring windows_path(const std::string &path) {
  return path.empty() || path[0] != '/' ? harness::widen(path) : harness::host_path(path);
}

std::string env(const wchar_t *name) {
  wchar_t value[1024] = {};
  GetEnvironmentVariableW(name, value, 1024);
  return harness::narrow(value);
}

std::string appdata_json(const std::string &hash) {
  return "{\"so_name\": \"quarlo_app.dll\", \"hash\": \"" + hash + "\"}";
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  std::string library;
  std::vector<std::wstring> launchers;
  int repeat = 9;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring option = argv[i];
    const std::string value = harness::narrow(argv[i + 1]);
    if (option == L"--library") library = value;
    if (option == L"--launcher") launchers.push_back(windows_path(value));
    if (option == L"--repeat") repeat = std::max(1, atoi(value.c_str()));
  }
  std::string content;
  if (launchers.empty() || !harness::read_file(harness::narrow(windows_path(library)), &content)) {
    fprintf(stderr, "usage: recovery_cost_bench --library SIGNED_DLL --launcher EXE...\n");
    return 2;
  }
  wchar_t program_files[MAX_PATH] = {};
  GetEnvironmentVariableW(L"ProgramW6432", program_files, MAX_PATH);
  const std::string product = harness::narrow(program_files) + "\\Quarlo";
  const std::string skel = product + "\\skel", data = env(L"APPDATA") + "\\Quarlo";
  harness::remove_tree(product);
  CreateDirectoryW(harness::widen(product).c_str(), nullptr);
  CreateDirectoryW(harness::widen(skel).c_str(), nullptr);
  harness::write_file(skel + "\\quarlo_app.dll", content);
  harness::write_file(skel + "\\appdata.json", appdata_json(kHashB));
  const harness::TempDir start("recovery-cost");

  std::vector<std::vector<double>> ms(launchers.size());
  bool all_restored = true;
  for (int run = 0; run < repeat; ++run) {
    for (size_t i = 0; i < launchers.size(); ++i) {
      harness::remove_tree(data);
      CreateDirectoryW(harness::widen(data).c_str(), nullptr);
      harness::write_file(data + "\\quarlo_app.dll", "the crashing build");
      harness::write_file(data + "\\appdata.json", appdata_json(kHashA));
      harness::write_file(data + "\\cc0.txt", "{\"count\": 3, \"hash\": \"" + kHashA + "\"}");
      const ULONGLONG started = GetTickCount64();
      const auto result = harness::run_process(L"\"" + launchers[i] + L"\"",
                                               harness::widen(start.path()), 120000);
      const double elapsed = double(GetTickCount64() - started);
      std::string restored;
      harness::read_file(data + "\\appdata.json", &restored);
      if (!result.started || result.exit_code != 0 || restored != appdata_json(kHashB)) {
        fprintf(stderr, "run %d of %s did not restore (exit %lu)\n", run,
                harness::narrow(launchers[i]).c_str(), result.exit_code);
        all_restored = false;
        continue;
      }
      ms[i].push_back(elapsed);
    }
  }
  harness::remove_tree(data);
  harness::remove_tree(product);

  printf("Recovery of a %.1f MB signed library, then wx_main: median of %d runs, ms\n\n",
         double(content.size()) / 1048576, repeat);
  printf("| launcher | median | min | max | / first |\n|---|---|---|---|---|\n");
  for (size_t i = 0; i < launchers.size(); ++i) {
    if (ms[i].empty()) continue;
    const auto [low, high] = std::minmax_element(ms[i].begin(), ms[i].end());
    printf("| %s | %.0f | %.0f | %.0f | %.2f |\n", harness::narrow(launchers[i]).c_str(),
           median(ms[i]), *low, *high, ms[0].empty() ? 0.0 : median(ms[i]) / median(ms[0]));
  }
  return all_restored ? 0 : 1;
}
