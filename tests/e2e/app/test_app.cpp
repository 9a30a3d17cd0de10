// The application library of the end-to-end tests. Its wx_main follows a script in the data
// directory and appends what it received to a log there.
//
// test_app_script.txt: one line per call, counted over every call ever logged in this data
// directory (so across launcher processes); the last line repeats. Words on a line:
//   return=N     return N (default 0)
//   crash        die of an access violation inside wx_main
//   exit=N       end the process at once with code N
//   rewrite=NAME rewrite appdata.json to name library NAME (hash kept) before returning
//   count=N      set the launcher's argument count to N before returning
//   sleep=MS     wait before returning (locks are held meanwhile)
//   probe=NAME   open NAME in the data directory, and the directory above it, for deletion
//   loadlib=NAME load NAME by bare name, as a dependency would be
//   renameinto   open the data directory as a rename into it does on Windows: for adding a file
// test_app_probe.txt: one line per probe, loadlib or renameinto, "what=error" with 0 for success.
// test_app_log.txt: one line per call, tab-separated key=value fields; list entries are
// separated by 0x1F and a null entry is written as "(null)".
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

HMODULE self_module() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&self_module), &module);
  return module;
}

std::string utf8(const wchar_t *text) {
  char buffer[4096] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer - 1, nullptr, nullptr);
  return buffer;
}

std::wstring wide(const std::string &text) {
  wchar_t buffer[4096] = {};
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, buffer, 4095);
  return buffer;
}

std::string read_text(const std::string &path) {
  std::string content;
  if (FILE *file = _wfopen(wide(path).c_str(), L"rb")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, n);
    fclose(file);
  }
  return content;
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// The value of word `key=` on the line, or `fallback`.
std::string word(const std::string &line, const std::string &key, const std::string &fallback) {
  const std::string needle = key + "=";
  for (size_t at = 0; (at = line.find(needle, at)) != std::string::npos; at += needle.size()) {
    if (at == 0 || line[at - 1] == ' ') {
      const size_t end = line.find(' ', at);
      return line.substr(at + needle.size(),
                         end == std::string::npos ? end : end - at - needle.size());
    }
  }
  return fallback;
}

bool has_word(const std::string &line, const std::string &key) {
  return (" " + line + " ").find(" " + key + " ") != std::string::npos;
}

// The error of opening `path` with `access` and `share`, 0 when it opened.
unsigned long open_for(const std::string &path, DWORD access,
                       DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) {
  HANDLE handle = CreateFileW(wide(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(handle);
  return 0;
}

void append_probe(const std::string &dir, const std::string &line) {
  if (FILE *file = _wfopen(wide(dir + "test_app_probe.txt").c_str(), L"ab")) {
    fwrite(line.data(), 1, line.size(), file);
    fclose(file);
  }
}

}  // namespace

extern "C" __declspec(dllexport) int32_t
    wx_main(int32_t *count, char **list, const char *data_directory, const char *library_hash) {
  const std::string dir = data_directory;
  const std::string log_path = dir + "test_app_log.txt";
  const size_t call = lines_of(read_text(log_path)).size();
  const auto script = lines_of(read_text(dir + "test_app_script.txt"));
  const std::string line =
      script.empty() ? "" : script[call < script.size() ? call : script.size() - 1];

  wchar_t module_path[MAX_PATH] = {}, cwd[MAX_PATH] = {}, path_variable[2048] = {};
  GetModuleFileNameW(self_module(), module_path, MAX_PATH);
  GetCurrentDirectoryW(MAX_PATH, cwd);
  GetEnvironmentVariableW(L"Path", path_variable, 2048);

  std::string record = "call=" + std::to_string(call + 1) + "\tcount=" + std::to_string(*count) +
                       "\tdir=" + dir + "\thash=" + library_hash + "\tmodule=" + utf8(module_path) +
                       "\tcwd=" + utf8(cwd) + "\tpath=" + utf8(path_variable) + "\tlist=";
  for (int i = 0; i < 128; ++i) {
    if (i) record += '\x1f';
    record += list[i] ? list[i] : "(null)";
  }
  record += "\n";
  if (FILE *log = _wfopen(wide(log_path).c_str(), L"ab")) {
    fwrite(record.data(), 1, record.size(), log);
    fclose(log);
  }

  if (const int ms = atoi(word(line, "sleep", "0").c_str())) Sleep(DWORD(ms));
  const std::string probe = word(line, "probe", "");
  if (!probe.empty()) {
    // The data directory ends in a backslash; its parent is the text before the one before it.
    const std::string parent = dir.substr(0, dir.find_last_of('\\', dir.size() - 2));
    append_probe(dir, probe + "=" + std::to_string(open_for(dir + probe, DELETE)) +
                          "\nparent=" + std::to_string(open_for(parent, DELETE)) + "\n");
  }
  if (has_word(line, "renameinto"))
    append_probe(dir, "renameinto=" +
                          std::to_string(open_for(dir, FILE_WRITE_DATA,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE)) +
                          "\n");
  const std::string library = word(line, "loadlib", "");
  if (!library.empty()) {
    HMODULE loaded = LoadLibraryW(wide(library).c_str());
    append_probe(dir, library + "=" + std::to_string(loaded ? 0 : GetLastError()) + "\n");
  }
  if (has_word(line, "crash")) {
    // A real access violation, not a trap the compiler could substitute for a null write.
    volatile uintptr_t address = 16;
    *reinterpret_cast<volatile int *>(address) = 1;
  }
  const std::string exit_code = word(line, "exit", "");
  if (!exit_code.empty()) TerminateProcess(GetCurrentProcess(), UINT(atoi(exit_code.c_str())));
  const std::string rewrite = word(line, "rewrite", "");
  if (!rewrite.empty()) {
    const std::string settings =
        "{\"so_name\": \"" + rewrite + "\", \"hash\": \"" + std::string(64, 'b') + "\"}";
    if (FILE *file = _wfopen(wide(dir + "appdata.json").c_str(), L"wb")) {
      fwrite(settings.data(), 1, settings.size(), file);
      fclose(file);
    }
  }
  const std::string new_count = word(line, "count", "");
  if (!new_count.empty()) *count = atoi(new_count.c_str());
  return atoi(word(line, "return", "0").c_str());
}
