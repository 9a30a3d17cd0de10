#pragma once
// Shared helpers of the Windows tests: Wine paths, temporary directories, child processes
// and the dialog watcher.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace harness {

// True under Wine, where a few platform behaviours differ from Windows.
bool running_under_wine();
// True when this process's token is elevated; the launchers it starts inherit it.
bool token_elevated();

std::wstring widen(const std::string &utf8);
std::string narrow(const std::wstring &wide);

// A Linux path of the build tree as Wine sees it (the Z: drive maps the root).
std::wstring host_path(const std::string &unix_path);

// A fresh, empty directory under the Wine prefix's temporary directory; removed recursively
// by the destructor.
class TempDir {
 public:
  explicit TempDir(const std::string &tag);
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }  // UTF-8, no trailing backslash
  std::string file(const std::string &name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

bool write_file(const std::string &path, const std::string &content);
bool read_file(const std::string &path, std::string *content);
bool file_exists(const std::string &path);
void remove_tree(const std::string &path);

struct ProcessResult {
  bool started = false;
  DWORD exit_code = 0;
  std::string output;  // standard output
};

// Runs a program to completion (with a timeout) and captures its standard output.
// `before_start`, when given, is called with the new process's id before it runs.
ProcessResult run_process(const std::wstring &command_line, const std::wstring &directory = L"",
                          DWORD timeout_ms = 60000,
                          const std::function<void(DWORD)> &before_start = {});

// A process started without waiting; its standard output is not captured.
class RunningProcess {
 public:
  RunningProcess(const std::wstring &command_line, const std::wstring &directory);
  ~RunningProcess();
  RunningProcess(const RunningProcess &) = delete;
  RunningProcess &operator=(const RunningProcess &) = delete;
  bool started() const { return process_ != nullptr; }
  DWORD wait(DWORD timeout_ms = 60000);  // the exit code, or 0xDEAD after a forced end
  bool exited() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }

 private:
  HANDLE process_ = nullptr;
};

struct Dialog {
  std::string title;
  std::string text;
};

// Starts dialog_watcher.exe for the boxes of process `process_id`; stop() ends it and returns
// the dialogs it dismissed.
class DialogWatcher {
 public:
  DialogWatcher(const std::wstring &watcher_exe, DWORD process_id);
  ~DialogWatcher();
  DialogWatcher(const DialogWatcher &) = delete;
  DialogWatcher &operator=(const DialogWatcher &) = delete;
  bool running() const { return process_ != nullptr; }
  // Waits until at least `count` dialogs were recorded (or the timeout passes).
  bool wait_for(size_t count, DWORD timeout_ms = 20000);
  std::vector<Dialog> dialogs();
  std::vector<Dialog> stop();

 private:
  HANDLE process_ = nullptr;
  std::string output_;
};

}  // namespace harness
