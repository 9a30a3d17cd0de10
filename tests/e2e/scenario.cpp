#include "scenario.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <functional>

namespace scenario {

const std::string kHashA(64, 'a');
const std::string kHashB(64, 'b');

namespace {

std::string env(const wchar_t *name) {
  wchar_t value[1024] = {};
  GetEnvironmentVariableW(name, value, 1024);
  return harness::narrow(value);
}

std::string program_files_dir() {
  wchar_t value[MAX_PATH] = {};
  GetEnvironmentVariableW(L"ProgramW6432", value, MAX_PATH);
  if (!value[0]) GetEnvironmentVariableW(L"ProgramFiles", value, MAX_PATH);
  return harness::narrow(value);
}

}  // namespace

Installation::Installation()
    : program_files_(program_files_dir() + "\\Quarlo"),
      program_data_(env(L"ProgramData") + "\\Quarlo"),
      user_data_(env(L"APPDATA") + "\\Quarlo") {
  for (const auto &dir : {program_files_, program_data_, user_data_}) harness::remove_tree(dir);
}

Installation::~Installation() {
  for (const auto &dir : {program_files_, program_data_, user_data_}) harness::remove_tree(dir);
}

void Installation::write_setup(const std::string &json) {
  CreateDirectoryW(harness::widen(program_files_).c_str(), nullptr);
  harness::write_file(program_files_ + "\\setup.json", json);
}

void Installation::write_appdata(const std::string &dir, const std::string &so_name,
                                 const std::string &hash) {
  harness::write_file(dir + "\\appdata.json",
                      "{\"so_name\": \"" + so_name + "\", \"hash\": \"" + hash + "\"}");
}

void Installation::write_script(const std::string &dir, const std::vector<std::string> &script) {
  std::string text;
  for (const auto &line : script) text += line + "\n";
  harness::write_file(dir + "\\test_app_script.txt", text);
}

void Installation::install_app(const std::string &dir, const std::vector<std::string> &script,
                               const std::string &so_name, const std::string &hash,
                               const std::string &library) {
  SHCreateDirectoryExW(nullptr, harness::widen(dir).c_str(), nullptr);
  CopyFileW(harness::widen(library).c_str(), harness::widen(dir + "\\" + so_name).c_str(), FALSE);
  write_appdata(dir, so_name, hash);
  write_script(dir, script);
}

void Installation::install_skel(const std::string &skel_dir, const std::string &library,
                                const std::string &hash, const std::vector<std::string> &script,
                                const std::string &so_name) {
  install_app(skel_dir, script, so_name, hash, library);
}

std::vector<Record> Installation::log(const std::string &dir) const {
  std::vector<Record> records;
  std::string text;
  if (!harness::read_file(dir + "\\test_app_log.txt", &text)) return records;
  for (const auto &line : split(text, '\n')) {
    if (line.empty()) continue;
    Record record;
    for (const auto &field : split(line, '\t')) {
      const size_t eq = field.find('=');
      record[field.substr(0, eq)] = field.substr(eq + 1);
    }
    records.push_back(record);
  }
  return records;
}

Launch Installation::run(const std::string &arguments, const std::string &start_dir,
                         const std::wstring &launcher) const {
  const std::wstring exe = launcher.empty() ? quarlo_path() : launcher;
  std::wstring line = L"\"" + exe + L"\"";
  if (!arguments.empty()) line += L" " + harness::widen(arguments);
  std::unique_ptr<harness::DialogWatcher> watcher;
  const auto result = harness::run_process(
      line, harness::widen(start_dir.empty() ? local() : start_dir), 60000, [&](DWORD pid) {
        watcher = std::make_unique<harness::DialogWatcher>(
            harness::host_path(QUARLO_DIALOG_WATCHER), pid);
      });
  Launch launch;
  launch.exit_code = result.started ? result.exit_code : 0xFFFFFFFF;
  launch.output = result.output;
  if (watcher) launch.dialogs = watcher->stop();
  return launch;
}

std::unique_ptr<harness::RunningProcess> Installation::start(const std::string &arguments,
                                                             const std::string &start_dir,
                                                             const std::wstring &launcher) const {
  std::wstring line = L"\"" + (launcher.empty() ? quarlo_path() : launcher) + L"\"";
  if (!arguments.empty()) line += L" " + harness::widen(arguments);
  return std::make_unique<harness::RunningProcess>(
      line, harness::widen(start_dir.empty() ? local() : start_dir));
}

bool Installation::wait_for_calls(const std::string &dir, size_t calls, unsigned timeout_ms) const {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (log(dir).size() < calls) {
    if (GetTickCount64() > deadline) return false;
    Sleep(20);
  }
  return true;
}

std::string test_app_path() { return harness::narrow(harness::host_path(QUARLO_TEST_APP)); }
std::wstring quarlo_path() { return harness::host_path(QUARLO_EXE); }
std::wstring testkeys_path() { return harness::host_path(QUARLO_TESTKEYS_EXE); }
std::wstring signed_launcher() {
  return harness::host_path(std::string(QUARLO_SIGNED_DIR) + "/quarlo_signed.exe");
}
std::string signed_app(const std::string &key) {
  return harness::narrow(
      harness::host_path(std::string(QUARLO_SIGNED_DIR) + "/test_app_" + key + ".dll"));
}

std::string large_signed_app() {
  return harness::narrow(
      harness::host_path(std::string(QUARLO_SIGNED_DIR) + "/test_app_large_rsa4096.dll"));
}

bool flip_byte(const std::string &path, long offset) {
  FILE *file = _wfopen(harness::widen(path).c_str(), L"r+b");
  if (!file) return false;
  bool ok = fseek(file, offset, SEEK_SET) == 0;
  const int byte = ok ? fgetc(file) : EOF;
  ok = ok && byte != EOF && fseek(file, offset, SEEK_SET) == 0 && fputc(byte ^ 0x5A, file) != EOF;
  return fclose(file) == 0 && ok;
}

Broken::Broken(const std::vector<std::string> &script, const std::string &hash) {
  install_app(data, script, "app.dll", hash);
  install_skel(skel, signed_app("rsa4096"));
}

Launch Broken::launch(const std::string &arguments) const {
  return run(arguments, "", testkeys_path());
}

bool Broken::restored() const {
  return read(data + "\\appdata.json") == read(skel + "\\appdata.json");
}

std::string counter_record(const std::string &hash, int count) {
  return "{\n\t\"count\": " + std::to_string(count) + ",\n\t\"hash\": \"" + hash + "\"\n}";
}

std::string read(const std::string &path) {
  std::string content;
  return harness::read_file(path, &content) ? content : "(missing)";
}

namespace {

void add_entries(const std::string &dir, bool contents, bool temporaries, Snapshot *entries) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(harness::widen(dir + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = harness::narrow(found.cFileName);
    if (name == "." || name == ".." || (!temporaries && name.rfind("quarlo-", 0) == 0)) continue;
    const std::string path = dir + "\\" + name;
    std::string bytes;
    const bool directory = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    const bool read = !directory && contents && harness::read_file(path, &bytes);
    char entry[128];
    snprintf(entry, sizeof entry, "%lu %llu %llu %llu", found.dwFileAttributes,
             (ULONGLONG(found.nFileSizeHigh) << 32) | found.nFileSizeLow,
             (ULONGLONG(found.ftLastWriteTime.dwHighDateTime) << 32) |
                 found.ftLastWriteTime.dwLowDateTime,
             read ? ULONGLONG(std::hash<std::string>()(bytes)) : 0ull);
    (*entries)[path] = entry;
    if (directory) add_entries(path, contents, temporaries, entries);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

Snapshot snapshot(const std::string &dir, bool contents, bool temporaries) {
  Snapshot entries;
  add_entries(dir, contents, temporaries, &entries);
  return entries;
}

std::vector<std::string> split(const std::string &text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
    parts.push_back(text.substr(start, end - start));
  parts.push_back(text.substr(start));
  return parts;
}

std::string sha256_of_file(const std::string &path) {
  std::string digest;
  harness::read_file(path, &digest);
  return digest.substr(0, 64);
}

std::string test_app_hash() { return sha256_of_file(QUARLO_TEST_APP_SHA256); }

}  // namespace scenario
