// The launch trace as a debugger reads it: quarlo.exe runs as a debuggee, and each string it
// sends to the debugger channel is copied out of its memory. Exceptions are passed on, so a
// library that crashes still ends the launcher as it would without a debugger.
#include <gtest/gtest.h>

#include <algorithm>

#include "quarlo_events.h"
#include "scenario.h"
#include "src/launch/event_log.h"

namespace {

using scenario::Broken;
using scenario::counter_record;
using scenario::Installation;
using scenario::kHashA;

constexpr unsigned long kAccessViolation = 0xC0000005;

struct Traced {
  DWORD exit_code = 0xFFFFFFFF;
  std::vector<std::string> lines;
  std::vector<harness::Dialog> dialogs;
  // The index of the first line that starts with `start`, or lines.size().
  size_t find(const std::string &start) const {
    return size_t(std::find_if(lines.begin(), lines.end(),
                               [&](const std::string &line) { return line.rfind(start, 0) == 0; }) -
                  lines.begin());
  }
  bool has(const std::string &start) const { return find(start) < lines.size(); }
};

std::string debug_string(HANDLE process, const OUTPUT_DEBUG_STRING_INFO &info) {
  const size_t unit = info.fUnicode ? 2 : 1;
  std::string bytes(size_t(info.nDebugStringLength) * unit, '\0');
  SIZE_T read = 0;
  if (!ReadProcessMemory(process, info.lpDebugStringData, bytes.data(), bytes.size(), &read))
    return "(unreadable)";
  bytes.resize(read);
  std::string text =
      info.fUnicode
          ? harness::narrow(std::wstring(reinterpret_cast<const wchar_t *>(bytes.data()), read / 2))
          : bytes;
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

// Runs `launcher` from the installation's local directory under the debug-event loop.
Traced run_traced(const Installation &install, const std::wstring &launcher) {
  Traced traced;
  std::wstring line = L"\"" + launcher + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                      DEBUG_ONLY_THIS_PROCESS | CREATE_SUSPENDED, nullptr,
                      harness::widen(install.local()).c_str(), &startup, &info))
    return traced;
  harness::DialogWatcher watcher(harness::host_path(QUARLO_DIALOG_WATCHER), info.dwProcessId);
  ResumeThread(info.hThread);
  bool initial_breakpoint = true;
  for (bool running = true; running;) {
    DEBUG_EVENT event = {};
    if (!WaitForDebugEvent(&event, 60000)) {
      TerminateProcess(info.hProcess, 0xDEAD);
      break;
    }
    DWORD status = DBG_CONTINUE;
    switch (event.dwDebugEventCode) {
      case OUTPUT_DEBUG_STRING_EVENT:
        traced.lines.push_back(debug_string(info.hProcess, event.u.DebugString));
        break;
      case EXCEPTION_DEBUG_EVENT:
        // The loader's breakpoint for the debugger is ours; every other exception is the
        // process's own to handle, or to die of.
        if (initial_breakpoint &&
            event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT)
          initial_breakpoint = false;
        else
          status = DBG_EXCEPTION_NOT_HANDLED;
        break;
      case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
        break;
      case EXIT_PROCESS_DEBUG_EVENT:
        traced.exit_code = event.u.ExitProcess.dwExitCode;
        running = false;
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
  }
  WaitForSingleObject(info.hProcess, 60000);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  traced.dialogs = watcher.stop();
  return traced;
}

TEST(Trace, ACrashLoopShowsEachRecordAndWhyTheRecoveryRuns) {
  Broken install({"crash", "return=0"});
  harness::write_file(install.data + "\\cc0.txt", counter_record(kHashA, 2));
  harness::write_file(install.data + "\\cc1.txt", counter_record(scenario::kHashB, 5));

  const Traced crash = run_traced(install, scenario::testkeys_path());
  EXPECT_EQ(crash.exit_code, kAccessViolation) << "the crash reaches the launcher";
  EXPECT_TRUE(crash.has("quarlo: data directory " + install.data +
                        "\\: no usable appdata.json "
                        "in the starting directory; setup.json useProgramData false or absent"));
  EXPECT_TRUE(crash.has("quarlo: cc0.txt: count 2 of this build, below 3"));
  EXPECT_TRUE(crash.has("quarlo: cc1.txt: not a record of this build: deleted"));
  EXPECT_TRUE(crash.has("quarlo: cc2.txt: absent"));
  EXPECT_FALSE(crash.has("quarlo: recovery"));

  const Traced recovered = run_traced(install, scenario::testkeys_path());
  EXPECT_EQ(recovered.exit_code, 9u) << "the restored build ran (its script returns 9)";
  const size_t loop = recovered.find("quarlo: cc0.txt: count 3 of this build: a crash loop");
  const size_t why = recovered.find(
      "quarlo: recovery from skel: a crash-counter record reached 3; "
      "replacing build " +
      kHashA);
  const size_t skel = recovered.find("quarlo: signature of " + install.skel +
                                     "\\app.dll: accepted (pinned key 0, 704 characters)");
  const size_t done = recovered.find("quarlo: recovery: restored");
  EXPECT_LT(loop, why);
  EXPECT_LT(why, skel);
  EXPECT_LT(skel, done);
  EXPECT_LT(done, recovered.lines.size());
  EXPECT_TRUE(recovered.has("quarlo: library " + install.data + "\\\\app.dll: sha256 " +
                            scenario::sha256_of_file(QUARLO_TEST_APP_SHA256 ".rsa4096") +
                            "; signature not checked, the launcher carries no signature"));
  ASSERT_FALSE(recovered.lines.empty());
  EXPECT_EQ(recovered.lines.back(), "quarlo: exit code 9");
}

TEST(Trace, ARefusalShowsItsCause) {
  {
    SCOPED_TRACE("an unsigned skel");
    Broken install({"return=0"});
    install.install_skel(install.skel, scenario::test_app_path());
    DeleteFileW(harness::widen(install.data + "\\appdata.json").c_str());
    const Traced traced = run_traced(install, scenario::testkeys_path());
    EXPECT_EQ(traced.exit_code, 0u);
    EXPECT_EQ(traced.dialogs.size(), 1u);
    const size_t why = traced.find("quarlo: recovery from skel: the settings are missing");
    const size_t verdict = traced.find("quarlo: signature of " + install.skel +
                                       "\\app.dll: refused: not signed (no certificate table)");
    const size_t refusal = traced.find("quarlo: refused: \"File System Error - Skel Signature\"");
    EXPECT_LT(why, verdict);
    EXPECT_LT(verdict, refusal);
    EXPECT_LT(refusal, traced.lines.size());
  }
  {
    SCOPED_TRACE("a library that cannot be loaded");
    Installation install;
    install.write_appdata(install.local(), "broken.dll", kHashA);
    harness::write_file(install.local() + "\\broken.dll", "this is not a library");
    const Traced traced = run_traced(install, scenario::quarlo_path());
    EXPECT_EQ(traced.exit_code, 2u);
    const std::string report = "quarlo: report: ZEB_SOLoad: 'LoadLibrary' failed to find '" +
                               install.local() + "\\\\broken.dll' with error 0xC1";
    const size_t retry = traced.find(report);
    EXPECT_LT(retry, traced.find("quarlo: first failure: another pass follows"));
    EXPECT_LT(traced.find("quarlo: refused: \"Cannot load Quarlo\""), traced.lines.size());
    ASSERT_EQ(traced.dialogs.size(), 1u);
    EXPECT_NE(traced.dialogs[0].text.find("ZEB_SOLoad: 'LoadLibrary' failed"), std::string::npos)
        << "the box still shows the failure, not a trace line";
  }
}

// What Event Viewer shows for an entry: the text of quarlo.exe's own message table with the
// entry's insertion strings in their places.
TEST(EventLog, QuarloExeCarriesTheTextOfItsEntries) {
  HMODULE exe = LoadLibraryExW(scenario::quarlo_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(exe, nullptr);
  const auto render = [&](DWORD id, const EventStrings &strings) {
    std::wstring wide[EVENT_MAX_STRINGS];
    DWORD_PTR arguments[EVENT_MAX_STRINGS] = {};
    for (uint32_t i = 0; i < strings.count; ++i) {
      wide[i] = harness::widen(strings.text[i]);
      arguments[i] = DWORD_PTR(wide[i].c_str());
    }
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                       FORMAT_MESSAGE_ARGUMENT_ARRAY,
                   exe, id, 0, reinterpret_cast<wchar_t *>(&text), 0,
                   reinterpret_cast<va_list *>(arguments));
    const std::string rendered = text ? harness::narrow(text) : "(no text)";
    LocalFree(text);
    return rendered;
  };
  // The insertion strings themselves are composed by event_log.cpp, tested natively.
  EventStrings strings = {{"A", "B", "C", "D", "E"}, 5};
  EXPECT_EQ(render(QUARLO_EVENT_RECOVERY, strings),
            "Quarlo restored the installation from its pristine copy (skel), or tried to.\r\n"
            "Build replaced: A\r\nWhy: B\r\nLaunch mode: C\r\nData directory: D\r\nOutcome: E\r\n");
  strings.count = 2;
  EXPECT_EQ(render(QUARLO_EVENT_SIGNATURE_REFUSED, strings),
            "Quarlo refused a library by its signature.\r\nLibrary: A\r\nVerdict: B\r\n");
  FreeLibrary(exe);
}

}  // namespace
