// Launch-cost benchmark: starts quarlo.exe, a minimal loader and a floor loader many times, each
// with a layout directory (appdata.json and the application library) as its current directory,
// and reads back how long after the creation of the process wx_main was entered.
//
// launch_cost_bench --quarlo EXE --minimal EXE --floor EXE --library DLL [--library DLL...]
//                   [--repeat N] [--timeout SECONDS]
// Paths may be Linux paths of the build tree. Exits with 1 when some program never reached
// wx_main or handed it a wrong hash, after printing the table.
#include <windows.h>

// After windows.h, whose base types it needs.
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"
#include "launch_cost.h"

namespace {

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

struct Outcome {
  bool ok = false;
  double ms = 0;
  std::string failure;
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

// Copies the library into a fresh directory beside an appdata.json that names it.
bool make_layout(const std::string &library, const std::string &dir, Layout *layout) {
  std::string content;
  if (!harness::read_file(library, &content)) {
    fprintf(stderr, "cannot read %s\n", library.c_str());
    return false;
  }
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

Outcome run_once(const Loader &loader, const Layout &layout, DWORD timeout_ms) {
  Outcome outcome;
  const std::string result_path = layout.dir + "\\" + harness::narrow(LAUNCH_COST_RESULT_FILE);
  DeleteFileW(harness::widen(result_path).c_str());

  std::wstring line = L"\"" + loader.exe + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(loader.exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      harness::widen(layout.dir).c_str(), &startup, &info)) {
    outcome.failure = "cannot start it (error " + std::to_string(GetLastError()) + ")";
    return outcome;
  }
  CloseHandle(info.hThread);
  bool timed_out = false;
  if (WaitForSingleObject(info.hProcess, timeout_ms) != WAIT_OBJECT_0) {
    // Most likely a message box that nobody will answer.
    TerminateProcess(info.hProcess, 0xDEAD);
    WaitForSingleObject(info.hProcess, INFINITE);
    timed_out = true;
  }
  DWORD exit_code = 0;
  GetExitCodeProcess(info.hProcess, &exit_code);
  CloseHandle(info.hProcess);

  std::string content;
  long long entry_us = 0;
  char hash[80] = {};
  const bool entered = harness::read_file(result_path, &content) &&
                       sscanf(content.c_str(), "entry_us=%lld hash=%79s", &entry_us, hash) == 2;
  char text[256];
  if (timed_out) {
    snprintf(text, sizeof text, "still running after %lu s, terminated%s", timeout_ms / 1000,
             entered ? "" : "; wx_main was never entered");
    outcome.failure = text;
  } else if (!entered) {
    snprintf(text, sizeof text, "wx_main was never entered (exit code %lu)", exit_code);
    outcome.failure = text;
  } else if (exit_code != 0) {
    snprintf(text, sizeof text, "exit code %lu although wx_main returned 0", exit_code);
    outcome.failure = text;
  } else if (loader.hashes && layout.hash != hash) {
    outcome.failure = "handed wx_main the hash " + std::string(hash) + ", expected " + layout.hash;
  } else {
    outcome.ok = true;
    outcome.ms = double(entry_us) / 1000.0;
  }
  return outcome;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
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

int usage() {
  fprintf(stderr,
          "usage: launch_cost_bench --quarlo EXE --minimal EXE --floor EXE --library DLL "
          "[--library DLL...] [--repeat N] [--timeout SECONDS]\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  std::vector<Loader> loaders = {
      {"quarlo", L"", true}, {"minimal", L"", false}, {"floor", L"", true}};
  std::vector<std::string> libraries;
  int repeat = 15;
  DWORD timeout_ms = 30000;
  for (int i = 1; i < argc; ++i) {
    const std::wstring flag = argv[i];
    if (i + 1 >= argc) return usage();
    const std::string value = harness::narrow(argv[++i]);
    if (flag == L"--quarlo") {
      loaders[0].exe = windows_path(value);
    } else if (flag == L"--minimal") {
      loaders[1].exe = windows_path(value);
    } else if (flag == L"--floor") {
      loaders[2].exe = windows_path(value);
    } else if (flag == L"--library") {
      libraries.push_back(harness::narrow(windows_path(value)));
    } else if (flag == L"--repeat") {
      repeat = atoi(value.c_str());
    } else if (flag == L"--timeout") {
      timeout_ms = DWORD(atoi(value.c_str())) * 1000;
    } else {
      return usage();
    }
  }
  if (libraries.empty() || repeat < 1 || timeout_ms == 0) return usage();
  for (const Loader &loader : loaders)
    if (loader.exe.empty()) return usage();

  harness::TempDir root("launch-cost");
  std::vector<Layout> layouts(libraries.size());
  for (size_t i = 0; i < libraries.size(); ++i)
    if (!make_layout(libraries[i], root.file("layout" + std::to_string(i)), &layouts[i])) return 2;

  // cells[layout][loader]. One unmeasured run of each first warms the file cache; a combination
  // that fails once is not run again, so a launcher stuck in a message box costs one timeout.
  std::vector<std::vector<Cell>> cells(layouts.size(), std::vector<Cell>(loaders.size()));
  for (int run = 0; run <= repeat; ++run) {
    fprintf(stderr, "\rlaunch cost: %s %d/%d ", run ? "run" : "warm-up", run, repeat);
    for (size_t l = 0; l < layouts.size(); ++l) {
      for (size_t p = 0; p < loaders.size(); ++p) {
        Cell &cell = cells[l][p];
        if (!cell.failure.empty()) continue;
        const Outcome outcome = run_once(loaders[p], layouts[l], timeout_ms);
        if (!outcome.ok)
          cell.failure = outcome.failure;
        else if (run > 0)
          cell.ms.push_back(outcome.ms);
      }
    }
  }
  fprintf(stderr, "\n");

  printf("Launch cost: process creation to entry of wx_main, median of %d runs, ms\n\n", repeat);
  printf("%10s %10s %10s %10s %16s %14s\n", "library", "quarlo", "minimal", "floor",
         "quarlo/minimal", "quarlo/floor");
  for (size_t l = 0; l < layouts.size(); ++l) {
    char size[32];
    snprintf(size, sizeof size, "%.1f MB", double(layouts[l].bytes) / (1 << 20));
    const std::vector<Cell> &row = cells[l];
    printf("%10s %10s %10s %10s %16s %14s\n", size, cell_text(row[0]).c_str(),
           cell_text(row[1]).c_str(), cell_text(row[2]).c_str(), ratio_text(row[0], row[1]).c_str(),
           ratio_text(row[0], row[2]).c_str());
  }
  printf("\nrange (min-max, ms):\n");
  for (size_t l = 0; l < layouts.size(); ++l) {
    printf("%7.1f MB", double(layouts[l].bytes) / (1 << 20));
    for (size_t p = 0; p < loaders.size(); ++p) {
      const std::vector<double> &ms = cells[l][p].ms;
      if (ms.empty()) continue;
      printf("   %s %.1f-%.1f", loaders[p].name, *std::min_element(ms.begin(), ms.end()),
             *std::max_element(ms.begin(), ms.end()));
    }
    printf("\n");
  }

  bool failed = false;
  for (size_t l = 0; l < layouts.size(); ++l) {
    for (size_t p = 0; p < loaders.size(); ++p) {
      const Cell &cell = cells[l][p];
      if (cell.failure.empty()) continue;
      if (!failed) printf("\nnot measured:\n");
      failed = true;
      printf("  %s, %.1f MB library, after %zu good runs: %s\n", loaders[p].name,
             double(layouts[l].bytes) / (1 << 20), cell.ms.size(), cell.failure.c_str());
    }
  }
  return failed ? 1 : 0;
}
