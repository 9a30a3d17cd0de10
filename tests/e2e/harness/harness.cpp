#include "harness.h"

#include <shellapi.h>

#include <cstdio>

namespace harness {

bool running_under_wine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

bool token_elevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  const bool read =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != FALSE;
  CloseHandle(token);
  return read && elevation.TokenIsElevated;
}

std::wstring widen(const std::string &utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  std::wstring out(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), n);
  return out;
}

std::string narrow(const std::wstring &wide) {
  if (wide.empty()) return {};
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring host_path(const std::string &unix_path) {
  std::wstring path = L"Z:" + widen(unix_path);
  for (auto &c : path)
    if (c == L'/') c = L'\\';
  return path;
}

TempDir::TempDir(const std::string &tag) {
  wchar_t base[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, base);
  static unsigned counter = 0;
  path_ = narrow(base) + "quarlo-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(++counter);
  remove_tree(path_);
  CreateDirectoryW(widen(path_).c_str(), nullptr);
}

TempDir::~TempDir() { remove_tree(path_); }

void remove_tree(const std::string &path) {
  const std::wstring wide = widen(path);
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((wide + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::string child = path + "\\" + narrow(name);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(child);
      } else {
        SetFileAttributesW(widen(child).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(widen(child).c_str());
      }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(wide.c_str());
}

bool write_file(const std::string &path, const std::string &content) {
  FILE *file = _wfopen(widen(path).c_str(), L"wb");
  if (!file) return false;
  const bool ok = fwrite(content.data(), 1, content.size(), file) == content.size();
  return fclose(file) == 0 && ok;
}

bool read_file(const std::string &path, std::string *content) {
  FILE *file = _wfopen(widen(path).c_str(), L"rb");
  if (!file) return false;
  content->clear();
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) content->append(buffer, n);
  fclose(file);
  return true;
}

bool file_exists(const std::string &path) {
  return GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

ProcessResult run_process(const std::wstring &command_line, const std::wstring &directory,
                          DWORD timeout_ms, const std::function<void(DWORD)> &before_start) {
  ProcessResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return result;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION info = {};
  std::wstring mutable_line = command_line;
  result.started =
      CreateProcessW(nullptr, mutable_line.data(), nullptr, nullptr, TRUE,
                     before_start ? CREATE_SUSPENDED : 0, nullptr,
                     directory.empty() ? nullptr : directory.c_str(), &startup, &info) != 0;
  CloseHandle(write_end);
  if (result.started && before_start) {
    before_start(info.dwProcessId);
    ResumeThread(info.hThread);
  }
  if (!result.started) {
    CloseHandle(read_end);
    return result;
  }
  char buffer[4096];
  DWORD n;
  while (ReadFile(read_end, buffer, sizeof buffer, &n, nullptr) && n > 0)
    result.output.append(buffer, n);
  CloseHandle(read_end);
  if (WaitForSingleObject(info.hProcess, timeout_ms) != WAIT_OBJECT_0) {
    TerminateProcess(info.hProcess, 0xDEAD);
    WaitForSingleObject(info.hProcess, INFINITE);
  }
  GetExitCodeProcess(info.hProcess, &result.exit_code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return result;
}

RunningProcess::RunningProcess(const std::wstring &command_line, const std::wstring &directory) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::wstring mutable_line = command_line;
  if (CreateProcessW(nullptr, mutable_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
    CloseHandle(info.hThread);
    process_ = info.hProcess;
  }
}

RunningProcess::~RunningProcess() { wait(); }

DWORD RunningProcess::wait(DWORD timeout_ms) {
  if (!process_) return 0xDEAD;
  if (WaitForSingleObject(process_, timeout_ms) != WAIT_OBJECT_0) {
    TerminateProcess(process_, 0xDEAD);
    WaitForSingleObject(process_, INFINITE);
  }
  DWORD code = 0xDEAD;
  GetExitCodeProcess(process_, &code);
  CloseHandle(process_);
  process_ = nullptr;
  return code;
}

DialogWatcher::DialogWatcher(const std::wstring &watcher_exe, DWORD process_id) {
  wchar_t base[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, base);
  static unsigned counter = 0;
  output_ = narrow(base) + "quarlo-dialogs-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++counter) + ".txt";
  DeleteFileW(widen(output_).c_str());
  std::wstring line =
      L"\"" + watcher_exe + L"\" \"" + widen(output_) + L"\" " + std::to_wstring(process_id);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &info)) {
    CloseHandle(info.hThread);
    process_ = info.hProcess;
  }
}

DialogWatcher::~DialogWatcher() { stop(); }

std::vector<Dialog> DialogWatcher::dialogs() {
  std::vector<Dialog> found;
  std::string content;
  if (!read_file(output_, &content)) return found;
  size_t start = 0;
  for (size_t end; (end = content.find('\x1e', start)) != std::string::npos; start = end + 1) {
    const std::string record = content.substr(start, end - start);
    const size_t split = record.find('\x1f');
    found.push_back({record.substr(0, split), record.substr(split + 1)});
  }
  return found;
}

bool DialogWatcher::wait_for(size_t count, DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (dialogs().size() < count) {
    if (GetTickCount64() > deadline) return false;
    Sleep(20);
  }
  return true;
}

std::vector<Dialog> DialogWatcher::stop() {
  if (process_) {
    TerminateProcess(process_, 0);
    WaitForSingleObject(process_, INFINITE);
    CloseHandle(process_);
    process_ = nullptr;
  }
  std::vector<Dialog> found = dialogs();
  DeleteFileW(widen(output_).c_str());
  return found;
}

}  // namespace harness
