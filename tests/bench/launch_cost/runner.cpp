// Launch-cost benchmark: starts quarlo.exe, a minimal loader and a floor loader many times, each
// with a layout directory (appdata.json and the application library) as its current directory,
// and reads back how long after the creation of the process wx_main was entered.
//
// Two configurations are measured in the same run, their launches interleaved: unsigned (the
// given quarlo.exe, minimal loader and floor over unsigned libraries) and, when the signed
// programs are given, signed (a signed launcher, the minimal loader and a signed floor that
// verifies the library, over signed libraries). Before measuring, both verifying
// programs must refuse a signed library altered after signing: the signed figures are then known
// to include the signature checks.
//
// launch_cost_bench --quarlo EXE --minimal EXE --floor EXE --library DLL [--library DLL...]
//                   [--signed-quarlo EXE --signed-floor EXE --signed-library DLL...]
//                   [--baseline EXE [--signed-baseline EXE]] [--repeat N] [--timeout SECONDS]
// --baseline adds another build of the launcher (the signed one with --signed-baseline) as a
// fourth loader, so that a change to how it is built is measured against the same run.
// Paths may be Linux paths of the build tree. Exits with 1, after printing the tables, when some
// program never reached wx_main or handed it a wrong hash, or a verifying program did not refuse
// the altered library.
#include <windows.h>

// After windows.h, whose base types it needs.
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"
#include "launch_cost.h"

namespace {

// The verifying floor's exit code when the library's signature does not verify.
constexpr DWORD kFloorRefusedLibrary = 15;

struct Loader {
  const char *name;
  std::wstring exe;
  bool hashes;  // hands wx_main the SHA-256 of the library, which must then be right
};

struct Layout {
  std::string dir;   // Windows path of the layout directory
  uint64_t bytes;    // size of the library file
  std::string hash;  // its SHA-256, lower-case hex
};

struct Cell {
  std::vector<double> ms;
  std::string failure;  // why this combination stopped being measured; empty while it works
};

// Three loaders (quarlo, minimal, floor) and maybe a baseline launcher over one kind of
// library; cells[layout][loader].
struct Configuration {
  const char *name;
  const char *heading;
  std::vector<Loader> loaders;
  std::vector<std::string> libraries;
  std::vector<Layout> layouts;
  std::vector<std::vector<Cell>> cells;
};

// What one start of a loader left behind.
struct Run {
  bool started = false;
  bool timed_out = false;
  bool entered = false;  // wx_main wrote its line
  DWORD exit_code = 0;
  double ms = 0;
  std::string hash;
  std::string start_error;
};

std::wstring windows_path(const std::string &path) {
  return path.empty() || path[0] != '/' ? harness::widen(path) : harness::host_path(path);
}

bool sha256_hex(const std::string &content, std::string *hex) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  unsigned char digest[32];
  bool ok = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
            BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0 &&
            BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char *>(content.data())),
                           ULONG(content.size()), 0) == 0 &&
            BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
  if (hash) BCryptDestroyHash(hash);
  if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  hex->clear();
  for (unsigned char byte : digest) {
    hex->push_back("0123456789abcdef"[byte >> 4]);
    hex->push_back("0123456789abcdef"[byte & 15]);
  }
  return ok;
}

// Writes the library into a fresh directory beside an appdata.json that names it.
bool make_layout(const std::string &content, const std::string &dir, Layout *layout) {
  layout->dir = dir;
  layout->bytes = content.size();
  if (!CreateDirectoryW(harness::widen(dir).c_str(), nullptr) ||
      !sha256_hex(content, &layout->hash) ||
      !harness::write_file(dir + "\\" LAUNCH_COST_LIBRARY_UTF8, content) ||
      !harness::write_file(dir + "\\appdata.json", "{\"so_name\": \"" LAUNCH_COST_LIBRARY_UTF8
                                                   "\", \"hash\": \"" +
                                                       layout->hash + "\"}\n")) {
    fprintf(stderr, "cannot lay out %s\n", dir.c_str());
    return false;
  }
  return true;
}

bool make_layouts(const harness::TempDir &root, Configuration *config) {
  config->layouts.resize(config->libraries.size());
  for (size_t i = 0; i < config->libraries.size(); ++i) {
    std::string content;
    if (!harness::read_file(config->libraries[i], &content)) {
      fprintf(stderr, "cannot read %s\n", config->libraries[i].c_str());
      return false;
    }
    const std::string dir = root.file(config->name + std::to_string(i));
    if (!make_layout(content, dir, &config->layouts[i])) return false;
  }
  config->cells.assign(config->layouts.size(), std::vector<Cell>(config->loaders.size()));
  return true;
}

// `before_start`, when given, sees the new process's id before it runs.
Run run_once(const Loader &loader, const Layout &layout, DWORD timeout_ms,
             const std::function<void(DWORD)> &before_start = {}) {
  Run run;
  const std::string result_path = layout.dir + "\\" + harness::narrow(LAUNCH_COST_RESULT_FILE);
  DeleteFileW(harness::widen(result_path).c_str());

  std::wstring line = L"\"" + loader.exe + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(loader.exe.c_str(), line.data(), nullptr, nullptr, FALSE,
                      before_start ? CREATE_SUSPENDED : 0, nullptr,
                      harness::widen(layout.dir).c_str(), &startup, &info)) {
    run.start_error = "cannot start it (error " + std::to_string(GetLastError()) + ")";
    return run;
  }
  run.started = true;
  if (before_start) {
    before_start(info.dwProcessId);
    ResumeThread(info.hThread);
  }
  CloseHandle(info.hThread);
  if (WaitForSingleObject(info.hProcess, timeout_ms) != WAIT_OBJECT_0) {
    // Most likely a message box that nobody will answer.
    TerminateProcess(info.hProcess, 0xDEAD);
    WaitForSingleObject(info.hProcess, INFINITE);
    run.timed_out = true;
  }
  GetExitCodeProcess(info.hProcess, &run.exit_code);
  CloseHandle(info.hProcess);

  std::string content;
  long long entry_us = 0;
  char hash[80] = {};
  run.entered = harness::read_file(result_path, &content) &&
                sscanf(content.c_str(), "entry_us=%lld hash=%79s", &entry_us, hash) == 2;
  run.ms = double(entry_us) / 1000.0;
  run.hash = hash;
  return run;
}

// Why a run is not a good launch of the library; empty when it is.
std::string failure_of(const Run &run, const Loader &loader, const Layout &layout,
                       DWORD timeout_ms) {
  if (!run.started) return run.start_error;
  char text[256];
  if (run.timed_out) {
    snprintf(text, sizeof text, "still running after %lu s, terminated%s", timeout_ms / 1000,
             run.entered ? "" : "; wx_main was never entered");
    return text;
  }
  if (!run.entered) {
    snprintf(text, sizeof text, "wx_main was never entered (exit code %lu)", run.exit_code);
    return text;
  }
  if (run.exit_code != 0) {
    snprintf(text, sizeof text, "exit code %lu although wx_main returned 0", run.exit_code);
    return text;
  }
  if (loader.hashes && layout.hash != run.hash)
    return "handed wx_main the hash " + run.hash + ", expected " + layout.hash;
  return "";
}

std::string describe(const Run &run, const std::vector<harness::Dialog> *dialogs) {
  if (!run.started) return run.start_error;
  std::string text = run.entered ? "entered wx_main" : "wx_main not entered";
  if (run.timed_out) return text + ", terminated after the timeout";
  text += ", exit code " + std::to_string(run.exit_code);
  if (dialogs) {
    if (dialogs->empty()) text += ", no message box";
    for (const harness::Dialog &dialog : *dialogs) text += ", message box \"" + dialog.title + "\"";
  }
  return text;
}

// The signed launcher and the verifying floor must both refuse the first signed library with one
// byte changed after signing: the launcher with "Signature Failure" and without entering
// wx_main, the floor with its refusal code. Otherwise they would be measured without the checks.
bool refuses_altered_library(const Configuration &config, const harness::TempDir &root,
                             DWORD timeout_ms) {
  std::string content;
  if (!harness::read_file(config.libraries[0], &content) || content.size() < 2) {
    printf("cannot read %s\n", config.libraries[0].c_str());
    return false;
  }
  // The middle of the file lies in the padding, which the signature covers.
  content[content.size() / 2] ^= 0x01;
  Layout altered;
  if (!make_layout(content, root.file("altered"), &altered)) return false;

  std::unique_ptr<harness::DialogWatcher> watcher;
  const Run launcher = run_once(config.loaders[0], altered, timeout_ms, [&](DWORD pid) {
    watcher =
        std::make_unique<harness::DialogWatcher>(harness::host_path(QUARLO_DIALOG_WATCHER), pid);
  });
  if (!watcher || !watcher->running()) {
    printf("cannot start the dialog watcher\n");
    return false;
  }
  const std::vector<harness::Dialog> dialogs = watcher->stop();
  const Run floor = run_once(config.loaders[2], altered, timeout_ms);

  const bool launcher_refused = launcher.started && !launcher.timed_out && !launcher.entered &&
                                dialogs.size() == 1 && dialogs[0].title == "Signature Failure";
  const bool floor_refused = floor.started && !floor.timed_out && !floor.entered &&
                             floor.exit_code == kFloorRefusedLibrary;
  printf("A signed library with one byte changed after signing:\n");
  printf("  %-7s %s: %s\n", config.loaders[0].name, launcher_refused ? "refused" : "NOT REFUSED",
         describe(launcher, &dialogs).c_str());
  printf("  %-7s %s: %s\n", config.loaders[2].name, floor_refused ? "refused" : "NOT REFUSED",
         describe(floor, nullptr).c_str());
  return launcher_refused && floor_refused;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The median of the ratios of runs made one right after the other: a slow spell of the machine
// weighs on both runs of a pair and cancels out of its ratio, where it shifts one median alone.
double paired_ratio(const Cell &a, const Cell &b) {
  std::vector<double> ratios;
  for (size_t i = 0; i < a.ms.size() && i < b.ms.size(); ++i) ratios.push_back(a.ms[i] / b.ms[i]);
  return ratios.empty() ? 0 : median(ratios);
}

std::string cell_text(const Cell &cell) {
  if (cell.ms.empty()) return "-";
  char text[32];
  snprintf(text, sizeof text, "%.1f", median(cell.ms));
  return text;
}

std::string ratio_text(const Cell &a, const Cell &b) {
  if (a.ms.empty() || b.ms.empty()) return "-";
  char text[32];
  snprintf(text, sizeof text, "%.2f", median(a.ms) / median(b.ms));
  return text;
}

double megabytes(const Layout &layout) { return double(layout.bytes) / (1 << 20); }

constexpr size_t kBaseline = 3;  // index of the baseline launcher among the loaders

unsigned long long file_bytes(const std::wstring &path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (unsigned long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

// The table of medians and ratios, the ranges, and what could not be measured. False when
// something could not.
bool print_configuration(const Configuration &config) {
  printf("%s\n", config.heading);
  const bool baseline = config.loaders.size() > kBaseline;
  printf("%10s %10s %10s %10s %16s %14s", "library", "quarlo", "minimal", "floor", "quarlo/minimal",
         "quarlo/floor");
  printf(baseline ? " %10s %17s\n" : "\n", "baseline", "quarlo/baseline");
  for (size_t l = 0; l < config.layouts.size(); ++l) {
    char size[32];
    snprintf(size, sizeof size, "%.1f MB", megabytes(config.layouts[l]));
    const std::vector<Cell> &row = config.cells[l];
    printf("%10s %10s %10s %10s %16s %14s", size, cell_text(row[0]).c_str(),
           cell_text(row[1]).c_str(), cell_text(row[2]).c_str(), ratio_text(row[0], row[1]).c_str(),
           ratio_text(row[0], row[2]).c_str());
    if (baseline) {
      printf(" %10s %17s", cell_text(row[kBaseline]).c_str(),
             ratio_text(row[0], row[kBaseline]).c_str());
    }
    printf("\n");
  }
  if (baseline) {
    printf("image size: quarlo %llu bytes, baseline %llu bytes\n",
           file_bytes(config.loaders[0].exe), file_bytes(config.loaders[kBaseline].exe));
  }
  printf("range (min-max, ms):\n");
  for (size_t l = 0; l < config.layouts.size(); ++l) {
    printf("%7.1f MB", megabytes(config.layouts[l]));
    for (size_t p = 0; p < config.loaders.size(); ++p) {
      const std::vector<double> &ms = config.cells[l][p].ms;
      if (ms.empty()) continue;
      printf("   %s %.1f-%.1f", config.loaders[p].name, *std::min_element(ms.begin(), ms.end()),
             *std::max_element(ms.begin(), ms.end()));
    }
    printf("\n");
  }
  if (config.loaders.size() > kBaseline) {
    printf("quarlo/baseline, median of the ratios of back-to-back runs:");
    for (size_t l = 0; l < config.layouts.size(); ++l)
      printf("   %.1f MB %.3f", megabytes(config.layouts[l]),
             paired_ratio(config.cells[l][0], config.cells[l][kBaseline]));
    printf("\n");
  }
  bool complete = true;
  for (size_t l = 0; l < config.layouts.size(); ++l) {
    for (size_t p = 0; p < config.loaders.size(); ++p) {
      const Cell &cell = config.cells[l][p];
      if (cell.failure.empty()) continue;
      if (complete) printf("not measured:\n");
      complete = false;
      printf("  %s, %.1f MB library, after %zu good runs: %s\n", config.loaders[p].name,
             megabytes(config.layouts[l]), cell.ms.size(), cell.failure.c_str());
    }
  }
  printf("\n");
  return complete;
}

int usage() {
  fprintf(stderr,
          "usage: launch_cost_bench --quarlo EXE --minimal EXE --floor EXE --library DLL "
          "[--library DLL...] [--signed-quarlo EXE --signed-floor EXE --signed-library DLL...] "
          "[--baseline EXE [--signed-baseline EXE]] [--repeat N] [--timeout SECONDS]\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  Configuration unsigned_config = {
      "unsigned",
      "Unsigned: quarlo.exe with the production keys, which carries no signature, so\n"
      "it checks no library; floor: read and SHA-256 the library, load it, call wx_main",
      {{"quarlo", L"", true}, {"minimal", L"", false}, {"floor", L"", true}},
      {},
      {},
      {}};
  Configuration signed_config = {
      "signed",
      "Signed with the pinned rsa4096 test key (test-key quarlo, libraries, floor): quarlo and\n"
      "the floor check the library's signature, hash only, no revocation",
      {{"quarlo", L"", true}, {"minimal", L"", false}, {"floor", L"", true}},
      {},
      {},
      {}};
  int repeat = 15;
  DWORD timeout_ms = 30000;
  for (int i = 1; i < argc; ++i) {
    const std::wstring flag = argv[i];
    if (i + 1 >= argc) return usage();
    const std::string value = harness::narrow(argv[++i]);
    if (flag == L"--quarlo") {
      unsigned_config.loaders[0].exe = windows_path(value);
    } else if (flag == L"--minimal") {
      unsigned_config.loaders[1].exe = signed_config.loaders[1].exe = windows_path(value);
    } else if (flag == L"--floor") {
      unsigned_config.loaders[2].exe = windows_path(value);
    } else if (flag == L"--library") {
      unsigned_config.libraries.push_back(harness::narrow(windows_path(value)));
    } else if (flag == L"--signed-quarlo") {
      signed_config.loaders[0].exe = windows_path(value);
    } else if (flag == L"--signed-floor") {
      signed_config.loaders[2].exe = windows_path(value);
    } else if (flag == L"--signed-library") {
      signed_config.libraries.push_back(harness::narrow(windows_path(value)));
    } else if (flag == L"--baseline") {
      unsigned_config.loaders.push_back({"baseline", windows_path(value), true});
    } else if (flag == L"--signed-baseline") {
      signed_config.loaders.push_back({"baseline", windows_path(value), true});
    } else if (flag == L"--repeat") {
      repeat = atoi(value.c_str());
    } else if (flag == L"--timeout") {
      timeout_ms = DWORD(atoi(value.c_str())) * 1000;
    } else {
      return usage();
    }
  }
  if (unsigned_config.libraries.empty() || repeat < 1 || timeout_ms == 0) return usage();
  for (const Loader &loader : unsigned_config.loaders)
    if (loader.exe.empty()) return usage();
  const bool with_signed = !signed_config.loaders[0].exe.empty() ||
                           !signed_config.loaders[2].exe.empty() ||
                           !signed_config.libraries.empty();
  if (with_signed && (signed_config.loaders[0].exe.empty() ||
                      signed_config.loaders[2].exe.empty() || signed_config.libraries.empty()))
    return usage();

  std::vector<Configuration *> configs = {&unsigned_config};
  if (with_signed) configs.push_back(&signed_config);

  harness::TempDir root("launch-cost");
  for (Configuration *config : configs)
    if (!make_layouts(root, config)) return 2;
  const bool checks_verified =
      !with_signed || refuses_altered_library(signed_config, root, timeout_ms);
  if (with_signed) printf("\n");

  // One unmeasured run of each combination first warms the file cache; a combination that fails
  // once is not run again, so a launcher stuck in a message box costs one timeout. The
  // configurations take turns within each round, so that a slow spell of the machine weighs on
  // both alike.
  for (int run = 0; run <= repeat; ++run) {
    fprintf(stderr, "\rlaunch cost: %s %d/%d ", run ? "run" : "warm-up", run, repeat);
    for (Configuration *config : configs) {
      for (size_t l = 0; l < config->layouts.size(); ++l) {
        // quarlo and the baseline run one right after the other, taking turns to go first.
        std::vector<size_t> order = {0, 1, 2};
        if (config->loaders.size() > kBaseline)
          order = run % 2 ? std::vector<size_t>{kBaseline, 0, 1, 2}
                          : std::vector<size_t>{0, kBaseline, 1, 2};
        for (size_t p : order) {
          Cell &cell = config->cells[l][p];
          if (!cell.failure.empty()) continue;
          const Loader &loader = config->loaders[p];
          const Layout &layout = config->layouts[l];
          const Run outcome = run_once(loader, layout, timeout_ms);
          cell.failure = failure_of(outcome, loader, layout, timeout_ms);
          if (cell.failure.empty() && run > 0) cell.ms.push_back(outcome.ms);
        }
      }
    }
  }
  fprintf(stderr, "\n");

  printf("Launch cost: process creation to entry of wx_main, median of %d runs, ms\n\n", repeat);
  bool complete = true;
  for (const Configuration *config : configs) complete = print_configuration(*config) && complete;
  if (!checks_verified) printf("The signed figures may lack the signature checks: see above.\n");
  return complete && checks_verified ? 0 : 1;
}
