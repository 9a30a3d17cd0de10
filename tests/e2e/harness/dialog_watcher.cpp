// Dialog watcher: finds the message boxes (class "#32770") of one process, appends each one's
// title and text to a file, then presses OK. Boxes of other processes are left alone, so
// watchers of tests that run side by side do not take each other's boxes.
// Usage: dialog_watcher.exe OUTPUT_FILE PROCESS_ID
// Records are UTF-8: title, 0x1F, text, 0x1E. A record is flushed before the box is
// dismissed, so once the process that showed it has returned, its record is on disk.
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

std::string utf8(const std::wstring &text) {
  if (text.empty()) return {};
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring window_text(HWND window) {
  wchar_t buffer[4096] = {};
  GetWindowTextW(window, buffer, 4096);
  return buffer;
}

std::wstring static_text(HWND dialog) {
  wchar_t buffer[8192] = {};
  GetDlgItemTextW(dialog, 0xFFFF, buffer, 8192);
  return buffer;
}

struct State {
  FILE *out;
  DWORD process_id;
  std::set<HWND> handled;
};

BOOL CALLBACK visit(HWND window, LPARAM param) {
  auto *state = reinterpret_cast<State *>(param);
  wchar_t class_name[64] = {};
  GetClassNameW(window, class_name, 64);
  if (wcscmp(class_name, L"#32770") != 0 || state->handled.count(window)) return TRUE;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != state->process_id) return TRUE;
  // A box is found while it is still being built; its title and text are set by the time it
  // becomes visible.
  if (!IsWindowVisible(window)) return TRUE;
  const std::string record =
      utf8(window_text(window)) + '\x1f' + utf8(static_text(window)) + '\x1e';
  fwrite(record.data(), 1, record.size(), state->out);
  fflush(state->out);
  state->handled.insert(window);
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: dialog_watcher OUTPUT_FILE PROCESS_ID\n");
    return 2;
  }
  State state{_wfopen(argv[1], L"ab"), DWORD(wcstoul(argv[2], nullptr, 10)), {}};
  if (!state.out) return 3;
  // The harness ends this process once the program under test has exited.
  for (;;) {
    EnumWindows(visit, reinterpret_cast<LPARAM>(&state));
    Sleep(20);
  }
}
