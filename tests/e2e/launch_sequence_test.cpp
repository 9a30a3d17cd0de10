// The launch sequence end to end: where the settings come from, what wx_main receives,
// relaunches, and what happens when the library cannot be loaded or entered.
#include <gtest/gtest.h>

#include "scenario.h"

namespace {

using scenario::Installation;
using scenario::kHashA;

std::string system_dir() {
  wchar_t path[MAX_PATH];
  GetSystemDirectoryW(path, MAX_PATH);
  return harness::narrow(path);
}

std::string windows_dir() {
  wchar_t path[MAX_PATH];
  GetWindowsDirectoryW(path, MAX_PATH);
  return harness::narrow(path);
}

TEST(LaunchSequence, LocalSettingsAreUsedFromTheStartingDirectory) {
  Installation install;
  install.install_app(install.local(), {"return=5"});
  install.install_app(install.user_data(), {"return=9"});
  const auto launch = install.run();
  EXPECT_EQ(launch.exit_code, 5u);
  const auto log = install.log(install.local());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].at("dir"), install.local() + "\\");
  EXPECT_TRUE(install.log(install.user_data()).empty());
  EXPECT_TRUE(launch.dialogs.empty());
}

TEST(LaunchSequence, SetupJsonChoosesTheDataDirectory) {
  struct Case {
    const char *setup;  // null: no setup.json at all
    bool program_data;
  };
  const Case cases[] = {
      {"{\"useProgramData\": true}", true},
      {"{\"useProgramData\": false}", false},
      {nullptr, false},
      {"{\"other\": true}", false},
      {"{\"useProgramData\": 1}", false},
      {"{\"useProgramData\": tru", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.setup ? c.setup : "(no setup.json)");
    Installation install;
    if (c.setup) install.write_setup(c.setup);
    install.install_app(install.program_data(), {"return=31"});
    install.install_app(install.user_data(), {"return=32"});
    const auto launch = install.run();
    EXPECT_EQ(launch.exit_code, c.program_data ? 31u : 32u);
    const std::string dir = c.program_data ? install.program_data() : install.user_data();
    const auto log = install.log(dir);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].at("dir"), dir + "\\");
  }
}

// Sets APPDATA for the launchers this test starts, and restores it afterwards.
class AppdataVariable {
 public:
  AppdataVariable() {
    wchar_t value[1024] = {};
    had_ = GetEnvironmentVariableW(L"APPDATA", value, 1024) > 0;
    old_ = value;
  }
  ~AppdataVariable() { SetEnvironmentVariableW(L"APPDATA", had_ ? old_.c_str() : nullptr); }
  void set(const std::string &value) {
    SetEnvironmentVariableW(L"APPDATA", harness::widen(value).c_str());
  }
  void unset() { SetEnvironmentVariableW(L"APPDATA", nullptr); }

 private:
  bool had_;
  std::wstring old_;
};

TEST(LaunchSequence, PerUserDirectoryFollowsTheAppdataVariable) {
  Installation install;
  AppdataVariable appdata;
  const std::string roaming = install.local() +
                              "\\R\xC3\xB6"
                              "aming";
  appdata.set(roaming);
  install.install_app(roaming + "\\Quarlo", {"return=13"});
  const std::string start = install.local() + "\\start";
  CreateDirectoryW(harness::widen(start).c_str(), nullptr);
  EXPECT_EQ(install.run("", start).exit_code, 13u);
  ASSERT_EQ(install.log(roaming + "\\Quarlo").size(), 1u);
  EXPECT_EQ(install.log(roaming + "\\Quarlo")[0].at("dir"), roaming + "\\Quarlo\\");

  // Without the variable, "." stands in: Quarlo below the starting directory.
  appdata.unset();
  install.install_app(start + "\\Quarlo", {"return=14"});
  EXPECT_EQ(install.run("", start).exit_code, 14u);
  ASSERT_EQ(install.log(start + "\\Quarlo").size(), 1u);
  EXPECT_EQ(install.log(start + "\\Quarlo")[0].at("dir"), start + "\\Quarlo\\");
}

TEST(LaunchSequence, LibraryReceivesItsSha256AndAHardenedProcess) {
  Installation install;
  install.install_app(install.user_data(), {"return=0"});
  EXPECT_EQ(install.run().exit_code, 0u);
  const auto log = install.log(install.user_data());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].at("hash"), scenario::sha256_of_file(QUARLO_TEST_APP_SHA256));
  EXPECT_EQ(log[0].at("path"), system_dir() + ";" + windows_dir());
  EXPECT_EQ(log[0].at("cwd"), system_dir());
}

TEST(LaunchSequence, ReturningOneRelaunchesWithFreshSettings) {
  Installation install;
  install.install_app(install.user_data(), {"return=1", "return=1", "return=42"});
  EXPECT_EQ(install.run().exit_code, 42u);
  EXPECT_EQ(install.log(install.user_data()).size(), 3u);

  // A library that rewrites appdata.json before asking for a relaunch is followed by the
  // library the file then names.
  Installation second;
  second.install_app(second.user_data(), {"rewrite=second.dll return=1", "return=3"});
  CopyFileW(harness::widen(scenario::test_app_path()).c_str(),
            harness::widen(second.user_data() + "\\second.dll").c_str(), FALSE);
  EXPECT_EQ(second.run().exit_code, 3u);
  const auto log = second.log(second.user_data());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[0].at("module").find("\\app.dll"), std::string::npos);
  EXPECT_NE(log[1].at("module").find("\\second.dll"), std::string::npos);
}

std::string numbered_arguments(int n) {
  std::string text;
  for (int i = 1; i <= n; ++i) {
    if (i > 1) text += ' ';
    text += 'a';
    text += std::to_string(i);
  }
  return text;
}

TEST(LaunchSequence, ArgumentListHoldsAtMost128Entries) {
  struct Case {
    int arguments;  // besides the program name
    bool marker;
  };
  for (const Case c : {Case{0, true}, Case{126, true}, Case{127, false}, Case{200, false}}) {
    SCOPED_TRACE(c.arguments);
    Installation install;
    install.install_app(install.user_data(), {"return=0"});
    ASSERT_EQ(install.run(numbered_arguments(c.arguments)).exit_code, 0u);
    const auto log = install.log(install.user_data());
    ASSERT_EQ(log.size(), 1u);
    const auto entries = scenario::split(log[0].at("list"), '\x1f');
    ASSERT_EQ(entries.size(), 128u);
    const int expected_count = std::min(c.arguments + 1 + (c.marker ? 1 : 0), 128);
    EXPECT_EQ(log[0].at("count"), std::to_string(expected_count));
    EXPECT_NE(entries[0].find("quarlo.exe"), std::string::npos);
    for (int i = 1; i <= std::min(c.arguments, 127); ++i)
      EXPECT_EQ(entries[i], std::string("a").append(std::to_string(i)));
    if (c.marker) {
      EXPECT_EQ(entries[c.arguments + 1], "LOADER_V15");
    }
    for (int i = expected_count; i < 128; ++i) EXPECT_EQ(entries[i], "(null)") << i;
    EXPECT_EQ(log[0].at("list").find("LOADER_V15") != std::string::npos, c.marker);
  }
}

TEST(LaunchSequence, ALibraryThatCannotBeLoadedTwiceIsReported) {
  Installation install;
  install.write_appdata(install.local(), "broken.dll", kHashA);
  harness::write_file(install.local() + "\\broken.dll", "this is not a library");
  const auto launch = install.run();
  EXPECT_EQ(launch.exit_code, 2u);
  const std::string message = "ZEB_SOLoad: 'LoadLibrary' failed to find '" + install.local() +
                              "\\\\broken.dll' with error 0xC1";
  EXPECT_EQ(launch.output, message + "\r\n");
  ASSERT_EQ(launch.dialogs.size(), 1u);
  EXPECT_EQ(launch.dialogs[0].title, "Cannot load Quarlo");
  EXPECT_EQ(launch.dialogs[0].text,
            "Error:\n" + message +
                "\n\nThis version of Quarlo appears to be incompatible with your machine.\n"
                "Please contact support.");
}

TEST(LaunchSequence, ALibraryWithoutWxMainEndsWithTwo) {
  Installation install;
  install.write_appdata(install.local(), "no_entry.dll", kHashA);
  CopyFileW(harness::host_path(QUARLO_NO_ENTRY_APP).c_str(),
            harness::widen(install.local() + "\\no_entry.dll").c_str(), FALSE);
  const auto launch = install.run();
  EXPECT_EQ(launch.exit_code, 2u);
  EXPECT_TRUE(launch.dialogs.empty());
  EXPECT_EQ(launch.output, "");
}

TEST(LaunchSequence, AnUnreadableLibraryEndsWithTwoSilently) {
  Installation install;
  install.write_appdata(install.local(), "absent.dll", kHashA);
  const auto launch = install.run();
  EXPECT_EQ(launch.exit_code, 2u);
  EXPECT_TRUE(launch.dialogs.empty());
}

}  // namespace
